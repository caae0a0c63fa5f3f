#pragma once
#include "app/scan_state.h"
#include "storage/part_info.h"

namespace kestrel {

// Builds the node table of a Exfat partition (deleted entries included).
// False when the device cannot be opened, the file system cannot be read,
// or the user stops.
bool ReadExfatPartition(PartInfo& part, ScanState& state);

}  // namespace kestrel
