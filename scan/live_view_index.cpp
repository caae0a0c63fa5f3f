#include "scan/live_view_index.h"

#include <algorithm>

#include "fs/exfat_layout.h"
#include "fs/fat_geometry.h"
#include "scan/block_schedule.h"

namespace kestrel {

void ShownFileIndex::Reset(uint64_t blockCount) {
    blocks_.clear();
    blocks_.resize(blockCount);
    total_ = 0;
}

void ShownFileIndex::Add(uint64_t lba) {
    const uint64_t block = lba >> kScanBlockShift;
    if (block >= blocks_.size()) return;
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
    if (block >= blocks_.size()) return false;
    BlockList& list = blocks_[block];
    if (!list.sorted) {
        std::sort(list.starts.begin(), list.starts.end());
        list.starts.erase(std::unique(list.starts.begin(), list.starts.end()), list.starts.end());
        list.sorted = true;
    }
    return std::binary_search(list.starts.begin(), list.starts.end(), lba);
}

FileStartResolver::FileStartResolver(const PartInfo& part) : part_(part) {
    const ByteView boot(part.bootSector, sizeof part.bootSector);
    if (part.fsKind == kFsFat16 || part.fsKind == kFsFat32) {
        FatGeometry g;
        if (ParseFatGeometry(boot, part.startLba, part.fsKind, g) && g.sectorsPerCluster != 0) {
            firstClusterLba_ = g.dataLba;
            highestCluster_ = g.highestCluster;
            sectorsPerCluster_ = g.sectorsPerCluster;
            byCluster_ = true;
        }
    } else if (part.fsKind == kFsExfat || part.fsKind == kFsExfatDirs) {
        ExfatGeometry g;
        if (ExfatGeometryOf(part, g) && g.sectorsPerCluster != 0) {
            firstClusterLba_ = g.heapLba;
            highestCluster_ = g.HighestCluster();
            sectorsPerCluster_ = g.sectorsPerCluster;
            byCluster_ = true;
        }
    }
}

bool FileStartResolver::StartOf(const FileNode& node, uint64_t& lba) const {
    if (IsDirectory(node)) return false;
    if (byCluster_) {
        const uint64_t c = node.firstCluster;
        if (c < 2 || c > highestCluster_) return false;
        lba = firstClusterLba_ + (c - 2) * sectorsPerCluster_;
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
