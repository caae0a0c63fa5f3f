// End-to-end deep scans of small images: what the catalogue holds, the read
// order as the processor saw it, pause, stop and read errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "app/observer.h"
#include "app/reports.h"
#include "app/run_state.h"
#include "fs/fat_cluster_resolution.h"
#include "scan/scan_session.h"
#include "scan/scan_start.h"
#include "storage/fault_map.h"
#include "tests/scan/scan_test_util.h"

namespace kestrel {
namespace {

using namespace kestrel::test;

std::multimap<uint64_t, uint8_t> ItemsByLba(const ScanSession& s) {
    std::multimap<uint64_t, uint8_t> out;
    for (const FoundItem& it : s.catalogue.Collect(false, false, 0, 0))
        out.emplace(it.lba, it.type);
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

// The reader has claimed its first block and sits in the pause loop.
bool WaitUntilPaused(const ScanSession& s) {
    for (int i = 0; i < 2000 && !s.timing.paused.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return s.timing.paused.load();
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
    EXPECT_TRUE(FatCompleteDeepScanAvailable());
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
    EXPECT_GE(CountType(s, kCodeFatDir), 4u);  // photos, photos/2019, docs, backup
    // Only the FAT32 label entry is as Windows writes it (no creation date).
    EXPECT_EQ(CountType(s, kCodeFatRootDir), 1u);
    EXPECT_EQ(CountType(s, kCodeExfatRootDir), 1u);
    EXPECT_GE(CountType(s, kCodeExfatDir), 2u);  // music, music/live
    EXPECT_GE(CountType(s, kCodeFileRecord), 16u + 40u);
    EXPECT_GE(CountType(s, kCodeIndexBlock), 1u);

    // sample.jpg was copied to three volumes and the ZIP to two; files are
    // carved where they begin on a sector boundary.
    EXPECT_GE(CountType(s, 46), 3u);
    EXPECT_GE(CountType(s, 61), 2u);
    EXPECT_EQ(s.progress.scan.signatureFiles, s.catalogue.Collect(false, false, 0, 0).size() -
                                                  s.catalogue.Collect(true, false, 0, 0).size());

    // Every catalogue item lies in the list of its own block, in LBA order.
    for (uint64_t b = 0; b < s.catalogue.BlockCount(); ++b) {
        const auto* list = s.catalogue.BlockItems(b);
        if (!list) continue;
        for (size_t i = 0; i < list->size(); ++i) {
            EXPECT_EQ((*list)[i].lba >> 14, b);
            if (i > 0) {
                EXPECT_LT((*list)[i - 1].lba, (*list)[i].lba);
            }
        }
    }
    // The counters agree with the catalogue.
    EXPECT_EQ(s.progress.scan.structures[1], CountType(s, kCodeNtfsBoot));
    EXPECT_EQ(s.progress.scan.structures[4], CountType(s, kCodeFileRecord));
    EXPECT_EQ(s.progress.scan.structures[5], CountType(s, kCodeFatDir));
}

TEST(ScanPipeline, PartitionStartingAndEndingInsideBlocks) {
    // The exFAT volume starts inside block 5 and ends inside block 6: the
    // sectors of block 5 below its start are examined too (the NTFS backup
    // boot sector just before it), nothing past its end is read (the EBR
    // right after it stays unseen).
    RecordingUi ui;
    ScanSession s;
    SetUpSession(s, ImageRecord(ScanDiskPath(), kExfatStart, kExfatSize, kDiskSectors), 2);
    ScanState state{kScanRunning};
    RunDeepScan(s, state);
    EXPECT_EQ(s.processedBlocks, (std::vector<uint64_t>{5 * 0x4000, 6 * 0x4000}));
    EXPECT_EQ(s.progress.scan.totalSectors, kExfatSize);
    const auto items = ItemsByLba(s);
    EXPECT_TRUE(HasItem(items, kNtfsStart + kNtfsSize - 1, kCodeNtfsBoot));
    EXPECT_TRUE(HasItem(items, kExfatStart, kCodeExfatBoot));
    EXPECT_EQ(items.lower_bound(kExfatStart + kExfatSize), items.end());
    // The block holding the volume's end was read short and is not counted.
    EXPECT_EQ(s.readCalls, 1u);
}

struct Observed : IObserver {
    std::vector<uint32_t> codes;
    void OnMessage(uint32_t code, uint64_t, int64_t) override { codes.push_back(code); }
};
int gPostScanCalls = 0;
bool CountPostScan(ScanSession&, ScanState& state) {
    ++gPostScanCalls;
    EXPECT_EQ(state.load(), kScanRunning);
    return true;
}

TEST(ScanPipeline, FinishedScanRunsPostProcessingBetweenItsNotifications) {
    RecordingUi ui;
    Observed window;
    ScanSession s;
    SetUpSession(s, ImageRecord(ScanDiskPath(), kExfatStart, kExfatSize, kDiskSectors), 2);
    s.mainWindow = &window;
    s.hooks.postScan = &CountPostScan;
    s.hooks.saveScanData = [](ScanSession&) { return true; };
    gPostScanCalls = 0;
    ScanState state{kScanRunning};
    RunDeepScan(s, state);
    EXPECT_EQ(gPostScanCalls, 1);
    EXPECT_EQ(window.codes, (std::vector<uint32_t>{kMsgPostScanBegin, kMsgPostScanEnd}));
    EXPECT_EQ(state.load(), kScanFinished);
    EXPECT_TRUE(ui.questions.empty());  // under 120 s: no save offer
    EXPECT_TRUE(s.schedule.map.Empty());
}

TEST(ScanPipeline, PauseHoldsTheReaderAndStopEndsWithoutPostProcessing) {
    RecordingUi ui;
    Observed window;
    ScanSession s;
    SetUpSession(s, ImageRecord(ScanDiskPath(), 0, kDiskSectors, kDiskSectors), 3);
    s.mainWindow = &window;
    s.hooks.postScan = &CountPostScan;
    gPostScanCalls = 0;
    ScanState state{kScanPaused};
    ScanJob job{&s, &state};
    StartDeepScan(job);
    ASSERT_TRUE(WaitUntilPaused(s));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(kestrel::Run().ReadCallCount.load(), 0u);  // one block claimed, none read
    state = kScanStopRequested;
    while (!s.processorFinished.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(s.readerFinished.load());
    EXPECT_EQ(state.load(), kScanStopRequested);
    EXPECT_FALSE(s.scanCompleted.load());
    EXPECT_FALSE(FatCompleteDeepScanAvailable());
    EXPECT_TRUE(s.processedBlocks.empty());
    EXPECT_EQ(gPostScanCalls, 0);
    EXPECT_TRUE(window.codes.empty());
}

TEST(ScanPipeline, PausedThenResumedScanReadsEverythingOnce) {
    RecordingUi ui;
    ScanSession s;
    SetUpSession(s, ImageRecord(ScanDiskPath(), 0, kDiskSectors, kDiskSectors), 3);
    ScanState state{kScanPaused};
    ScanJob job{&s, &state};
    StartDeepScan(job);
    ASSERT_TRUE(WaitUntilPaused(s));
    state = kScanRunning;
    while (!s.processorFinished.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(state.load(), kScanFinished);
    std::vector<uint64_t> blocks = s.processedBlocks;
    std::sort(blocks.begin(), blocks.end());
    EXPECT_EQ(std::unique(blocks.begin(), blocks.end()), blocks.end());
    EXPECT_EQ(blocks.size(), 8u);
    EXPECT_FALSE(s.timing.paused.load());
}

WString gReport;
void TapReport(uint32_t event, const WString& text) {
    if (event == kEvScanReadErrors) gReport = text;
}

TEST(ScanPipeline, ReadErrorsAreCountedProcessedAsZerosAndReported) {
    // 12 blocks; the first 11 fail on every attempt. Block 11 carries the
    // only structure, a FAT32 boot sector copied from the fixture.
    const std::vector<uint8_t> disk = ReadWholeFile(ScanDiskPath());
    std::vector<uint8_t> boot(disk.begin() + kFat32Start * 512,
                              disk.begin() + kFat32Start * 512 + 512);
    const uint64_t sectors = 12 * 0x4000;
    const std::string path = WriteImage("faulty.img", sectors, {{11 * 0x4000 + 9, boot}});
    FaultMap faults;
    faults.ranges.push_back({0, 11ull * 0x800000});

    RecordingUi ui;
    SetReportTap(&TapReport);
    gReport.clear();
    ScanSession s;
    PartInfo part = ImageRecord(path, 0, sectors, sectors);
    part.isRemovable = 1;
    SetUpSession(s, part, 3);
    s.faults = &faults;
    ScanState state{kScanRunning};
    RunDeepScan(s, state);
    SetReportTap(nullptr);

    EXPECT_EQ(state.load(), kScanFinished);
    EXPECT_EQ(s.readCalls, 12u);
    EXPECT_EQ(s.readFailures, 11u);
    EXPECT_EQ(s.processedBlocks.size(), 12u);
    EXPECT_EQ(s.catalogue.Collect(false, false, 0, 0).size(), 1u);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].find(u"发生了11次读磁盘错误，至少88(MB)数据读失败"), 6u);
    EXPECT_NE(ui.messages[0].find(u"\n可能是电脑、读卡器"), WString::npos);
    EXPECT_EQ(gReport, u"Disk scan error: 11 / 12");
}

TEST(ScanPipeline, FrontEndStartKeepsOneScanAtATime) {
    RecordingUi ui;
    const PartInfo part = ImageRecord(ScanDiskPath(), kFat16Start, kFat16Size, kDiskSectors);
    kestrel::Run().RecoverMode = kModePartitionFiles;
    ScanOptions o = OptionsForScan(part, kModePartitionFiles, false);
    ScanState state{kScanPaused};
    ASSERT_TRUE(StartScanOfRecord(part, o, state));
    EXPECT_FALSE(StartScanOfRecord(part, o, state));  // still running (paused)
    EXPECT_EQ(kestrel::Run().CurPartInfo.startLba, kFat16Start);
    state = kScanRunning;
    while (ScanThreadsRunning()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(state.load(), kScanFinished);
    const auto items = ItemsByLba(CurrentScan());
    EXPECT_TRUE(HasItem(items, kFat16Start, kCodeFat16Boot));
}

TEST(ScanPipeline, UnopenableDeviceEndsTheScanStopped) {
    RecordingUi ui;
    ScanSession s;
    SetUpSession(s, ImageRecord("/nonexistent/disk.img", 0, 0x8000, 0x8000), 3);
    ScanState state{kScanRunning};
    RunDeepScan(s, state);
    EXPECT_TRUE(s.openFailed.load());
    EXPECT_EQ(state.load(), kScanStopRequested);
    EXPECT_TRUE(s.processedBlocks.empty());
}

}  // namespace
}  // namespace kestrel
