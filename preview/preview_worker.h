#pragma once
// The preview worker: one thread that reads and formats the files the
// browser selects, newest request first, and hands each result to the page
// that asked for it with kMsgPreviewReady.
//
// kMsgPreviewReady: wParam is a PreviewResult* allocated with new; the
// receiver owns it from the call on and must delete it even when it does not
// show it (TakePreviewResult wraps it). lParam is the node id of the request
// (its tree row is what the page asked for, so the page knows it already).
// OnMessage runs on the worker thread; a GUI page passes the call to its own
// thread with a blocking hand-over, so ownership still changes at one point.
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "preview/preview_request.h"

namespace kestrel {

inline std::unique_ptr<PreviewResult> TakePreviewResult(uint64_t wParam) {
    return std::unique_ptr<PreviewResult>(reinterpret_cast<PreviewResult*>(wParam));
}

using PreviewProcessor = std::optional<PreviewResult> (*)(const PreviewRequest&);

class CPreviewWorker {
public:
    CPreviewWorker() = default;
    ~CPreviewWorker() { Stop(); }
    CPreviewWorker(const CPreviewWorker&) = delete;
    CPreviewWorker& operator=(const CPreviewWorker&) = delete;

    // Empties the queue and starts the thread (a std::thread, joined by
    // Stop, so that no result reaches a page after it stopped the worker).
    // False when it is running already. Tests pass their own processor.
    bool Start(PreviewProcessor processor = &ProcessPreviewRequest);
    // Sets the exit flag, wakes the thread and waits for it to end; the
    // requests still queued are dropped. Called from a result handler (on the
    // worker thread) it only asks the thread to end after the handler.
    void Stop();
    bool Running() const { return thread_.joinable(); }

    // Queues a request and wakes the thread. The result set must stay alive
    // (and its tables unchanged) until the worker is stopped.
    void Request(ResultSet& rs, IObserver* target, TreeRow row, uint32_t nodeId);

private:
    void Loop();
    bool TakeNewest(PreviewRequest& out);
    void Deliver(PreviewResult result, const PreviewRequest& request);

    std::mutex lock_;
    std::condition_variable wake_;
    bool signalled_ = false;  // an auto-reset event: the waiter clears it
    bool exit_ = false;
    std::vector<PreviewRequest> stack_;  // newest at the back
    PreviewProcessor processor_ = nullptr;
    std::thread thread_;
};

// The process-wide worker the file browser uses while it is shown.
CPreviewWorker& PreviewWorker();
bool StartPreviewWorker();
void StopPreviewWorker();
void RequestPreview(ResultSet& rs, IObserver* target, TreeRow row, uint32_t nodeId);

}  // namespace kestrel
