#pragma once
// The allocation answer of the free-space-only scan ("恢复删除的文件"): which
// blocks of a partition hold nothing but clusters in use.
#include "scan/block_schedule.h"
#include "storage/part_info.h"

namespace kestrel {

// Built from the allocation data the file-system reader left in the record:
// the FAT copy (fsTable) of a FAT12/16/32 volume, or the NTFS cluster bitmap
// (allocMap, one bit per cluster). exFAT volumes, a missing table and an
// unknown cluster size give an empty query: every block is read. The record
// must outlive the query.
BlockAllocatedQuery MakeAllocationQuery(const PartInfo& part);

}  // namespace kestrel
