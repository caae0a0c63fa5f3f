#pragma once
// The file-record groups of the live view: the FILE-record items of each
// processed block that held any, kept in block order until the blocks on both
// ends of their run are settled, so that a run of loose records is rebuilt
// once, whole, while the scan goes on.
#include <cstdint>
#include <functional>
#include <vector>

#include "scan/found_item.h"

namespace kestrel {

struct FileRecordGroup {
    uint64_t blockLba = 0;
    std::vector<FoundItem> items;  // copies; the payloads stay the catalogue's
};

class FileRecordGroups {
public:
    void Clear() { groups_.clear(); }
    size_t Count() const { return groups_.size(); }

    // Keeps the FILE-record items of one block (a block filed again replaces
    // its group).
    void Insert(uint64_t blockLba, const std::vector<FoundItem>& blockItems);

    // The groups of consecutive blocks that end directly before (below) or
    // begin directly after blockLba, taken out of the list in block order.
    // A run is taken only when the block bounding it on its far side is
    // settled (outside the scan range or processed; nothing lies below block 0);
    // otherwise it may still grow and stays. Empty when there is no such run.
    using SettledQuery = std::function<bool(uint64_t blockLba)>;
    std::vector<FileRecordGroup> TakeRunBefore(uint64_t blockLba, const SettledQuery& settled);
    std::vector<FileRecordGroup> TakeRunAfter(uint64_t blockLba, const SettledQuery& settled);

private:
    // Index of the group of blockLba, or groups_.size().
    size_t Find(uint64_t blockLba) const;
    std::vector<FileRecordGroup> TakeRange(size_t first, size_t last);

    std::vector<FileRecordGroup> groups_;  // sorted by blockLba
};

}  // namespace kestrel
