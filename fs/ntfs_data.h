#pragma once
// Reading an NTFS file's data back, for preview and for export: resident data
// from inside its FILE record, non-resident data through its run list.
#include <cstdint>
#include <optional>
#include <vector>

#include "app/progress.h"
#include "app/scan_state.h"
#include "fs/file_node.h"
#include "fs/read_error_policy.h"
#include "platform/bytes.h"
#include "platform/output_file.h"
#include "storage/part_info.h"
#include "storage/sector_source.h"

namespace kestrel {

// The value of the first $DATA attribute of a fixed-up record when it is
// resident and lies inside the record (an empty file has an empty value);
// absent otherwise.
std::optional<ByteView> ResidentDataOfRecord(ByteView record);

// Reads the record at node.locationLba and copies its resident value. Only
// for nodes of at most 1024 bytes; the value length, not node.size, decides
// how many bytes arrive.
bool ReadResidentData(SectorSource& src, const FileNode& node, std::vector<uint8_t>& out);

// The first maxBytes bytes of the file into buffer (preview). bytesRead, when
// given, receives how many bytes were delivered. For non-resident files true
// once the run list resolved, even when a read failed or stop was requested
// part way (the bytes before that are kept).
bool ReadNtfsFileData(PartInfo& part, const FileNode& node, ScanState& state, uint32_t maxBytes,
                      uint8_t* buffer, uint32_t* bytesRead = nullptr);
bool ReadNtfsFileDataFrom(SectorSource& src, PartInfo& part, const FileNode& node, ScanState& state,
                          uint32_t maxBytes, uint8_t* buffer, uint32_t* bytesRead = nullptr);

// Writes the whole file to out, following the read-error policy, and sets its
// times from the node. False when the file failed (read or write error under
// a non-recovering policy, or a stop request); with kClearFile the output is
// then cut to 0 bytes.
bool ExportNtfsFile(OutputFile& out, PartInfo& part, ScanState& state, const FileNode& node,
                    ProgressSnapshot& progress, ReadErrorPolicy policy);
bool ExportNtfsFileFrom(SectorSource& src, OutputFile& out, PartInfo& part, ScanState& state,
                        const FileNode& node, ProgressSnapshot& progress, ReadErrorPolicy policy);

}  // namespace kestrel
