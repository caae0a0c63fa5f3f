#include "app/run_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace kestrel {
namespace {

std::atomic<int> gSeenCount{-1};
std::atomic<bool> gRelease{false};

void TracedWorker(void* param) {
    ThreadBegin("TracedWorker");
    gSeenCount = kestrel::Run().LiveThreadCount.load();
    while (!gRelease.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    *static_cast<int*>(param) = 42;
    ThreadEnd("TracedWorker");
}

TEST(RunState, WorkersAreCountedBetweenBeginAndEnd) {
    const int before = kestrel::Run().LiveThreadCount.load();
    int result = 0;
    StartWorker(&TracedWorker, &result);
    while (gSeenCount.load() < 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(gSeenCount.load(), before + 1);
    EXPECT_EQ(kestrel::Run().LiveThreadCount.load(), before + 1);
    gRelease = true;
    for (int i = 0; i < 5000 && kestrel::Run().LiveThreadCount.load() != before; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(kestrel::Run().LiveThreadCount.load(), before);
    EXPECT_EQ(result, 42);
}

}  // namespace
}  // namespace kestrel
