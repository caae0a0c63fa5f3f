#pragma once
// The front end's way into the deep scan: one scan at a time, kept in a
// process-wide session whose catalogue outlives the threads until the next
// scan is prepared.
#include "app/scan_state.h"
#include "scan/scan_session.h"

namespace kestrel {

ScanSession& CurrentScan();

// True while the current scan's threads have not ended.
bool ScanThreadsRunning();

// Starts a scan of `scanned` in the run's RecoverMode with the given options
// (from OptionsForScan, or the settings dialog): stores the record as the
// run's CurPartInfo and starts DiskScanAndViewThread with the state word,
// which must already be Running. False when a scan is still running.
bool StartScanOfRecord(const PartInfo& scanned, const ScanOptions& options, ScanState& state);

}  // namespace kestrel
