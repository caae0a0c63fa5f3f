#include "fs/fat_cluster_resolution.h"

namespace kestrel {

bool FatCompleteDeepScanAvailable() { return false; }

void BuildFatClusterMap(const PartInfo&, const FatGeometry&) {}

void ResolveFatFirstClusters(PartInfo&, const FatGeometry&, uint32_t, uint32_t, bool) {}

void FreeFatClusterMap() {}

}  // namespace kestrel
