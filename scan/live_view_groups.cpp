#include "scan/live_view_groups.h"

#include <algorithm>

#include "scan/block_schedule.h"

namespace kestrel {

void FileRecordGroups::Insert(uint64_t blockLba, const std::vector<FoundItem>& blockItems) {
    FileRecordGroup g;
    g.blockLba = blockLba;
    for (const FoundItem& it : blockItems)
        if (it.type == kCodeFileRecord && it.data != nullptr) g.items.push_back(it);
    if (g.items.empty()) return;
    auto at = std::lower_bound(groups_.begin(), groups_.end(), blockLba,
                               [](const FileRecordGroup& a, uint64_t b) { return a.blockLba < b; });
    if (at != groups_.end() && at->blockLba == blockLba) {
        *at = std::move(g);
    } else {
        groups_.insert(at, std::move(g));
    }
}

size_t FileRecordGroups::Find(uint64_t blockLba) const {
    auto at = std::lower_bound(groups_.begin(), groups_.end(), blockLba,
                               [](const FileRecordGroup& a, uint64_t b) { return a.blockLba < b; });
    if (at == groups_.end() || at->blockLba != blockLba) return groups_.size();
    return size_t(at - groups_.begin());
}

std::vector<FileRecordGroup> FileRecordGroups::TakeRange(size_t first, size_t last) {
    std::vector<FileRecordGroup> out(std::make_move_iterator(groups_.begin() + first),
                                     std::make_move_iterator(groups_.begin() + last + 1));
    groups_.erase(groups_.begin() + first, groups_.begin() + last + 1);
    return out;
}

std::vector<FileRecordGroup> FileRecordGroups::TakeRunBefore(uint64_t blockLba,
                                                             const SettledQuery& settled) {
    if (blockLba < kScanBlockSectors) return {};
    const size_t last = Find(blockLba - kScanBlockSectors);
    if (last == groups_.size()) return {};
    // The list is sorted, so a run of consecutive blocks is a run of indexes.
    size_t first = last;
    while (first > 0 && groups_[first - 1].blockLba + kScanBlockSectors == groups_[first].blockLba)
        --first;
    const uint64_t runStart = groups_[first].blockLba;
    if (runStart >= kScanBlockSectors && !settled(runStart - kScanBlockSectors)) return {};
    return TakeRange(first, last);
}

std::vector<FileRecordGroup> FileRecordGroups::TakeRunAfter(uint64_t blockLba,
                                                            const SettledQuery& settled) {
    if (blockLba > UINT64_MAX - kScanBlockSectors) return {};
    const size_t first = Find(blockLba + kScanBlockSectors);
    if (first == groups_.size()) return {};
    size_t last = first;
    while (last + 1 < groups_.size() &&
           groups_[last].blockLba + kScanBlockSectors == groups_[last + 1].blockLba)
        ++last;
    const uint64_t runEnd = groups_[last].blockLba;
    if (runEnd <= UINT64_MAX - kScanBlockSectors && !settled(runEnd + kScanBlockSectors)) return {};
    return TakeRange(first, last);
}

}  // namespace kestrel
