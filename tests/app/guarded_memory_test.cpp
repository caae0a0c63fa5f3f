#include "app/guarded_memory.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "app/reports.h"
#include "app/run_state.h"
#include "app/user_interaction.h"
#include "report_tap.h"

namespace kestrel {
namespace {

using test::ReportRecorder;
constexpr uint32_t kMiB = 1u << 20;

// Checks the reports raised before the message and prints them as one line.
class CheckingUi : public IUserInteraction {
public:
    void ShowMessage(const WString& text) override {
        const auto ev = ReportRecorder::Events();
        const bool ok = ev.size() == 2 && ev[0].first == kEvMemFailure &&
                        ev[0].second.find(u"    alloc size: 0.00 KB") != WString::npos &&
                        ev[0].second.find(u"   line: 77  AllMem: ") != WString::npos &&
                        ev[1].first == kEvExit && ev[1].second.empty() &&
                        Run().OutOfMemoryFlag.load() == 1;
        std::fprintf(stderr, "%s: %s\n", ok ? "reports-ok" : "reports-bad",
                     Utf8FromWide(text).c_str());
    }
    bool AskYesNo(const WString&, bool d) override { return d; }
    int AskChoice(const WString&, const std::vector<WString>&, int d) override { return d; }
} gCheckingUi;

WString SummaryForTest() { return u"RealPartNum: 2  [0,17] [1,5] "; }

// Runs first, in a child, while the process has never crossed 1000 MiB: the
// first crossing carries the result-set summary.
TEST(GuardedMemoryDeathTest, FirstCrossingOf1000MiBCarriesResultSetSummary) {
    EXPECT_EXIT(
        {
            ReportRecorder rec;
            SetResultSetSummaryHook(&SummaryForTest);
            void* p = GuardedAlloc(1010 * kMiB, 10);
            const auto ev = rec.Events();
            const bool ok =
                ev.size() == 1 && ev[0].first == kEvMemBig &&
                ev[0].second.find(u"Mem big: 10") == 0 &&
                ev[0].second.find(u"(MB)   RealPartNum: 2  [0,17] [1,5] ") != WString::npos;
            GuardedFree(p);
            std::exit(ok ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(GuardedMemoryDeathTest, ZeroSizeIsFatalWithMessageAndReports) {
    EXPECT_EXIT(
        {
            ReportRecorder rec;
            GuardedAlloc(0, 77);
        },
        ::testing::ExitedWithCode(1), "分配内存失败: 0.00 KB");
    // By the time the message shows, report 19 and the exit report are queued.
    EXPECT_EXIT(
        {
            ReportRecorder rec;
            SetUserInteraction(&gCheckingUi);
            GuardedAlloc(0, 77);
        },
        ::testing::ExitedWithCode(1), "reports-ok: 分配内存失败: 0.00 KB");
}

TEST(GuardedMemory, BlockLayoutZeroFillAndAccounting) {
    const uint32_t before = LiveBytes();
    auto* p = static_cast<uint8_t*>(GuardedAlloc(100, 1234));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[-8], 'Q');
    EXPECT_EQ(p[-7], 'M');
    EXPECT_EQ(p[-6] | p[-5] << 8, 1234);
    uint32_t size;
    std::memcpy(&size, p - 4, 4);
    EXPECT_EQ(size, 100u);
    EXPECT_EQ(p[100], 'M');
    for (int i = 0; i < 100; ++i) ASSERT_EQ(p[i], 0) << i;
    EXPECT_EQ(GuardedSize(p), 100u);
    EXPECT_EQ(LiveBytes(), before + 100);
    EXPECT_TRUE(GuardedFree(p));
    EXPECT_EQ(LiveBytes(), before);
}

TEST(GuardedMemory, ReleaseOfNullAndForeignPointers) {
    ReportRecorder rec;
    EXPECT_TRUE(GuardedFree(nullptr));
    EXPECT_TRUE(rec.Events().empty());

    alignas(8) uint8_t foreign[64] = {};
    EXPECT_FALSE(GuardedFree(foreign + 16));
    EXPECT_FALSE(GuardedFree(foreign + 32));  // same site 999: reported once
    EXPECT_EQ(GuardedSize(foreign + 16), 0u);
    const auto ev = rec.Events();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].first, uint32_t(kEvMemBegin));
    EXPECT_EQ(ev[0].second, u"Mem begin err: 999  ");
}

TEST(GuardedMemory, WritePastEndIsReportedAndBlockStillReleased) {
    ReportRecorder rec;
    const uint32_t before = LiveBytes();
    auto* p = static_cast<uint8_t*>(GuardedAlloc(64, 4101));
    p[64] = 0;  // one byte past the user area: the trailer
    EXPECT_TRUE(GuardedFree(p));
    // The damaged block is not subtracted: the total stays high by its size.
    EXPECT_EQ(LiveBytes(), before + 64);
    const auto ev = rec.Events();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].first, uint32_t(kEvMemEnd));
    EXPECT_EQ(ev[0].second, u"Mem end err: 4101  ");
}

TEST(GuardedMemory, CopiesClampToTheBlockAndReportOncePerSite) {
    ReportRecorder rec;
    auto* dst = static_cast<uint8_t*>(GuardedAlloc(64, 20));
    uint8_t src[100];
    for (int i = 0; i < 100; ++i) src[i] = uint8_t(i + 1);

    EXPECT_EQ(GuardedCopy(dst, src, 100, 4202), 64u);
    EXPECT_EQ(dst[63], 64);
    EXPECT_EQ(dst[64], 'M');  // trailer intact
    EXPECT_EQ(GuardedCopy(dst, src, 100, 4202), 64u);
    EXPECT_EQ(rec.Count(kEvMemOper), 1u);

    EXPECT_EQ(GuardedCopy(dst, src, 0, 4203), 0u);
    EXPECT_EQ(GuardedCopy(nullptr, src, 5, 4203), 0u);
    EXPECT_EQ(GuardedCopy(dst, nullptr, 5, 4203), 0u);

    struct Case {
        uint32_t offset, count, expected;
        uint16_t site;
        bool reported;
    } cases[] = {
        {0, 64, 64, 4210, false}, {10, 20, 20, 4211, false}, {60, 10, 4, 4212, true},
        {64, 1, 0, 4213, true},   {200, 5, 0, 4214, true},   {0xFFFFFFF0u, 0x20, 0, 4215, true},
    };
    for (const Case& c : cases) {
        ReportRecorder::Clear();
        EXPECT_EQ(GuardedCopyAt(dst, c.offset, src, c.count, c.site), c.expected) << c.offset;
        EXPECT_EQ(rec.Count(kEvMemOper), c.reported ? 1u : 0u) << c.offset;
    }
    EXPECT_EQ(dst[60], 1);
    EXPECT_EQ(dst[64], 'M');

    ReportRecorder::Clear();
    alignas(8) uint8_t foreign[32] = {};
    EXPECT_EQ(GuardedCopyAt(foreign + 16, 0, src, 4, 4216), 0u);
    EXPECT_EQ(rec.Count(kEvMemBegin), 1u);
    EXPECT_TRUE(GuardedFree(dst));
}

TEST(GuardedMemory, HundredMiBStepsAbove1000MiBAreReportedOnce) {
    ReportRecorder rec;
    ASSERT_LT(LiveBytes(), 900 * kMiB);
    const uint32_t base = LiveBytes();
    // The pages are never touched, so these cost address space only.
    void* big = GuardedAlloc(1250 * kMiB - base, 30);
    auto ev = rec.Events();
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].first, uint32_t(kEvMemBig));
    EXPECT_EQ(ev[0].second, u"Mem big: 1250(MB)");

    void* more = GuardedAlloc(100 * kMiB, 31);
    ev = rec.Events();
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[1].second, u"Mem big: 1350(MB)");

    GuardedFree(more);
    void* again = GuardedAlloc(50 * kMiB, 32);
    EXPECT_EQ(rec.Events().size(), 2u);
    GuardedFree(again);
    GuardedFree(big);
    EXPECT_EQ(LiveBytes(), base);
}

TEST(GuardedMemory, DeferredListTrimsByCountAndAge) {
    FlushDeferred();
    const uint32_t base = LiveBytes();
    for (int i = 0; i < 7; ++i) DeferFree(GuardedAlloc(16, 40));
    EXPECT_EQ(DeferredCount(), 6u);
    EXPECT_EQ(LiveBytes(), base + 6 * 16);

    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    DeferFree(GuardedAlloc(16, 41));
    EXPECT_EQ(DeferredCount(), 1u);

    FlushDeferred();
    EXPECT_EQ(DeferredCount(), 0u);
    EXPECT_EQ(LiveBytes(), base);
}

TEST(GuardedMemory, ConcurrentAllocationKeepsTheTotal) {
    const uint32_t base = LiveBytes();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) GuardedFree(GuardedAlloc(uint32_t(1 + i % 300), 50));
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(LiveBytes(), base);
}

TEST(GuardedMemory, PhysicalMemoryFromProc) {
    PhysicalMemory mem;
    ASSERT_TRUE(QueryPhysicalMemory(mem));
    EXPECT_GT(mem.totalMiB, 0u);
    EXPECT_LE(mem.availMiB, mem.totalMiB);
}

}  // namespace
}  // namespace kestrel
