#pragma once
// The layout of a FAT volume taken from its boot sector, and the FAT entry
// lookup that chains and free-cluster tests use. Pure: no I/O.
#include <cstdint>

#include "platform/bytes.h"

namespace kestrel {

struct FatGeometry {
    uint32_t sectorsPerCluster = 0;
    uint32_t reservedSectors = 0;
    uint32_t fatCount = 0;
    uint32_t rootEntries = 0;
    uint32_t fatSectors = 0;
    uint32_t totalSectors = 0;
    uint32_t rootCluster = 0;     // FAT32
    uint32_t rootDirSectors = 0;  // FAT12/16 fixed root area, rounded up
    uint64_t fatLba = 0;          // absolute LBA of the first FAT
    uint64_t rootDirLba = 0;      // absolute LBA of the FAT12/16 root area
    uint64_t dataLba = 0;         // absolute LBA of cluster 2
    uint32_t highestCluster = 0;  // highest valid cluster number
    uint32_t entryBits = 16;      // 12, 16 or 32
    bool fat32 = false;

    uint32_t ClusterBytes() const { return sectorsPerCluster * 512; }
    bool IsDataCluster(uint32_t c) const { return c >= 2 && c <= highestCluster; }
    uint64_t ClusterLba(uint32_t c) const { return dataLba + uint64_t(c - 2) * sectorsPerCluster; }
};

// fsKind 11 reads the volume as FAT32, anything else as FAT12/16 (by cluster
// count). False when the boot sector describes no usable data area.
bool ParseFatGeometry(ByteView boot, uint64_t startLba, uint32_t fsKind, FatGeometry& g);

// The FAT entry of cluster c in a FAT copy; 0 when c lies outside the copy.
// FAT32 entries lose their reserved top four bits.
uint32_t FatEntry(const FatGeometry& g, const uint8_t* table, uint32_t tableBytes, uint32_t c);

}  // namespace kestrel
