#pragma once
// The steps after (and, with "边扫描边显示", during) a deep scan that turn the
// catalogue into partitions and trees the user browses. InstallReassemblyHooks
// wires them into a session; the session's results field names the result set
// they fill.
#include "app/scan_state.h"
#include "scan/scan_session.h"

namespace kestrel {

// Sets the reassembly hooks of s.hooks (resetForScan, the four live hooks,
// postScan, rebuildTree, mftStart). The scan-state hooks are left alone.
void InstallReassemblyHooks(ScanSession& s);

// The post-scan processing: builds s.foundPartitions from the catalogue.
// True when at least one partition was found.
bool PostScanProcessing(ScanSession& s, ScanState& state);
// Installs s.foundPartitions into *s.results (found files to slot 3, the
// others appended) and tells the observers the deep-scan result is ready.
void InstallFoundPartitions(ScanSession& s);

}  // namespace kestrel
