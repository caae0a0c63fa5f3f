#pragma once
// One entry for reading a node's data back, whatever reader built its table:
// the partition's kind picks the reader's export or preview path.
#include <cstdint>

#include "app/progress.h"
#include "app/scan_state.h"
#include "fs/file_node.h"
#include "fs/read_error_policy.h"
#include "platform/output_file.h"
#include "storage/part_info.h"

namespace kestrel {

// True when the partition's kind has a reader that can export its files.
bool CanExportKind(uint32_t fsKind);

// Writes the file's data to out with the reader of the partition's kind
// (NTFS 12; FAT 10, 11 and found FAT directories 16; exFAT 4 and found exFAT
// directories 17), under the read-error policy and the stop request. False
// for any other kind, for a directory, and when the reader fails.
bool ExportNodeData(OutputFile& out, PartInfo& part, ScanState& state, const FileNode& node,
                    ProgressSnapshot& progress, ReadErrorPolicy policy);

}  // namespace kestrel
