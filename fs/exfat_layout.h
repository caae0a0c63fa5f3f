#pragma once
// exFAT volume geometry from a boot-sector copy. The heap's clusters are
// numbered 2 .. clusterCount + 1; cluster c starts at heapLba + (c - 2) x
// sectorsPerCluster. Parsing is pure; nothing here reads the device.
#include <cstdint>

#include "platform/bytes.h"
#include "storage/part_info.h"

namespace kestrel {

constexpr uint32_t kExfatFirstCluster = 2;
constexpr uint32_t kExfatEndOfChain = 0xFFFFFFFF;
// With 512-byte sectors a cluster is at most 32 MiB (shift 16).
constexpr uint32_t kExfatMaxClusterShift = 16;
// The largest directory exFAT allows; a bigger stated size is damage.
constexpr uint64_t kExfatMaxDirBytes = 256ull << 20;

struct ExfatGeometry {
    uint64_t fatLba = 0;  // absolute; meaningless for found directory partitions
    uint32_t fatSectors = 0;
    uint64_t heapLba = 0;  // absolute LBA of cluster 2
    uint32_t clusterCount = 0;
    uint32_t rootCluster = 0;
    uint32_t clusterShift = 0;  // sectors per cluster = 1 << shift
    uint32_t sectorsPerCluster = 0;
    uint32_t clusterBytes = 0;

    uint32_t HighestCluster() const { return clusterCount + 1; }
    bool IsHeapCluster(uint32_t c) const {
        return c >= kExfatFirstCluster && c - kExfatFirstCluster < clusterCount;
    }
    uint64_t ClusterLba(uint32_t c) const {
        return heapLba + uint64_t(c - kExfatFirstCluster) * sectorsPerCluster;
    }
};

// True when bytes 3..7 read "EXFAT".
bool HasExfatSignature(ByteView boot);

// Geometry of a volume whose boot sector is boot and which starts at
// startLba. heapIsAbsolute: the heap-offset field already holds the absolute
// LBA of cluster 2 (directory partitions rebuilt by the deep scan). False when
// the fields cannot describe a volume.
bool ParseExfatGeometry(ByteView boot, uint64_t startLba, bool heapIsAbsolute,
                        ExfatGeometry& geometry);

// The geometry of an exFAT partition record (kind 4) or of a rebuilt exFAT
// directory partition (kind 17).
bool ExfatGeometryOf(const PartInfo& part, ExfatGeometry& geometry);

}  // namespace kestrel
