#pragma once
#include "app/scan_state.h"
#include "storage/part_info.h"
#include "storage/sector_source.h"

namespace kestrel {

// Builds the node table of a FAT12/16/32 partition (deleted entries included).
// False when the device cannot be opened, the file system cannot be read,
// or the user stops.
bool ReadFatPartition(PartInfo& part, ScanState& state);
// The same through a source the caller has opened on the partition's device.
bool ReadFatPartitionFrom(SectorSource& src, PartInfo& part, ScanState& state);

}  // namespace kestrel
