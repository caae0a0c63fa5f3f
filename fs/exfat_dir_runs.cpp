#include "fs/exfat_dir_runs.h"

#include "fs/exfat_entries.h"

namespace kestrel {
namespace {

constexpr size_t kMinRuns = 20;
constexpr uint32_t kMaxClusterShift = 15;

// More than 80 %, in integers.
bool MoreThanFourFifths(uint64_t part, uint64_t whole) { return part * 5 > whole * 4; }

}  // namespace

std::vector<ExfatDirRun> MergeExfatDirRuns(const std::vector<uint64_t>& lbas) {
    std::vector<ExfatDirRun> runs;
    uint64_t last = 0;
    for (uint64_t lba : lbas) {
        if (!runs.empty() && lba == last + 1 && runs.back().sectors < UINT32_MAX) {
            ++runs.back().sectors;
        } else if (runs.empty() || lba != last) {
            runs.push_back({uint32_t(lba), 1});
        }
        last = lba;
    }
    return runs;
}

uint32_t VoteExfatClusterSectors(const std::vector<ExfatDirRun>& runs) {
    if (runs.size() < kMinRuns) return 0;
    uint64_t counts[kMaxClusterShift + 1] = {};
    for (size_t i = 0; i + 1 < runs.size(); ++i) {
        // Modulo 2^32 the distance keeps its divisibility by every power of
        // two up to 2^31, so starts cut to 32 bits still vote right.
        const uint32_t diff = runs[i + 1].start - runs[i].start;
        for (uint32_t j = 0; j <= kMaxClusterShift; ++j)
            if (diff % (1u << j) == 0) ++counts[j];
    }
    if (counts[1] == 0) return 0;
    for (uint32_t j = kMaxClusterShift; j >= 1; --j)
        if (MoreThanFourFifths(counts[j], counts[1])) return 1u << j;
    return 0;
}

std::vector<uint32_t> SelectAlignedRuns(const std::vector<ExfatDirRun>& runs,
                                        uint32_t clusterSectors) {
    if (clusterSectors == 0) return {};
    for (size_t i = 0; i < runs.size() / 4; ++i) {
        std::vector<uint32_t> picked{uint32_t(i)};
        for (size_t k = i + 1; k < runs.size(); ++k)
            if (uint32_t(runs[k].start - runs[i].start) % clusterSectors == 0)
                picked.push_back(uint32_t(k));
        if (MoreThanFourFifths(picked.size(), runs.size())) return picked;
    }
    return {};
}

std::optional<uint32_t> FirstSubdirectoryCluster(ByteView entries) {
    for (size_t off = 0; entries.Has(off, kExfatEntryBytes); off += kExfatEntryBytes) {
        const uint8_t type = entries.U8(off);
        if (type == kExfatEndOfDirectory || type == kExfatDeletedFileEntry) break;
        if (type != kExfatFileEntry || !(entries.U16(off + 4) & kExfatAttrDirectory)) continue;
        const size_t next = off + kExfatEntryBytes;
        if (entries.Has(next, kExfatEntryBytes) && entries.U8(next) == kExfatStreamEntry)
            return entries.U32(next + 0x14);
    }
    return std::nullopt;
}

}  // namespace kestrel
