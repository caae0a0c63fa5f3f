#pragma once
// Cluster lists of exFAT directories and files, computed from the in-memory
// FAT copy and allocation bitmap. Pure: no device reads. Every list is
// bounded by the clusters its size needs and by the heap, and stops at the
// first cluster it already holds, so a looping or cross-linked FAT cannot
// make it grow without end.
#include <cstdint>
#include <vector>

#include "fs/exfat_layout.h"
#include "platform/bytes.h"

namespace kestrel {

struct ExfatTables {
    ByteView fat;     // u32 entries, entry c at byte 4c; empty when unknown
    ByteView bitmap;  // bit c - 2 for cluster c; empty when unknown
};

// FAT entry of cluster c; 0 when the copy does not reach it.
uint32_t ExfatFatEntry(const ExfatTables& t, uint32_t c);
// True when the bitmap marks cluster c allocated (false without a bitmap).
bool ExfatClusterAllocated(const ExfatTables& t, uint32_t c);

// A directory's clusters until they cover byteSize. contiguous: the entry
// said the clusters are consecutive. Without a FAT copy (and without that
// flag) the first cluster alone. With one: an end-of-chain entry or 1 ends
// the list; 0 or a number beyond the heap continues with the next cluster,
// since a directory whose FAT entries were cleared usually still lies in
// consecutive clusters.
std::vector<uint32_t> ExfatDirectoryClusters(const ExfatGeometry& g, const ExfatTables& t,
                                             uint32_t firstCluster, uint64_t byteSize,
                                             bool contiguous);

// A file's clusters until they cover size. Consecutive clusters when the
// stream said so; otherwise the FAT chain. Where the chain holds no usable
// link (0, 1, a reserved value or a number beyond the heap), the file goes on
// in the next cluster when it is deleted (its FAT links were cleared with
// it) or when the bitmap marks that cluster allocated; otherwise the list
// ends there. An intact link always wins over the bitmap: the next cluster
// may belong to another file.
std::vector<uint32_t> ExfatFileClusters(const ExfatGeometry& g, const ExfatTables& t,
                                        uint32_t firstCluster, uint64_t size, bool contiguous,
                                        bool deleted);

}  // namespace kestrel
