// End-to-end deep scans of small images: what the catalogue holds, the read
// order as the processor saw it, pause, stop and read errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "app/run_state.h"
#include "scan/scan_session.h"
#include "storage/fault_map.h"
#include "tests/scan/scan_test_util.h"

namespace kestrel {
namespace {

using namespace kestrel::test;

std::multimap<uint64_t, uint8_t> ItemsByLba(const ScanSession& s) {
    std::multimap<uint64_t, uint8_t> out;
    for (const FoundItem& it : s.catalogue.Collect(false, false, 0, 0)) out.emplace(it.lba, it.type);
    return out;
}

bool HasItem(const std::multimap<uint64_t, uint8_t>& items, uint64_t lba, uint8_t type) {
    auto [a, b] = items.equal_range(lba);
    for (auto it = a; it != b; ++it)
        if (it->second == type) return true;
    return false;
}

size_t CountType(const ScanSession& s, uint8_t type) {
    size_t n = 0;
    for (const FoundItem& it : s.catalogue.Collect(false, false, 0, 0)) n += it.type == type;
    return n;
}

void SetUpSession(ScanSession& s, const PartInfo& part, int32_t mode) {
    s.scanned = part;
    s.recoverMode = mode;
    s.options = ScanOptions{};
    s.options.scanStart = part.startLba;
    s.options.scanSize = part.sizeSectors;
    s.pollMs = 2;
    s.pauseMs = 5;
}

TEST(ScanPipeline, WholeDiskCatalogueHoldsEveryStructureAndTheCarvedFiles) {
    RecordingUi ui;
    ScanSession s;
    SetUpSession(s, ImageRecord(ScanDiskPath(), 0, kDiskSectors, kDiskSectors), 3);
    ScanState state{kScanRunning};
    RunDeepScan(s, state);

    EXPECT_EQ(state.load(), kScanFinished);
    EXPECT_TRUE(s.scanCompleted.load());
    EXPECT_EQ(s.processedBlocks.size(), 8u);
    EXPECT_EQ(s.progress.scan.doneSectors, kDiskSectors);
    EXPECT_EQ(s.readCalls, 8u);
    EXPECT_EQ(s.readFailures, 0u);
    EXPECT_TRUE(ui.messages.empty());

    const auto items = ItemsByLba(s);
    EXPECT_TRUE(HasItem(items, 0, kCodeMbr));
    EXPECT_TRUE(HasItem(items, kExtStart, kCodeEbr));
    EXPECT_TRUE(HasItem(items, kFat32Start, kCodeFat32Boot));
    EXPECT_TRUE(HasItem(items, kFat32Start + 6, kCodeFat32Boot));  // backup
    EXPECT_TRUE(HasItem(items, kNtfsStart, kCodeNtfsBoot));
    EXPECT_TRUE(HasItem(items, kNtfsStart + kNtfsSize - 1, kCodeNtfsBoot));  // backup
    EXPECT_TRUE(HasItem(items, kExfatStart, kCodeExfatBoot));
    EXPECT_TRUE(HasItem(items, kExfatStart + 12, kCodeExfatBoot));  // backup boot region
    EXPECT_TRUE(HasItem(items, kFat16Start, kCodeFat16Boot));

    // The directories made by the fixture script.
    EXPECT_GE(CountType(s, kCodeFatDir), 4u);       // photos, photos/2019, docs, backup
    // Only the FAT32 label entry is as Windows writes it (no creation date).
    EXPECT_EQ(CountType(s, kCodeFatRootDir), 1u);
    EXPECT_EQ(CountType(s, kCodeExfatRootDir), 1u);
    EXPECT_GE(CountType(s, kCodeExfatDir), 2u);     // music, music/live
    EXPECT_GE(CountType(s, kCodeFileRecord), 16u + 40u);
    EXPECT_GE(CountType(s, kCodeIndexBlock), 1u);

    // sample.jpg was copied to three volumes and the ZIP to two; files are
    // carved where they begin on a sector boundary.
    EXPECT_GE(CountType(s, 46), 3u);
    EXPECT_GE(CountType(s, 61), 2u);
    EXPECT_EQ(s.progress.scan.signatureFiles,
              s.catalogue.Collect(false, false, 0, 0).size() -
                  s.catalogue.Collect(true, false, 0, 0).size());

    // Every catalogue item lies in the list of its own block, in LBA order.
    for (uint64_t b = 0; b < s.catalogue.BlockCount(); ++b) {
        const auto* list = s.catalogue.BlockItems(b);
        if (!list) continue;
        for (size_t i = 0; i < list->size(); ++i) {
            EXPECT_EQ((*list)[i].lba >> 14, b);
            if (i > 0) { EXPECT_LT((*list)[i - 1].lba, (*list)[i].lba); }
        }
    }
    // The counters agree with the catalogue.
    EXPECT_EQ(s.progress.scan.structures[1], CountType(s, kCodeNtfsBoot));
    EXPECT_EQ(s.progress.scan.structures[4], CountType(s, kCodeFileRecord));
    EXPECT_EQ(s.progress.scan.structures[5], CountType(s, kCodeFatDir));
}

}  // namespace
}  // namespace kestrel
