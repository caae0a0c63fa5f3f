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
// Sector ranges sorted by start, looked up in logarithmic time.
class SectorRanges {
public:
    void Add(uint64_t start, uint64_t end);  // [start, end)
    void Sort();
    // The first range holding lba; with evenSteps only at an even distance
    // from that range's start.
    bool Contains(uint64_t lba, bool evenSteps) const;

private:
    struct Range {
        uint64_t start, end;
    };
    std::vector<Range> ranges_;
    std::vector<uint64_t> maxEnd_;  // highest end among ranges_[0..i]
};

struct UsedStructures {
    SectorRanges recordAreas;  // 2-sector records
    SectorRanges indexAreas;
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
