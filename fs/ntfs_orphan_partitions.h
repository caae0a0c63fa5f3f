#pragma once
// NTFS pseudo partitions rebuilt from FILE records the deep scan found loose
// on the disk, after the known partitions have been read: the records left
// over belong to no known MFT. Records are grouped into MFT runs; each group
// large enough becomes a partition of unknown size whose geometry is worked
// out from the records' allocated sizes and from matching index blocks.
#include <cstdint>
#include <vector>

#include "app/scan_state.h"
#include "fs/ntfs_record_summary.h"
#include "storage/part_info.h"

namespace kestrel {

// A FILE-record find (type 224) with the summary the scan kept for it.
struct NtfsRecordFind {
    uint64_t lba = 0;
    const FileRecordSummary* summary = nullptr;  // never null
};
// An index-block find (type 225): the directory record it belongs to.
struct NtfsIndexFind {
    uint64_t lba = 0;
    uint32_t directoryRecord = 0;
};

struct OrphanRebuildOptions {
    uint32_t knownPartitions = 0;  // partitions the scan already knows
    // The live view: the plain 40-member rule, the fixed geometry fallback
    // only, typeIds and first-run LBAs set, and at most maxPartitions built.
    bool live = false;
    uint32_t maxPartitions = UINT32_MAX;
};

// records and indexBlocks in LBA order; device names the scanned device.
// Returns the built partitions (trees linked and compacted), owned by the
// caller.
std::vector<PartInfo> BuildNtfsOrphanPartitions(const std::vector<NtfsRecordFind>& records,
                                                const std::vector<NtfsIndexFind>& indexBlocks,
                                                const PartInfo& device,
                                                const OrphanRebuildOptions& options,
                                                ScanState& state);

}  // namespace kestrel
