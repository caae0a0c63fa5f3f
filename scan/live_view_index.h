#pragma once
// The shown-file index of the live view: per 8 MiB block of the device, the
// start sectors of the files of partitions already shown, so that a carved
// find at one of them is not shown a second time in the found files.
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "fs/file_node.h"
#include "storage/part_info.h"

namespace kestrel {

class ShownFileIndex {
public:
    // Drops every start; lists are kept for blockCount blocks (starts beyond
    // them are not kept and never match).
    void Reset(uint64_t blockCount);
    void Add(uint64_t lba);
    bool Contains(uint64_t lba) const;
    uint64_t Size() const { return total_; }

private:
    // A block's list stays unsorted while starts arrive and is sorted (and
    // stripped of repeats) by the first look-up after them.
    struct BlockList {
        std::vector<uint64_t> starts;
        bool sorted = true;
    };
    // Only blocks that hold a shown file have a list: most of a large disk
    // holds none.
    mutable std::unordered_map<uint64_t, BlockList> blocks_;
    uint64_t blockCount_ = 0;
    uint64_t total_ = 0;
};

// Where a file node's data begins on the device: the first cluster of a FAT
// or exFAT file, the first run of a non-resident NTFS file, else its location.
// False for directories and for files whose start is unknown.
class FileStartResolver {
public:
    explicit FileStartResolver(const PartInfo& part);
    bool StartOf(const FileNode& node, uint64_t& lba) const;

private:
    const PartInfo& part_;
    uint64_t cluster2Lba_ = 0;  // FAT and exFAT
    uint32_t sectorsPerCluster_ = 0;
    bool byCluster_ = false;
};

// Puts the starts of every file of a partition's table into the index.
void AddPartitionFileStarts(const PartInfo& part, ShownFileIndex& index);

}  // namespace kestrel
