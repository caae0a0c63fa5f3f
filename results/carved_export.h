#pragma once
// Export of a carved file (the found-files partition): its bytes lie
// contiguously on the device from its first sector on.
#include "app/progress.h"
#include "app/scan_state.h"
#include "fs/file_node.h"
#include "fs/read_error_policy.h"
#include "platform/output_file.h"
#include "storage/part_info.h"
#include "storage/sector_source.h"

namespace kestrel {

// Copies node.size bytes from node.locationLba in chunks of 8192 sectors.
// With kRecoverAll a failed read writes the chunk as zeros; otherwise it
// fails the file, as does a stop request (state 2). A failed file is cut to
// 0 bytes under kClearFile. Nothing is written past the device's end: a file
// that would run beyond it ends there and counts as failed unless the policy
// is kRecoverAll. Times are not set: a carved file has none.
bool ExportCarvedFile(OutputFile& out, PartInfo& part, ScanState& state, const FileNode& node,
                      ProgressSnapshot& progress, ReadErrorPolicy policy);
bool ExportCarvedFileFrom(SectorSource& src, OutputFile& out, ScanState& state,
                          const FileNode& node, ProgressSnapshot& progress, ReadErrorPolicy policy);

}  // namespace kestrel
