#include "fs/ntfs_orphan_groups.h"

#include <algorithm>

#include "fs/ntfs_attributes.h"

namespace kestrel {
namespace {

constexpr uint32_t kMissesEndingGroup = 21;
constexpr uint32_t kMinClusterVotes = 20;
constexpr uint64_t kMaxClusterBytes = 64 * 1024;
constexpr uint32_t kMinClusterSectors = 4;

// Index node header at 0x18 of the block; entry offsets count from there.
constexpr size_t kIndexHeader = 0x18;
constexpr size_t kEntryHeader = 16;

}  // namespace

std::vector<OrphanGroup> GroupOrphanRecords(const std::vector<NtfsRecordFind>& records,
                                            uint32_t minMembers) {
    std::vector<OrphanGroup> groups;
    const size_t n = records.size();
    size_t next = 0;
    while (next < n) {
        const size_t anchor = next;
        const uint64_t r0 = records[anchor].summary->recordNumber;
        const uint64_t l0 = records[anchor].lba;
        OrphanGroup group{uint32_t(anchor)};
        uint64_t lastLba = l0;
        uint32_t misses = 0;
        for (size_t j = anchor + 1; j < n && misses < kMissesEndingGroup; ++j) {
            const uint64_t rec = records[j].summary->recordNumber;
            const uint64_t lba = records[j].lba;
            // Strictly rising LBAs: a duplicated find must not become a
            // second member for the same record.
            if (rec > r0 && lba > lastLba && lba - l0 == 2 * (rec - r0)) {
                group.push_back(uint32_t(j));
                lastLba = lba;
                misses = 0;
            } else {
                ++misses;
            }
        }
        next = size_t(group.back()) + 1;
        if (group.size() >= minMembers) groups.push_back(std::move(group));
    }
    return groups;
}

uint32_t VoteOrphanClusterSectors(const std::vector<NtfsRecordFind>& records,
                                  const OrphanGroup& group) {
    std::vector<uint64_t> sizes;
    for (uint32_t i : group) {
        const FileRecordSummary& s = *records[i].summary;
        const bool inUseFile = (s.flags & (kSummaryInUse | kSummaryDirectory)) == kSummaryInUse;
        if (!inUseFile || (s.flags & kSummaryResidentData)) continue;
        if (s.allocatedSize >= 512 && s.allocatedSize % 512 == 0) sizes.push_back(s.allocatedSize);
    }
    if (sizes.size() < kMinClusterVotes) return 0;
    const uint64_t cluster =
        std::min(*std::min_element(sizes.begin(), sizes.end()), kMaxClusterBytes);
    for (uint64_t s : sizes)
        if (s % cluster != 0) return 0;
    const uint32_t spc = uint32_t(cluster / 512);
    return spc >= kMinClusterSectors ? spc : 0;
}

std::vector<uint32_t> IndexBlockWin32References(ByteView block) {
    std::vector<uint32_t> refs;
    if (!block.Equals(0, "INDX", 4) || !block.Has(kIndexHeader, 4)) return refs;
    const uint32_t firstEntry = block.U32(kIndexHeader);
    if (firstEntry > block.size() - kIndexHeader) return refs;
    size_t off = kIndexHeader + firstEntry;
    // Every entry is at least 16 bytes long, so the walk ends.
    while (block.Has(off, kEntryHeader)) {
        const uint16_t len = block.U16(off + 8);
        const uint32_t flags = block.U32(off + 12);
        if (flags > 1 || len < kEntryHeader || !block.Has(off, len)) break;
        if (len >= kEntryHeader + 0x42) {
            const uint8_t ns = block.U8(off + kEntryHeader + 0x41);
            if (ns == kNameWin32 || ns == kNameWin32AndDos) refs.push_back(block.U32(off));
        }
        off += len;
    }
    return refs;
}

}  // namespace kestrel
