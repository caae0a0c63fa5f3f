#pragma once
// Deleted FAT32 entries usually lose the upper 16 bits of their first cluster.
// After a complete deep scan the reader guesses them from the scan's finds (a
// map of which find type starts at which cluster) and from neighbouring
// entries. Without a complete scan nothing is guessed and deleted entries keep
// the first cluster they were found with.
//
// The scan lives above this library, so it hands its finds over: after a
// complete scan and before partitions are read it calls SetFatScanFinds, and
// ClearFatScanFinds when the next scan is prepared.
#include <cstdint>
#include <vector>

#include "fs/fat_geometry.h"
#include "storage/part_info.h"

namespace kestrel {

struct FatScanFind {
    uint64_t lba = 0;  // absolute sector where the find starts
    uint8_t type = 0;  // file type id, or 231 for a FAT subdirectory
};

void SetFatScanFinds(std::vector<FatScanFind> finds);
void ClearFatScanFinds();
// True while the finds of a complete deep scan are available.
bool FatCompleteDeepScanAvailable();

// The cluster map of a FAT32 partition: per cluster number, the type of the
// find that starts exactly at the cluster's first sector (0 = none).
std::vector<uint16_t> MakeFatClusterMap(const PartInfo& part, const FatGeometry& g,
                                        const std::vector<FatScanFind>& finds);
// Cluster proposals of the neighbours of node id, closest in creation time first.
std::vector<uint32_t> FatNeighbourProposals(PartInfo& part, const FatGeometry& g, uint32_t id);
// First-cluster resolution over the deleted nodes with ids in [fromId, toId)
// whose first cluster is below 0x10000; dirsOnly limits it to DeletedDir nodes.
void ResolveFatFirstClustersWith(PartInfo& part, const FatGeometry& g,
                                 const std::vector<uint16_t>& clusterMap, uint32_t fromId,
                                 uint32_t toId, bool dirsOnly);

// The reader's steps over the process-wide map built from the handed-over finds.
void BuildFatClusterMap(const PartInfo& part, const FatGeometry& g);
void ResolveFatFirstClusters(PartInfo& part, const FatGeometry& g, uint32_t fromId,
                             uint32_t toId, bool dirsOnly);
void FreeFatClusterMap();

}  // namespace kestrel
