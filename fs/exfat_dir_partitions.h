#pragma once
// exFAT pseudo partitions of kind 17 from directory sectors the deep scan
// found without a usable boot region: the cluster size and the position of
// cluster 2 are voted from the runs of directory sectors and the first
// clusters their entries name.
#include <cstdint>
#include <vector>

#include "app/scan_state.h"
#include "storage/part_info.h"

namespace kestrel {

// dirSectorLbas: the LBAs of the exFAT directory finds (types 234 and 235) in
// LBA order. known: the partitions the scan already has (an exFAT one with
// the same cluster-2 position suppresses the build). Returns the built
// partitions, owned by the caller.
std::vector<PartInfo> BuildExfatDirPartitions(const std::vector<uint64_t>& dirSectorLbas,
                                              const PartInfo& device,
                                              const std::vector<PartInfo>& known,
                                              ScanState& state);

}  // namespace kestrel
