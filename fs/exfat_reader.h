#pragma once
#include <cstdint>

#include "app/progress.h"
#include "app/scan_state.h"
#include "storage/part_info.h"

namespace kestrel {

struct SectorSource;

// Reader-private bit of FileNode::flags on exFAT nodes: the stream extension
// said the data lies in consecutive clusters and the FAT holds no chain for it.
constexpr uint16_t kFlagExfatNoFatChain = 1 << 10;

// Builds the node table of a Exfat partition (deleted entries included).
// False when the device cannot be opened, the file system cannot be read,
// or the user stops.
bool ReadExfatPartition(PartInfo& part, ScanState& state);
// The same over an already open source on the partition's device (tests
// inject read faults through it).
bool ReadExfatPartitionFrom(SectorSource& src, PartInfo& part, ScanState& state);

// Reads one directory (firstCluster, byteSize) and, recursively, its
// subdirectories into the node table, with parentId as the parent of its
// entries. Uses the partition's FAT copy and bitmap when it has them. Shared
// with the builder of exFAT directory partitions found by the deep scan.
// False when the device cannot be opened or the user stops.
bool WalkExfatDirectory(PartInfo& part, ScanState& state, ProgressSnapshot& progress,
                        uint32_t firstCluster, uint64_t byteSize, uint32_t parentId);

}  // namespace kestrel
