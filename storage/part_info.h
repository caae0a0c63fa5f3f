#pragma once
// PartInfo: the record of everything recovered from — a partition, a whole
// disk, an image, or a pseudo-partition built by the deep scan. It is copied
// by value; a copy shares the node table and reader buffers, and only the
// copy kept in the result set frees them (FreeTable).
#include <cstdint>

#include "platform/wide_text.h"

namespace kestrel {

// File-system kind codes of PartInfo::fsKind.
enum FsKind : uint32_t {
    kFsUnknown = 0,
    kFsExfat = 4,
    kFsFat16 = 10,  // FAT12 volumes too
    kFsFat32 = 11,
    kFsNtfs = 12,
    kFsFoundFiles = 15,
    kFsFatDirs = 16,
    kFsExfatDirs = 17,
};

// 2^48 in sizeSectors marks a partition of unknown size.
constexpr uint64_t kUnknownSizeSectors = uint64_t(1) << 48;

struct PartInfo {
    uint32_t isActive = 0;
    uint32_t entryKind = 0;  // 0 not from a table, 1 extended container, 2 other entry
    uint8_t partType = 0;
    uint32_t fsKind = kFsUnknown;
    uint64_t startLba = 0;
    uint64_t freeSectors = 0;
    uint64_t sizeSectors = 0;
    uint64_t deviceSectors = 0;
    uint32_t isRemovable = 0;
    uint8_t bootSector[512] = {};
    // Node table (FileNode or NodeRef records, see fs/file_node.h).
    void* nodes = nullptr;
    uint32_t nodeCapacity = 0;
    uint32_t nodeCount = 0;
    uint32_t listedTotal = 0;
    // Reader-owned guarded buffers: the FAT copy, the exFAT allocation bitmap.
    uint8_t* fsTable = nullptr;
    uint32_t fsTableBytes = 0;
    uint8_t* allocMap = nullptr;
    uint32_t allocMapBytes = 0;
    uint32_t serial = 0;
    WString diskName;  // also the device identity of the scan-state file
    WString diskDesc;
    WString devicePath;  // what OpenSourceFromPart opens: a disk device or an image file
    WString volumePath;  // the partition's own device when it has one, else empty
    WString label;
    WString fsName;
    uint32_t linkedCount = 0;
};

}  // namespace kestrel
