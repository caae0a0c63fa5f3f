#pragma once
// Reading FAT file data back: preview (the first bytes of a file) and export
// with the read-error policies and the stop request. The same two operations
// exist for FAT directories rebuilt by the deep scan (kind 16), which have no
// FAT: their files are read as contiguous runs from the first cluster.
#include <cstdint>

#include "app/progress.h"
#include "app/scan_state.h"
#include "fs/file_node.h"
#include "fs/read_error_policy.h"
#include "platform/output_file.h"
#include "storage/part_info.h"
#include "storage/sector_source.h"

namespace kestrel {

// Copies up to maxBytes of the file into buffer. True when the whole request
// (maxBytes, or the file size when smaller) was read; bytesRead, when given,
// receives the number of bytes copied either way.
bool ReadFatFileData(PartInfo& part, const FileNode& node, uint32_t maxBytes, uint8_t* buffer,
                     uint32_t* bytesRead = nullptr);
bool ExportFatFile(OutputFile& out, PartInfo& part, ScanState& state, const FileNode& node,
                   ProgressSnapshot& progress, ReadErrorPolicy policy);
// The same through a source the caller has opened on the partition's device.
bool ReadFatFileDataFrom(SectorSource& src, PartInfo& part, const FileNode& node, uint32_t maxBytes,
                         uint8_t* buffer, uint32_t* bytesRead = nullptr);
bool ExportFatFileFrom(SectorSource& src, OutputFile& out, PartInfo& part, ScanState& state,
                       const FileNode& node, ProgressSnapshot& progress, ReadErrorPolicy policy);

// Kind 16: startLba is the LBA of cluster 2 and bootSector[0x0D] holds the
// sectors per cluster.
bool ReadFatDirFileData(PartInfo& part, const FileNode& node, uint32_t maxBytes, uint8_t* buffer,
                        uint32_t* bytesRead = nullptr);
bool ExportFatDirFile(OutputFile& out, PartInfo& part, ScanState& state, const FileNode& node,
                      ProgressSnapshot& progress, ReadErrorPolicy policy);

}  // namespace kestrel
