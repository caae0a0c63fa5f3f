#include "fs/fat_geometry.h"

#include "storage/part_info.h"

namespace kestrel {

namespace {
// FAT12 volumes have fewer than 4085 clusters; their entries are 12 bits wide.
constexpr uint32_t kFat12ClusterLimit = 4085;
// Cluster numbers at and above these are reserved or end-of-chain marks.
constexpr uint32_t kFat12Reserved = 0xFF7, kFat16Reserved = 0xFFF7, kFat32Reserved = 0x0FFFFFF7;
}  // namespace

bool ParseFatGeometry(ByteView boot, uint64_t startLba, uint32_t fsKind, FatGeometry& g) {
    g = FatGeometry();
    if (!boot.Has(0, 512)) return false;
    g.fat32 = fsKind == kFsFat32;
    g.sectorsPerCluster = boot.U8(0x0D);
    g.reservedSectors = boot.U16(0x0E);
    g.fatCount = boot.U8(0x10);
    g.rootEntries = boot.U16(0x11);
    g.fatSectors = boot.U16(0x16) != 0 ? boot.U16(0x16) : boot.U32(0x24);
    // Small volumes keep their size in the 16-bit field and leave the 32-bit one 0.
    g.totalSectors = boot.U32(0x20) != 0 ? boot.U32(0x20) : boot.U16(0x13);
    g.rootCluster = boot.U32(0x2C);
    if (g.sectorsPerCluster == 0 || g.totalSectors == 0) return false;

    g.rootDirSectors = (g.rootEntries * 32 + 511) / 512;
    const uint64_t fatArea = uint64_t(g.fatCount) * g.fatSectors;
    const uint64_t dataOffset = uint64_t(g.reservedSectors) + fatArea + g.rootDirSectors;
    // A FAT or root area running past the end of the volume leaves no data area.
    if (dataOffset >= g.totalSectors) return false;
    g.fatLba = startLba + g.reservedSectors;
    g.rootDirLba = g.fatLba + fatArea;
    g.dataLba = startLba + dataOffset;

    uint64_t highest = (g.totalSectors - dataOffset) / g.sectorsPerCluster + 1;
    if (g.fat32) {
        g.entryBits = 32;
        if (highest > kFat32Reserved - 1) highest = kFat32Reserved - 1;
    } else if (highest - 1 < kFat12ClusterLimit) {
        g.entryBits = 12;
        if (highest > kFat12Reserved - 1) highest = kFat12Reserved - 1;
    } else {
        g.entryBits = 16;
        if (highest > kFat16Reserved - 1) highest = kFat16Reserved - 1;
    }
    if (highest < 2) return false;
    g.highestCluster = uint32_t(highest);
    return true;
}

uint32_t FatEntry(const FatGeometry& g, const uint8_t* table, uint32_t tableBytes, uint32_t c) {
    ByteView t(table, tableBytes);
    switch (g.entryBits) {
        case 32:
            return t.Has(uint64_t(c) * 4, 4) ? t.U32(size_t(c) * 4) & 0x0FFFFFFF : 0;
        case 12: {
            const uint64_t off = uint64_t(c) + c / 2;
            if (!t.Has(off, 2)) return 0;
            const uint16_t pair = t.U16(size_t(off));
            return (c & 1) ? pair >> 4 : pair & 0x0FFF;
        }
        default:
            return t.Has(uint64_t(c) * 2, 2) ? t.U16(size_t(c) * 2) : 0;
    }
}

}  // namespace kestrel
