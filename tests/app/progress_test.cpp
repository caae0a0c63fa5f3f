#include "app/progress.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kestrel {
namespace {

ProgressSnapshot Items(uint32_t phase, uint32_t done, uint32_t total) {
    ProgressSnapshot s;
    s.phase = phase;
    s.items.done = done;
    s.items.total = total;
    return s;
}

TEST(ProgressMailbox, FullSlotDropsPostsUntilTaken) {
    ClearProgress();
    ProgressSnapshot out;
    EXPECT_FALSE(TakeProgress(out));

    PostProgress(Items(kPhaseSaveScanData, 1, 10));
    PostProgress(Items(kPhaseSaveScanData, 2, 10));  // dropped: slot still full
    ASSERT_TRUE(TakeProgress(out));
    EXPECT_EQ(out.phase, uint32_t(kPhaseSaveScanData));
    EXPECT_EQ(out.items.done, 1u);
    EXPECT_FALSE(TakeProgress(out));

    PostProgress(Items(kPhaseSaveScanData, 3, 10));  // first post after a take succeeds
    ASSERT_TRUE(TakeProgress(out));
    EXPECT_EQ(out.items.done, 3u);
}

TEST(ProgressMailbox, ClearDiscardsALeftOverSnapshot) {
    ClearProgress();
    PostProgress(Items(kPhaseLoadScanData, 5, 6));
    ClearProgress();
    ProgressSnapshot out;
    EXPECT_FALSE(TakeProgress(out));
    PostProgress(Items(kPhaseLoadScanData, 1, 6));
    EXPECT_TRUE(TakeProgress(out));
}

TEST(ProgressMailbox, FreeTextIsCutToItsFields) {
    ClearProgress();
    const std::u16string title(60, u'标');
    const std::u16string text(200, u'x');
    PostProgressText(title.c_str(), text.c_str());
    ProgressSnapshot out;
    ASSERT_TRUE(TakeProgress(out));
    EXPECT_EQ(out.phase, uint32_t(kPhaseText));
    EXPECT_EQ(std::u16string(out.text.title), std::u16string(39, u'标'));
    EXPECT_EQ(std::u16string(out.text.text), std::u16string(109, u'x'));

    PostProgressText(nullptr, u"正在读取");
    ASSERT_TRUE(TakeProgress(out));
    EXPECT_EQ(out.text.title[0], 0);
    EXPECT_EQ(std::u16string(out.text.text), u"正在读取");
}

TEST(ProgressMailbox, CountKindProgressCountsEachKind) {
    ClearProgress();
    ProgressSnapshot p;
    const uint32_t kinds[] = {0, 1, 1, 2, 3, 3, 3};
    ProgressSnapshot out;
    for (uint32_t k : kinds) {
        CountKindProgress(k, p);
        TakeProgress(out);
    }
    EXPECT_EQ(out.phase, uint32_t(kPhaseFsRead));
    EXPECT_EQ(out.fs.deletedFiles, 1u);
    EXPECT_EQ(out.fs.liveFiles, 2u);
    EXPECT_EQ(out.fs.deletedDirs, 1u);
    EXPECT_EQ(out.fs.liveDirs, 3u);
}

TEST(ProgressMailbox, FastWorkerNeverBlocksAndTakerSeesRecentStates) {
    ClearProgress();
    std::atomic<bool> done{false};
    constexpr uint32_t kPosts = 200000;
    std::thread worker([&] {
        for (uint32_t i = 1; i <= kPosts; ++i) PostProgress(Items(kPhaseClassify, i, kPosts));
        done = true;
    });
    uint32_t last = 0;
    uint32_t takes = 0;
    ProgressSnapshot out;
    while (!done.load()) {
        if (TakeProgress(out)) {
            // One worker: every snapshot taken is newer than the previous one.
            EXPECT_GT(out.items.done, last);
            last = out.items.done;
            ++takes;
        }
        std::this_thread::yield();
    }
    worker.join();
    if (TakeProgress(out)) {
        EXPECT_GT(out.items.done, last);
        ++takes;
    }
    EXPECT_GT(takes, 0u);
}

}  // namespace
}  // namespace kestrel
