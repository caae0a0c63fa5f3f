#pragma once
// Deleted FAT32 entries usually lose the upper 16 bits of their first cluster.
// After a complete deep scan the reader can guess them from the scan's finds
// (a map of which find type starts at which cluster) and from neighbouring
// entries. Without a complete scan nothing is guessed and deleted entries keep
// the 16-bit first cluster they were found with.
#include <cstdint>

#include "fs/fat_geometry.h"
#include "storage/part_info.h"

namespace kestrel {

// True while the finds of a complete deep scan of the device are available.
// No scan hands its finds to this reader yet, so this is false for now and
// both steps below are skipped.
bool FatCompleteDeepScanAvailable();

// Builds the cluster map of the partition from the deep-scan finds.
void BuildFatClusterMap(const PartInfo& part, const FatGeometry& g);
// First-cluster resolution over the deleted nodes with ids in [fromId, toId);
// dirsOnly limits it to DeletedDir nodes (before their contents are walked).
void ResolveFatFirstClusters(PartInfo& part, const FatGeometry& g, uint32_t fromId, uint32_t toId,
                             bool dirsOnly);
void FreeFatClusterMap();

}  // namespace kestrel
