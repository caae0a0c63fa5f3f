// Scan options: defaults, derivation for a second scan, the dialog's checks;
// and the progress texts and read-error message built from scan figures.
#include "scan/scan_options.h"

#include <gtest/gtest.h>

#include "scan/scan_timing.h"

namespace kestrel {
namespace {

PartInfo Record(uint64_t start, uint64_t size) {
    PartInfo p;
    p.startLba = start;
    p.sizeSectors = size;
    return p;
}

class ScanOptionsTest : public ::testing::Test {
protected:
    void SetUp() override { RunScanOptions() = StoredScanOptions{}; }
};

TEST_F(ScanOptionsTest, FirstScanDefaultsAndModeOneLocksShowAll) {
    ScanOptions o = OptionsForScan(Record(2048, 1000000), 2, false);
    EXPECT_EQ(o.scanStart, 2048u);
    EXPECT_EQ(o.scanSize, 1000000u);
    EXPECT_EQ(o.priorityStart, 2048u);
    EXPECT_EQ(o.prioritySize, 0u);
    EXPECT_EQ(o.clusterAlign, 0);
    EXPECT_EQ(o.showAllFiles, 1);
    EXPECT_EQ(o.analyseFat + o.analyseNtfs + o.analyseExfat + o.analyseGpt, 4);
    EXPECT_EQ(o.rereadAfterFailure + o.fixIllegalNames + o.removeDuplicates, 0);
    EXPECT_EQ(o.preciseOffice, 1);
    EXPECT_EQ(o.showWhileScanning, 1);
    EXPECT_TRUE(RunScanOptions().optionsSet);

    RunScanOptions() = StoredScanOptions{};
    o = OptionsForScan(Record(2048, 1000000), 1, false);
    EXPECT_EQ(o.clusterAlign, 1);
    EXPECT_EQ(o.showAllFiles, 2);
    EXPECT_FALSE(IsOn(o.showAllFiles));
    // OK in the dialog leaves the locked switch alone, checked or not.
    ScanDialogInput in;
    for (bool& c : in.checks) c = true;
    ScanOptions stored;
    EXPECT_TRUE(ApplyScanDialog(o, in, stored).empty());
    EXPECT_EQ(stored.showAllFiles, 2);
    EXPECT_EQ(stored.removeDuplicates, 1);
    EXPECT_EQ(RunScanOptions().runReread, 1);
}

TEST_F(ScanOptionsTest, SecondScanKeepsSwitchesAndDropsAPriorityRangeThatDoesNotFit) {
    ScanOptions o = OptionsForScan(Record(0, 1000000), 3, false);
    o.removeDuplicates = 1;
    o.priorityStart = 500000;
    o.prioritySize = 1000;
    StoreOptions(o);
    ScanOptions kept = OptionsForScan(Record(400000, 200000), 2, false);
    EXPECT_EQ(kept.removeDuplicates, 1);
    EXPECT_EQ(kept.scanStart, 400000u);
    EXPECT_EQ(kept.priorityStart, 500000u);
    EXPECT_EQ(kept.prioritySize, 1000u);
    ScanOptions dropped = OptionsForScan(Record(0, 500500), 2, false);
    EXPECT_EQ(dropped.priorityStart, 0u);
    EXPECT_EQ(dropped.prioritySize, 0u);
    // With the dialog about to open, nothing is stored yet.
    OptionsForScan(Record(7, 8), 2, true);
    EXPECT_EQ(RunScanOptions().options.scanStart, 0u);
}

TEST_F(ScanOptionsTest, PriorityFieldChecks) {
    const struct {
        const char16_t* text;
        bool valid;
        const char16_t* gb;
    } cases[] = {
        {u"0", true, u"0(GB)"},
        {u"2097152", true, u"1(GB)"},
        {u"4299999999", true, u"2050(GB)"},
        {u"4300000000", false, nullptr},
        {u"5000000000", false, nullptr},
        {u"99999999999", false, nullptr},
        {u"999", true, u"0(GB)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsValidPriorityText(c.text), c.valid) << Utf8FromWide(c.text);
        if (c.gb) {
            EXPECT_EQ(GbLabelFor(c.text), c.gb);
        }
        EXPECT_EQ(PrioritySizeChangeMessage(c.text).empty(), c.valid);
    }
    EXPECT_EQ(PriorityStartChangeMessage(u"43000000000"), u"优先扫描范围输入不合法!");
    EXPECT_EQ(SectorFieldText(123456789012ull), u"123456789012");
}

TEST_F(ScanOptionsTest, DialogOkValidatesTheRangeAndStoresNothingOnError) {
    ScanOptions shown = OptionsForScan(Record(100000, 900000), 2, false);
    auto apply = [&](const char16_t* start, const char16_t* size, ScanOptions& out) {
        ScanDialogInput in;
        in.priorityStartText = start;
        in.prioritySizeText = size;
        return ApplyScanDialog(shown, in, out);
    };
    ScanOptions out;
    EXPECT_EQ(apply(u"1", u"43000000000", out), u"优先扫描地址不合法!");
    EXPECT_EQ(apply(u"43000000000", u"1000", out), u"优先扫描范围不合法!");
    EXPECT_EQ(apply(u"99999", u"1000", out), u"输入的优先扫描起始地址不合法！");
    EXPECT_EQ(apply(u"1000001", u"1000", out), u"输入的优先扫描起始地址不合法！");
    EXPECT_EQ(apply(u"999000", u"1001", out), u"输入的优先扫描范围不合法！");
    EXPECT_EQ(RunScanOptions().options.prioritySize, 0u);
    // A size text of three characters or fewer leaves the range as it was.
    EXPECT_TRUE(apply(u"555555", u"0", out).empty());
    EXPECT_EQ(out.priorityStart, 100000u);
    EXPECT_EQ(out.prioritySize, 0u);
    EXPECT_TRUE(apply(u"999000", u"1000", out).empty());
    EXPECT_EQ(RunScanOptions().options.priorityStart, 999000u);
    EXPECT_EQ(RunScanOptions().options.prioritySize, 1000u);
    EXPECT_EQ(out.showWhileScanning, 0);  // unchecked boxes switch off
}

TEST(ScanTimingTest, ElapsedIgnoresPauses) {
    ScanTiming t;
    t.Start(1000);
    t.BeginPause(1010);
    EXPECT_EQ(t.Elapsed(5000), 10u);
    t.BeginPause(2000);  // already paused: keeps the first time
    t.EndPause(5000);
    EXPECT_EQ(t.Elapsed(5020), 30u);
}

TEST(ScanTimingTest, ProgressTexts) {
    uint64_t prev = 0;
    EXPECT_FALSE(FormatScanProgress(0, 100, 10, 0, prev).shown);
    ScanProgressTexts t = FormatScanProgress(45, 1000000, 2048 * 45, 0, prev);
    EXPECT_EQ(t.elapsed, u"已用时间: 45     ");
    EXPECT_TRUE(t.remaining.empty());  // no estimate in the first minute
    EXPECT_EQ(t.speed, u"速度: 1(MB)/秒");

    // 100 MB/s for 125 s, 1 GiB to go: ~10 s left, 5 GB a minute.
    const uint64_t done = 204800ull * 125;
    t = FormatScanProgress(125, done + 2097152, done, 0, prev);
    EXPECT_EQ(t.elapsed, u"已用时间: 02:05     ");
    EXPECT_EQ(t.remaining, u"剩余时间: 10     ");
    EXPECT_EQ(t.speed, u"速度: 100(MB)/秒  5(GB)/分钟");
    EXPECT_EQ(prev, 10u);
    // An estimate that creeps up by less than 10 % shows the old value.
    prev = 1000;
    t = FormatScanProgress(4000, 2048 * 4000 + 2048 * 1050, 2048 * 4000, 0, prev);
    EXPECT_EQ(t.elapsed, u"已用时间: 1:06:40     ");
    EXPECT_EQ(t.remaining, u"剩余时间: 16:40     ");
    prev = 1000;
    t = FormatScanProgress(4000, 2048 * 4000 + 2048 * 3700, 2048 * 4000, 0, prev);
    EXPECT_EQ(t.remaining, u"剩余时间: 1:01:40     ");
}

TEST(ScanTimingTest, ReadErrorMessageThresholds) {
    WString text;
    EXPECT_FALSE(ReadErrorMessage(10, 100, false, text));
    EXPECT_FALSE(ReadErrorMessage(12, 11, false, text));
    ASSERT_TRUE(ReadErrorMessage(11, 100, false, text));
    EXPECT_EQ(text,
              u"扫描数据时，发生了11次读磁盘错误，至少88(MB)数据读失败，可能影响您的恢复效果！");
    ASSERT_TRUE(ReadErrorMessage(250, 300, false, text));
    EXPECT_NE(text.find(u"至少2000(MB)"), WString::npos);
    ASSERT_TRUE(ReadErrorMessage(251, 300, true, text));
    EXPECT_EQ(text.find(u"扫描数据时，发生了251次读磁盘错误，至少1.96(GB)"
                        u"数据读失败，可能会严重影响您的恢复效果！\n可能是电脑"),
              0u);
}

}  // namespace
}  // namespace kestrel
