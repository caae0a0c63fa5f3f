#pragma once
// What the scanning commands do before a free-space scan.
#include <cstdint>
#include <string>

#include "fs/result_set.h"
#include "scan/scan_session.h"
#include "storage/part_info.h"

namespace kestrel::cli {

// Mode 1 scans only free space, so the partition's file system is read first
// for its allocation data (part then holds its tree). When it cannot be read
// the whole partition is scanned instead: the message goes to stderr and the
// mode becomes 2. treeRead tells whether part now owns a tree to free.
int32_t PrepareFreeSpaceScan(PartInfo& part, int32_t mode, const char* fallbackMessage,
                             bool& treeRead);

// What a recovery run does before its scan: the type catalogue and the
// classification views, the free-space preparation of mode 1 (see above),
// and the run state's mode and partition. Returns the mode that runs.
int32_t PrepareRecoveryRun(PartInfo& part, int32_t mode, const char* fallbackMessage,
                           bool& treeRead);

// The scan-state file: the one $KESTREL_SCAN_STATE names, else
// DiskScanData.dat next to the executable.
std::string ScanStatePath();

// Sets a session up for one recovery function on part: results into rs, the
// scan options of the mode (mode 1 also asks which clusters are in use), the
// post-scan reassembly, and reuse and saving through the scan-state file.
void SetUpRecoverySession(ScanSession& s, ResultSet& rs, const PartInfo& part, int32_t mode,
                          const std::string& statePath);

}  // namespace kestrel::cli
