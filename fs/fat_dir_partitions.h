#pragma once
// Pseudo partitions of FAT directories that the deep scan found without a
// usable boot record: the geometry is voted from the cluster numbers the
// subdirectories' "." entries carry, and each tree of directories found
// becomes a folder "Dir01", "Dir02", ... of a partition of kind 16.
#include <cstdint>
#include <vector>

#include "app/scan_state.h"
#include "storage/part_info.h"

namespace kestrel {

// A FAT directory find of the deep scan: type 231 (a subdirectory's first
// sector, with its own and its parent's cluster number) or 232 (a root
// directory's first sector, no cluster numbers).
struct FatDirFind {
    uint8_t type = 0;
    uint64_t lba = 0;
    uint32_t ownCluster = 0;
    uint32_t parentCluster = 0;
};

constexpr uint8_t kFatSubdirFind = 231;
constexpr uint8_t kFatRootDirFind = 232;

// finds in LBA order; device is the scanned device's record; knownPartitions
// the number of partitions the scan already knows. Returns the built
// partitions (node tables filled and linked), which the caller owns.
std::vector<PartInfo> BuildFatDirPartitions(const std::vector<FatDirFind>& finds,
                                            const PartInfo& device, uint32_t knownPartitions,
                                            ScanState& state);

}  // namespace kestrel
