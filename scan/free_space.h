#pragma once
// The allocation answer of the free-space-only scan ("恢复删除的文件"): which
// blocks of a partition hold nothing but clusters in use.
#include "scan/block_schedule.h"
#include "storage/part_info.h"

namespace kestrel {

// Built from the allocation data of the volume: the FAT copy the reader left
// in fsTable (FAT12/16/32), the exFAT allocation bitmap the reader left in
// allocMap, or the NTFS cluster bitmap ($Bitmap, read from the device here
// unless allocMap already holds it). Missing allocation data and an unknown
// cluster size give an empty query: every block is read. For FAT and exFAT
// the record must outlive the query.
BlockAllocatedQuery MakeAllocationQuery(const PartInfo& part);

}  // namespace kestrel
