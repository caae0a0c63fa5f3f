#include "fs/exfat_layout.h"

namespace kestrel {

bool HasExfatSignature(ByteView boot) { return boot.Equals(3, "EXFAT", 5); }

bool ParseExfatGeometry(ByteView boot, uint64_t startLba, bool heapIsAbsolute, ExfatGeometry& g) {
    if (!boot.Has(0, 0x70)) return false;
    g = ExfatGeometry{};
    const uint32_t fatOffset = boot.U32(0x50);
    g.fatSectors = boot.U32(0x54);
    const uint32_t heapOffset = boot.U32(0x58);
    g.clusterCount = boot.U32(0x5C);
    g.rootCluster = boot.U32(0x60);
    g.clusterShift = boot.U8(0x6D);
    // Directory partitions rebuilt by the deep scan know no cluster count.
    if (heapIsAbsolute && g.clusterCount == 0) g.clusterCount = 0xFFFFFFF5u;
    // Cluster numbers above 0xFFFFFFF6 are reserved, so the highest cluster
    // number clusterCount + 1 cannot wrap.
    if (g.clusterShift > kExfatMaxClusterShift) return false;
    if (g.clusterCount == 0 || g.clusterCount > 0xFFFFFFF5u) return false;
    if (heapOffset == 0) return false;
    g.sectorsPerCluster = 1u << g.clusterShift;
    g.clusterBytes = g.sectorsPerCluster * 512u;
    g.fatLba = heapIsAbsolute ? 0 : startLba + fatOffset;
    g.heapLba = heapIsAbsolute ? heapOffset : startLba + heapOffset;
    if (heapIsAbsolute) g.fatSectors = 0;
    return true;
}

bool ExfatGeometryOf(const PartInfo& part, ExfatGeometry& g) {
    const ByteView boot(part.bootSector, sizeof part.bootSector);
    if (part.fsKind == kFsExfatDirs) return ParseExfatGeometry(boot, 0, true, g);
    if (!HasExfatSignature(boot)) return false;
    return ParseExfatGeometry(boot, part.startLba, false, g);
}

}  // namespace kestrel
