// The preview worker's queue: newest request first, results that a newer
// request for the same page made out of date are never sent, and each sent
// result belongs to the page.
#include "preview/preview_worker.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace kestrel {
namespace {

using namespace std::chrono_literals;

// The fake processor: records the node ids in processing order, holds the
// request for node kGateId until the test opens the gate, and drops node
// kDroppedId as an invisible node would be.
constexpr uint32_t kGateId = 1;
constexpr uint32_t kDroppedId = 99;

std::mutex gMutex;
std::condition_variable gChanged;
std::vector<uint32_t> gProcessed;
bool gGateOpen = false;

template <typename Pred>
bool WaitFor(Pred pred) {
    std::unique_lock<std::mutex> hold(gMutex);
    return gChanged.wait_for(hold, 5s, pred);
}

std::optional<PreviewResult> FakeProcess(const PreviewRequest& request) {
    std::unique_lock<std::mutex> hold(gMutex);
    gProcessed.push_back(request.nodeId);
    gChanged.notify_all();
    if (request.nodeId == kGateId) gChanged.wait(hold, [] { return gGateOpen; });
    if (request.nodeId == kDroppedId) return std::nullopt;
    PreviewResult r;
    r.data = {uint8_t(request.nodeId)};
    return r;
}

class RecordingPage : public IObserver {
public:
    void OnMessage(uint32_t code, uint64_t wParam, int64_t lParam) override {
        std::unique_ptr<PreviewResult> result = TakePreviewResult(wParam);
        std::lock_guard<std::mutex> hold(gMutex);
        EXPECT_EQ(code, uint32_t(kMsgPreviewReady));
        ASSERT_NE(result, nullptr);
        ASSERT_EQ(result->data.size(), 1u);
        EXPECT_EQ(result->data[0], uint8_t(lParam));  // lParam is the node id
        delivered.push_back(uint32_t(lParam));
        gChanged.notify_all();
    }
    std::vector<uint32_t> delivered;
};

void ResetFake() {
    std::lock_guard<std::mutex> hold(gMutex);
    gProcessed.clear();
    gGateOpen = false;
}

void OpenGate() {
    std::lock_guard<std::mutex> hold(gMutex);
    gGateOpen = true;
    gChanged.notify_all();
}

TEST(PreviewWorker, NewestFirstAndOutOfDateResultsDropped) {
    ResetFake();
    ResultSet rs;
    RecordingPage page, other;
    CPreviewWorker worker;
    ASSERT_TRUE(worker.Start(&FakeProcess));
    EXPECT_FALSE(worker.Start(&FakeProcess));

    worker.Request(rs, &page, 4, kGateId);
    ASSERT_TRUE(WaitFor([] { return gProcessed.size() == 1; }));
    // While node 1 is being read the user moves on over 2, 3 and 4 on this
    // page; another page asks for 10.
    for (uint32_t id : {2u, 3u, 4u}) worker.Request(rs, &page, 4, id);
    worker.Request(rs, &other, 4, 10);
    OpenGate();
    ASSERT_TRUE(WaitFor([&] { return page.delivered.size() == 1 && other.delivered.size() == 1; }));
    worker.Stop();

    // Node 1's result is out of date once 2..4 are queued; 2 and 3 are
    // superseded by 4 and never read.
    EXPECT_EQ(gProcessed, (std::vector<uint32_t>{1, 10, 4}));
    EXPECT_EQ(page.delivered, (std::vector<uint32_t>{4}));
    EXPECT_EQ(other.delivered, (std::vector<uint32_t>{10}));
}

TEST(PreviewWorker, RestartsAfterStopAndSendsNothingForDroppedRequests) {
    ResetFake();
    OpenGate();
    ResultSet rs;
    RecordingPage page;
    CPreviewWorker worker;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(worker.Start(&FakeProcess));
        worker.Request(rs, &page, 4, kDroppedId);
        ASSERT_TRUE(WaitFor([&] { return gProcessed.size() == size_t(2 * round + 1); }));
        worker.Request(rs, &page, 4, 7);
        ASSERT_TRUE(WaitFor([&] { return page.delivered.size() == size_t(round + 1); }));
        worker.Stop();
        EXPECT_FALSE(worker.Running());
    }
    EXPECT_EQ(page.delivered, (std::vector<uint32_t>{7, 7}));
}

}  // namespace
}  // namespace kestrel
