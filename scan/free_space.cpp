#include "scan/free_space.h"

#include "scan/length_estimate.h"

namespace kestrel {

BlockAllocatedQuery MakeAllocationQuery(const PartInfo& part) {
    FreeClusterMap map = MakeFreeClusterMap(part);
    if (!map.Valid()) return {};
    // An NTFS volume's clusters start at its first sector, so a block before
    // it holds nothing of the volume. FAT and exFAT keep their boot region,
    // FATs and bitmap before the clusters: a block reaching outside the
    // clusters is always read.
    const bool ntfs = part.fsKind == kFsNtfs;
    return [map = std::move(map), ntfs](uint64_t first, uint64_t last) {
        const uint64_t start = map.firstClusterLba;
        const uint64_t end = map.ClustersEndLba();
        if (ntfs) {
            if (last < start) return true;
            if (first < start) first = start;
        } else if (first < start || last >= end) {
            return false;
        }
        const uint64_t c0 = (first - start) / map.sectorsPerCluster;
        const uint64_t c1 = (last - start) / map.sectorsPerCluster;
        for (uint64_t c = c0; c <= c1; ++c)
            if (c >= map.clusterCount || map.isFree(map.firstCluster + c)) return false;
        return true;
    };
}

}  // namespace kestrel
