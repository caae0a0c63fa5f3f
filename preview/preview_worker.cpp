#include "preview/preview_worker.h"

#include <algorithm>

#include "app/run_state.h"

namespace kestrel {

bool CPreviewWorker::Start(PreviewProcessor processor) {
    if (thread_.joinable() || processor == nullptr) return false;
    {
        std::lock_guard<std::mutex> hold(lock_);
        // Emptied here rather than in the thread: a request the page queues
        // right after starting the worker must not be lost.
        stack_.clear();
        signalled_ = false;
        exit_ = false;
        processor_ = processor;
    }
    thread_ = std::thread(&CPreviewWorker::Loop, this);
    return true;
}

void CPreviewWorker::Stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> hold(lock_);
        exit_ = true;
        signalled_ = true;
    }
    wake_.notify_one();
    if (thread_.get_id() == std::this_thread::get_id()) {
        // Asked from a result handler on the worker itself: it cannot wait
        // for itself; the loop ends when the handler returns.
        thread_.detach();
        return;
    }
    thread_.join();
    std::lock_guard<std::mutex> hold(lock_);
    stack_.clear();
}

void CPreviewWorker::Request(ResultSet& rs, IObserver* target, TreeRow row, uint32_t nodeId) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        stack_.push_back(PreviewRequest{&rs, target, row, nodeId});
        signalled_ = true;
    }
    wake_.notify_one();
}

bool CPreviewWorker::TakeNewest(PreviewRequest& out) {
    std::lock_guard<std::mutex> hold(lock_);
    if (stack_.empty() || exit_) return false;
    out = stack_.back();
    stack_.pop_back();
    // The older requests of the same page are superseded: served later they
    // would replace the newest file on the page with one the user has left.
    const IObserver* target = out.target;
    stack_.erase(std::remove_if(stack_.begin(), stack_.end(),
                                [target](const PreviewRequest& r) { return r.target == target; }),
                 stack_.end());
    return true;
}

void CPreviewWorker::Deliver(PreviewResult result, const PreviewRequest& request) {
    {
        std::lock_guard<std::mutex> hold(lock_);
        // A request for the same page arrived while this one was read: it
        // is newer (older ones were dropped when this one was taken), so this
        // result is out of date.
        for (const PreviewRequest& r : stack_)
            if (r.target == request.target) return;
    }
    if (request.target == nullptr) return;
    // Sent outside the lock: the page may queue the next request from its
    // handler.
    auto* owned = new PreviewResult(std::move(result));
    request.target->OnMessage(kMsgPreviewReady, reinterpret_cast<uint64_t>(owned),
                              int64_t(request.nodeId));
}

void CPreviewWorker::Loop() {
    ThreadBegin("PreviewWorkerThread");
    for (;;) {
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [this] { return signalled_; });
            signalled_ = false;
            if (exit_) break;
        }
        PreviewRequest request;
        while (TakeNewest(request)) {
            if (std::optional<PreviewResult> result = processor_(request))
                Deliver(std::move(*result), request);
        }
    }
    ThreadEnd("PreviewWorkerThread");
}

CPreviewWorker& PreviewWorker() {
    static CPreviewWorker worker;
    return worker;
}

bool StartPreviewWorker() { return PreviewWorker().Start(); }

void StopPreviewWorker() { PreviewWorker().Stop(); }

void RequestPreview(ResultSet& rs, IObserver* target, TreeRow row, uint32_t nodeId) {
    PreviewWorker().Request(rs, target, row, nodeId);
}

}  // namespace kestrel
