// A whole deep scan over hostile data: random blocks seeded with the first
// sectors of real files and real file-system structures, each damaged a
// little. The scan must end, with every sniff, analyzer and classifier call
// inside its buffers (the sanitizer build checks that).
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "scan/scan_session.h"
#include "tests/scan/scan_test_util.h"

namespace kestrel {
namespace {

using namespace kestrel::test;

TEST(HostileScan, RandomBlocksSeededWithRealHeadsEndCleanly) {
    // The first sectors of real files, and real structures of the scan disk.
    std::vector<std::vector<uint8_t>> heads;
    for (const char* name : {"jpg", "mp4", "avi", "mkv", "flv", "wmv", "rm", "mpg", "zip", "docx",
                             "doc", "xls", "mp3", "wav", "bmp", "tif"}) {
        std::vector<uint8_t> file =
            ReadWholeFile(FixturePath(std::string("carving/sample.") + name + ".gz"));
        if (file.size() > 4096) file.resize(4096);
        if (!file.empty()) heads.push_back(file);
    }
    const std::vector<uint8_t> disk = ReadWholeFile(ScanDiskPath());
    ASSERT_GE(disk.size(), kDiskSectors * 512);
    for (uint64_t lba : {uint64_t(0), kFat32Start, kNtfsStart, kExfatStart, kFat16Start})
        heads.emplace_back(disk.begin() + long(lba * 512), disk.begin() + long(lba * 512 + 4096));
    const ByteView ntfsBoot(disk.data() + kNtfsStart * 512, 512);
    const uint64_t mft = kNtfsStart + ntfsBoot.U64(0x30) * ntfsBoot.U8(13);
    for (uint64_t r = 0; r < 24; r += 2)
        heads.emplace_back(disk.begin() + long((mft + r) * 512),
                           disk.begin() + long((mft + r) * 512 + 2048));
    ASSERT_GT(heads.size(), 20u);

    constexpr uint64_t kSectors = 3 * 0x4000;  // three blocks
    std::vector<uint8_t> image(kSectors * 512);
    for (uint64_t round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        uint64_t seed = 0x9E3779B97F4A7C15ull + round;
        auto next = [&] { return seed = seed * 6364136223846793005ull + 1442695040888963407ull; };
        for (size_t i = 0; i < image.size(); i += 8) {
            const uint64_t v = next();
            std::memcpy(image.data() + i, &v, 8);
        }
        for (uint64_t lba = 0; lba + 8 < kSectors; lba += 1 + next() % 40) {
            const std::vector<uint8_t>& h = heads[next() % heads.size()];
            std::memcpy(image.data() + lba * 512, h.data(), h.size());
            for (int k = 0, n = int(next() % 6); k < n; ++k)
                image[lba * 512 + (next() >> 8) % h.size()] = uint8_t(next() >> 24);
        }
        const std::string path = TempDir("hostile-scan") + "/random.img";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));

        RecordingUi ui;
        ScanSession s;
        s.scanned = ImageRecord(path, 0, kSectors, kSectors);
        s.recoverMode = 3;
        s.options = ScanOptions{};
        s.options.scanStart = 0;
        s.options.scanSize = kSectors;
        s.pollMs = 2;
        s.pauseMs = 5;
        ScanState state{kScanRunning};
        RunDeepScan(s, state);
        EXPECT_EQ(state.load(), kScanFinished);
        const std::vector<FoundItem> items = s.catalogue.Collect(false, false, 0, 0);
        EXPECT_GT(items.size(), 100u);
        for (const FoundItem& it : items) EXPECT_LT(it.lba, kSectors);
    }
}

}  // namespace
}  // namespace kestrel
