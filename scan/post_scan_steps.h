#pragma once
// The list passes of the post-scan processing: filters of the items and of
// the partition list.
#include <cstdint>
#include <unordered_set>
#include <vector>

#include "scan/found_item.h"
#include "scan/length_estimate.h"
#include "scan/scan_options.h"
#include "storage/part_info.h"

namespace kestrel {

// The free-space scan keeps every structure but only the signature finds
// whose first sector lies in a free cluster (and, with cluster alignment,
// starts one). Without allocation data nothing is dropped.
void KeepFindsInFreeSpace(std::vector<FoundItem>& items, const FreeClusterMap& freeMap,
                          bool clusterAlign);

// Drops the structures of the file systems switched off and the signature
// finds of types not selected; with everything on, keeps everything.
void ApplyScanOptionFilter(std::vector<FoundItem>& items, const ScanOptions& options);

// Drops (and frees) partitions of a file system switched off and those
// starting outside the scan range.
void DropPartitionsOutsideOptions(std::vector<PartInfo>& list, const ScanOptions& options);

// Positions the readers claimed while reading the partitions: MFT and index
// extents and directory sectors. Record, index-block and directory items at
// one of them become code 238.
struct UsedStructures {
    std::vector<std::pair<uint64_t, uint64_t>> recordAreas;  // [start, end), 2-sector records
    std::vector<std::pair<uint64_t, uint64_t>> indexAreas;   // [start, end)
    std::unordered_set<uint64_t> directories;
    void AddFatDirectories(const std::vector<uint64_t>& lbas);
    // From the NTFS reader's known extents.
    void TakeNtfsExtents();
    bool Contains(const FoundItem& item) const;
};
void NeutraliseUsedStructures(std::vector<FoundItem>& items, UsedStructures& used);

// With 9 or more partitions, keeps (frees the others) only those with more
// than 2 files of the kind the mode lists (deleted in RecoverMode 1, live
// otherwise) whose names do not begin with "$".
void KeepBusyPartitions(std::vector<PartInfo>& list, int32_t recoverMode);

}  // namespace kestrel
