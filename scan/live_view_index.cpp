#include "scan/live_view_index.h"

#include <algorithm>

#include "scan/block_schedule.h"
#include "scan/length_estimate.h"

namespace kestrel {

void ShownFileIndex::Reset(uint64_t blockCount) {
    blocks_.clear();
    blockCount_ = blockCount;
    total_ = 0;
}

void ShownFileIndex::Add(uint64_t lba) {
    const uint64_t block = lba >> kScanBlockShift;
    if (block >= blockCount_) return;
    BlockList& list = blocks_[block];
    std::vector<uint64_t>& v = list.starts;
    // Most blocks hold a handful of files: start small, grow by half.
    if (v.size() == v.capacity()) v.reserve(v.empty() ? 8 : v.capacity() + v.capacity() / 2);
    if (!v.empty() && v.back() > lba) list.sorted = false;
    v.push_back(lba);
    ++total_;
}

bool ShownFileIndex::Contains(uint64_t lba) const {
    const uint64_t block = lba >> kScanBlockShift;
    const auto at = blocks_.find(block);
    if (at == blocks_.end()) return false;
    BlockList& list = at->second;
    if (!list.sorted) {
        std::sort(list.starts.begin(), list.starts.end());
        list.starts.erase(std::unique(list.starts.begin(), list.starts.end()), list.starts.end());
        list.sorted = true;
    }
    return std::binary_search(list.starts.begin(), list.starts.end(), lba);
}

FileStartResolver::FileStartResolver(const PartInfo& part) : part_(part) {
    byCluster_ = ClusterHeapOf(part, cluster2Lba_, sectorsPerCluster_) && sectorsPerCluster_ != 0;
}

bool FileStartResolver::StartOf(const FileNode& node, uint64_t& lba) const {
    if (IsDirectory(node)) return false;
    if (byCluster_) {
        if (node.firstCluster < 2) return false;
        const uint64_t offset = uint64_t(node.firstCluster - 2) * sectorsPerCluster_;
        if (offset > UINT64_MAX - cluster2Lba_) return false;
        lba = cluster2Lba_ + offset;
        return true;
    }
    // A resident NTFS file's location is its FILE record, never a carved start.
    if (part_.fsKind == kFsNtfs && (node.flags & kFlagResidentData) != 0) return false;
    if (node.locationLba == 0) return false;
    lba = node.locationLba;
    return true;
}

void AddPartitionFileStarts(const PartInfo& part, ShownFileIndex& index) {
    const FileStartResolver resolver(part);
    for (uint32_t id = 0; id < part.nodeCount; ++id) {
        const FileNode* node = GetNode(part, id);
        uint64_t lba = 0;
        if (node != nullptr && resolver.StartOf(*node, lba)) index.Add(lba);
    }
}

}  // namespace kestrel
