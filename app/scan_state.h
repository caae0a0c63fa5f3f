#pragma once
// The state word of a deep scan and the job status word of a modal job.
// Both are plain 32-bit words written by one side and polled by the other;
// they are atomics so that the polling is well defined.
#include <atomic>
#include <cstdint>

namespace kestrel {

enum ScanStateValue : int32_t {
    kScanRunning = 0,
    kScanPaused = 1,
    kScanStopRequested = 2,
    kScanFinished = 3,
};
using ScanState = std::atomic<int32_t>;

enum JobStatusValue : int32_t {
    kJobRunning = 0,
    kJobCancelled = 2,  // cancelled or failed
    kJobDone = 3,
};
using JobStatus = std::atomic<int32_t>;

}  // namespace kestrel
