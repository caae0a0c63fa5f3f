#include "scan/scan_start.h"

#include <atomic>

#include "app/run_state.h"
#include "scan/free_space.h"

namespace kestrel {
namespace {

ScanJob gJob{nullptr, nullptr};
std::atomic<bool> gStarted{false};

}  // namespace

ScanSession& CurrentScan() {
    // Never destroyed: detached scan threads may still be ending at exit.
    static ScanSession* session = new ScanSession;
    return *session;
}

bool ScanThreadsRunning() { return gStarted.load() && !CurrentScan().processorFinished.load(); }

bool StartScanOfRecord(const PartInfo& scanned, const ScanOptions& options, ScanState& state) {
    if (ScanThreadsRunning()) return false;
    ScanSession& s = CurrentScan();
    Run().CurPartInfo = scanned;
    s.scanned = scanned;
    s.options = options;
    s.recoverMode = Run().RecoverMode;
    // The allocation answer refers to the session's own copy of the record.
    s.allocated =
        s.recoverMode == kModeDeletedFiles ? MakeAllocationQuery(s.scanned) : BlockAllocatedQuery();
    s.processorFinished = false;
    gJob = ScanJob{&s, &state};
    gStarted = true;
    StartDeepScan(gJob);
    return true;
}

}  // namespace kestrel
