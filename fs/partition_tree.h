#pragma once
#include "app/scan_state.h"
#include "storage/part_info.h"

namespace kestrel {

// Reads the file system of one partition into its node table with the reader
// its kind names (NTFS, FAT16/FAT32, exFAT). False for any other kind, or when
// the reader fails or is stopped; on success the caller hands the partition to
// AddPartition.
bool ReadPartitionTree(PartInfo& part, ScanState& state);

}  // namespace kestrel
