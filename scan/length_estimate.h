#pragma once
// Lengths for signature finds whose format gave none: the distance to the
// next thing the scan found, capped, and in the free-space scan cut at the
// first cluster in use.
#include <cstdint>
#include <functional>
#include <vector>

#include "scan/found_item.h"
#include "storage/part_info.h"

namespace kestrel {

// The longest length an estimate gives: 1.8 GB in sectors.
constexpr uint64_t kMaxEstimateSectors = 3686400;

// The free clusters of the partition a free-space scan covers.
struct FreeClusterMap {
    uint64_t firstClusterLba = 0;  // LBA of cluster firstCluster
    uint64_t firstCluster = 0;     // 2 on FAT and exFAT, 0 on NTFS
    uint64_t clusterCount = 0;     // clusters firstCluster .. firstCluster + count - 1
    uint32_t sectorsPerCluster = 0;
    std::function<bool(uint64_t cluster)> isFree;  // empty: nothing is known

    bool Valid() const { return sectorsPerCluster != 0 && bool(isFree); }
    // The cluster holding lba; false outside the clusters.
    bool ClusterOf(uint64_t lba, uint64_t& cluster) const;
    bool IsFreeSector(uint64_t lba) const;
    bool IsClusterStart(uint64_t lba) const;
    // Consecutive free clusters from lba's cluster on, times the cluster size
    // (counted no further than kMaxEstimateSectors reaches).
    uint64_t FreeBytesFrom(uint64_t lba) const;
    // One past the last sector of the last cluster.
    uint64_t ClustersEndLba() const { return firstClusterLba + clusterCount * sectorsPerCluster; }
};

// Where the clusters of a FAT or exFAT volume begin (the LBA of cluster 2)
// and their size, from part.bootSector; false for other kinds or a geometry
// that describes none.
bool ClusterHeapOf(const PartInfo& part, uint64_t& cluster2Lba, uint32_t& sectorsPerCluster);

// From the allocation data the partition's reader left (FAT copy, exFAT
// bitmap) or, for NTFS, the cluster bitmap read from the device. Invalid
// when none is available. The record must outlive the map.
FreeClusterMap MakeFreeClusterMap(const PartInfo& part);

// items in LBA order. For every signature find (type < 154) without a length
// except the last item: the distance to the next signature find or structure
// (code above 220), or to recordEnd when there is none, capped at 3686400
// sectors; 0 when the next item does not lie beyond. With freeMap valid the
// length is then cut at the first cluster in use.
void EstimateFindLengths(std::vector<FoundItem>& items, uint64_t recordEnd,
                         const FreeClusterMap* freeMap);

}  // namespace kestrel
