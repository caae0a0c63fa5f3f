#pragma once
// Reading exFAT file data back: for preview (the first bytes) and for export
// (the whole file under a read-error policy). Files of exFAT directory
// partitions rebuilt by the deep scan have no FAT and are read as one
// contiguous extent from their first cluster.
#include <cstdint>
#include <vector>

#include "app/progress.h"
#include "app/scan_state.h"
#include "fs/exfat_layout.h"
#include "fs/file_node.h"
#include "fs/read_error_policy.h"
#include "platform/output_file.h"
#include "storage/part_info.h"
#include "storage/sector_source.h"

namespace kestrel {

// Reads the listed clusters, in list order, into buffer (clusters.size() x
// cluster bytes), merging consecutive clusters into one read. Failed reads
// leave zeros. False only when the user asked to stop.
bool ReadExfatClusters(SectorSource& src, const ExfatGeometry& g,
                       const std::vector<uint32_t>& clusters, uint8_t* buffer, ScanState& state);

// The clusters of a node's data (see ExfatFileClusters).
std::vector<uint32_t> ExfatNodeClusters(const PartInfo& part, const ExfatGeometry& g,
                                        const FileNode& node);

// The first min(maxBytes, size) bytes of a file into buffer (preview).
// False when the file's clusters cannot be listed far enough or a read
// fails; the buffer then holds zeros where nothing could be read.
bool ReadExfatFileData(PartInfo& part, const FileNode& node, uint32_t maxBytes, uint8_t* buffer);
bool ReadExfatFileDataFrom(SectorSource& src, PartInfo& part, const FileNode& node,
                           uint32_t maxBytes, uint8_t* buffer);

// Writes the whole file to out under the read-error policy and, on success,
// sets its times from the node. False when the file failed: a read error
// under a policy other than kRecoverAll, a write error, a stop request, or
// clusters that do not reach the size. With kClearFile the output is then
// cut to 0 bytes. A file of 0 bytes succeeds with nothing written.
bool ExportExfatFile(OutputFile& out, PartInfo& part, ScanState& state, const FileNode& node,
                     ProgressSnapshot& progress, ReadErrorPolicy policy);
// The same over an already open source (tests inject read faults through it).
bool ExportExfatFileFrom(SectorSource& src, OutputFile& out, PartInfo& part, ScanState& state,
                         const FileNode& node, ProgressSnapshot& progress, ReadErrorPolicy policy);

}  // namespace kestrel
