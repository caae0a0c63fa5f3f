#pragma once
// Pure tests on single 512-byte sectors that tell FAT structures apart from
// other data: the first sector of a FAT, the first sector of a subdirectory
// and the first sector of a root directory. No I/O.
#include <cstdint>

#include "platform/bytes.h"

namespace kestrel {

enum class FatWidth { Fat16, Fat32 };

// The first sector of a FAT: the media entry 0 and mostly free, end-of-chain
// or consecutive entries after it.
bool IsPlausibleFatSector(ByteView sector, FatWidth width);

// A subdirectory's first sector begins with its "." and ".." entries.
bool IsFatSubdirSector(ByteView sector);

// Cluster numbers a subdirectory's first sector names: its own (from ".")
// and its parent's (from ".."; 0 when the parent is the root).
struct FatSubdirClusters {
    uint32_t own = 0;
    uint32_t parent = 0;
};
FatSubdirClusters ReadFatSubdirClusters(ByteView sector);

// A root directory's first sector begins with the volume-label entry.
bool IsFatRootDirSector(ByteView sector);

}  // namespace kestrel
