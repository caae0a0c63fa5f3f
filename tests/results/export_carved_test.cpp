// The carved-file export: chunked copies under the read-error policies, the
// device's end, stop requests, and the read accounting it feeds.
#include <gtest/gtest.h>

#include <fstream>

#include "app/reports.h"
#include "app/run_state.h"
#include "results/carved_export.h"
#include "results/export_command.h"
#include "storage/fault_map.h"
#include "tests/app/report_tap.h"
#include "tests/fs/fat_fixture_support.h"
#include "tests/support/fixture.h"
#include "tests/support/recording_ui.h"

namespace kestrel {
namespace {

constexpr uint64_t kImageBytes = 10u << 20;  // 20480 sectors
constexpr uint64_t kChunk = 4u << 20;

uint8_t PatternByte(uint64_t offset) { return uint8_t((offset * 7 + (offset >> 9)) & 0xFF); }

std::string PatternImage() {
    const std::string path = test::TempDir("carved") + "/device.img";
    std::vector<uint8_t> bytes(kImageBytes);
    for (uint64_t i = 0; i < bytes.size(); ++i) bytes[i] = PatternByte(i);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

struct Carved {
    bool ok = false;
    std::vector<uint8_t> bytes;
    uint64_t progressDone = 0;
};

Carved ExportCarved(const std::string& image, uint64_t lba, uint64_t size, ReadErrorPolicy policy,
                    const FaultMap* faults = nullptr, int32_t state = kScanRunning) {
    static int counter = 0;
    const std::string out = test::TempDir("carved_out") + "/f" + std::to_string(counter++);
    PartInfo part;
    part.fsKind = kFsFoundFiles;
    part.devicePath = Utf16FromUtf8(image);
    FileNode node = MakeNode();
    node.locationLba = lba;
    node.size = size;
    Carved c;
    {
        SectorSource src;
        EXPECT_TRUE(OpenSourceFromPart(part, src));
        src.faults = faults;
        OutputFile file;
        EXPECT_TRUE(file.Create(out));
        ScanState stop{state};
        ProgressSnapshot progress;
        progress.exp = {};
        c.ok = ExportCarvedFileFrom(src, file, stop, node, progress, policy);
        c.progressDone = progress.exp.doneBytes;
        EXPECT_EQ(progress.exp.fileDone, progress.exp.doneBytes);
        CloseSource(src);
    }
    c.bytes = test::ReadFileBytes(out);
    return c;
}

TEST(CarvedExport, ReadErrorPoliciesOnAFailingSecondChunk) {
    const std::string image = PatternImage();
    const uint64_t lba = 8, size = kChunk + 1000;
    FaultMap faults;
    faults.ranges = {{lba * 512 + kChunk + 100, lba * 512 + kChunk + 110}};

    const Carved clean = ExportCarved(image, lba, size, kClearFile);
    ASSERT_TRUE(clean.ok);
    ASSERT_EQ(clean.bytes.size(), size);
    for (uint64_t i = 0; i < size; ++i) ASSERT_EQ(clean.bytes[i], PatternByte(lba * 512 + i)) << i;
    EXPECT_EQ(clean.progressDone, size);

    const struct {
        ReadErrorPolicy policy;
        bool ok;
        uint64_t size;
    } cases[] = {{kClearFile, false, 0}, {kKeepPartial, false, kChunk}, {kRecoverAll, true, size}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.policy));
        const Carved e = ExportCarved(image, lba, size, c.policy, &faults);
        EXPECT_EQ(e.ok, c.ok);
        ASSERT_EQ(e.bytes.size(), c.size);
        for (uint64_t i = 0; i < e.bytes.size(); ++i)
            ASSERT_EQ(e.bytes[i], i < kChunk ? clean.bytes[i] : 0) << i;
    }
}

TEST(CarvedExport, EndsAtTheDeviceEndAndStopsOnRequest) {
    const std::string image = PatternImage();
    const uint64_t lastSector = kImageBytes / 512 - 1;
    const uint64_t tail = 480 * 512;
    const struct {
        uint64_t lba;
        ReadErrorPolicy policy;
        bool ok;
        uint64_t size;
    } cases[] = {
        {lastSector + 1 - 480, kKeepPartial, false, tail},
        {lastSector + 1 - 480, kRecoverAll, true, tail},
        {lastSector + 1 - 480, kClearFile, false, 0},
        {lastSector + 100, kKeepPartial, false, 0},
        {lastSector + 100, kRecoverAll, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.lba) + " " + std::to_string(int(c.policy)));
        // A hostile size far beyond the device writes nothing past its end.
        const Carved e = ExportCarved(image, c.lba, uint64_t(1) << 40, c.policy);
        EXPECT_EQ(e.ok, c.ok);
        EXPECT_EQ(e.bytes.size(), c.size);
    }
    const Carved stopped = ExportCarved(image, 8, 5000, kKeepPartial, nullptr, kScanStopRequested);
    EXPECT_FALSE(stopped.ok);
    EXPECT_TRUE(stopped.bytes.empty());
}

TEST(CarvedExport, FailedReadsAreCountedAndReportedAfterTheExport) {
    const std::string image = PatternImage();
    FaultMap faults;
    faults.ranges = {{8 * 512, 8 * 512 + 1}};
    test::ReportRecorder reports;
    test::RecordingUi ui;
    kestrel::Run().ReadStatMode = kReadStatExport;
    kestrel::Run().ReadCallCount = 0;
    kestrel::Run().ReadFailCount = 0;
    EXPECT_FALSE(ReportExportReadErrors(true));  // nothing failed yet: no message
    ExportCarved(image, 8, kChunk * 2, kRecoverAll, &faults);
    const uint32_t failed = kestrel::Run().ReadFailCount, counted = kestrel::Run().ReadCallCount;
    kestrel::Run().ReadStatMode = kReadStatOff;
    EXPECT_EQ(failed, 1u);
    EXPECT_EQ(counted, 2u);
    EXPECT_TRUE(ReportExportReadErrors(true));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], ReadErrorSummaryText(1, true));
    ASSERT_EQ(test::ReportRecorder::Count(kEvExportReadErrors), 1u);
    EXPECT_EQ(test::ReportRecorder::Events().back().second, u"Disk scan error: 1 / 2");
}

}  // namespace
}  // namespace kestrel
