#include "fs/ntfs_orphan_partitions.h"

#include <algorithm>
#include <optional>
#include <unordered_map>

#include "app/guarded_memory.h"
#include "app/progress.h"
#include "fs/file_node.h"
#include "fs/ntfs_attributes.h"
#include "fs/ntfs_mft.h"
#include "fs/ntfs_orphan_groups.h"
#include "fs/ntfs_record.h"
#include "fs/ntfs_runs.h"
#include "storage/ntfs_fixup.h"
#include "storage/part_builders.h"
#include "storage/sector_source.h"

namespace kestrel {
namespace {

constexpr uint32_t kLiveMinMembers = 40;
constexpr uint32_t kMinMembers = 50;
constexpr uint32_t kMembersPerKnownPartition = 20;
constexpr uint32_t kMinIndexedChildren = 3;
constexpr uint32_t kMaxIndexedChildren = 30;
// Index blocks of other volumes' directories with the same record number
// also claim a directory; a few of them are enough to find the right one.
constexpr uint32_t kMaxBlocksPerDirectory = 64;
// And a group with thousands of such directories stops reading somewhere.
constexpr uint32_t kMaxBlocksPerGroup = 4096;
constexpr uint32_t kIndexBlockBytes = 4096;
// Without a matching index block the MFT is assumed where a default format
// puts it: cluster 786,432 of 4 KiB clusters, 3 GiB into the volume.
constexpr uint64_t kFallbackMftSectors = 0x600000;
constexpr uint32_t kFallbackClusterSectors = 8;
constexpr uint32_t kReadChunkSectors = 8192;  // 4 MiB

struct Geometry {
    uint64_t startLba = 0;
    uint32_t sectorsPerCluster = 0;
};

bool StopRequested(const ScanState& state) { return state.load() == kScanStopRequested; }

// The cluster number of the first run of the record's $INDEX_ALLOCATION.
std::optional<uint64_t> FirstIndexCluster(const uint8_t* record) {
    std::optional<uint64_t> cluster;
    ForEachAttribute(ByteView(record, kNtfsRecordBytes), [&](const NtfsAttribute& a) {
        if (a.type != kAttrIndexAllocation) return true;
        if (a.NonResident() && a.bytes.U64(0x10) == 0) {
            const ByteView pairs = a.MappingPairs();
            const RunList runs = DecodeRunList(pairs.data(), uint32_t(pairs.size()));
            if (!runs.empty() && !runs.front().sparse && runs.front().delta > 0)
                cluster = uint64_t(runs.front().delta);
        }
        return false;
    });
    return cluster;
}

class GeometryFinder {
public:
    GeometryFinder(SectorSource& src, const std::vector<NtfsRecordFind>& records,
                   const std::vector<NtfsIndexFind>& indexBlocks)
        : src_(src), records_(records) {
        for (const NtfsIndexFind& f : indexBlocks) blocksOf_[f.directoryRecord].push_back(f.lba);
    }

    // The partition start from an index block of one of the group's
    // directories whose entries name exactly that directory's children.
    std::optional<Geometry> FromIndexBlocks(const OrphanGroup& group, uint32_t spc) {
        std::unordered_map<uint32_t, std::vector<uint32_t>> children;
        for (uint32_t i : group) {
            const FileRecordSummary& s = *records_[i].summary;
            if (s.flags & kSummaryInUse) children[s.parentRecord].push_back(s.recordNumber);
        }
        const uint64_t firstLba = records_[group.front()].lba;
        blocksRead_ = 0;
        for (uint32_t i : group) {
            if (blocksRead_ >= kMaxBlocksPerGroup) break;
            const FileRecordSummary& s = *records_[i].summary;
            const uint8_t want = kSummaryInUse | kSummaryDirectory | kSummaryIndexAllocation;
            if ((s.flags & want) != want) continue;
            auto kids = children.find(s.recordNumber);
            if (kids == children.end() || kids->second.size() < kMinIndexedChildren ||
                kids->second.size() > kMaxIndexedChildren)
                continue;
            auto blocks = blocksOf_.find(s.recordNumber);
            if (blocks == blocksOf_.end()) continue;
            const std::optional<uint64_t> blockLba =
                MatchingBlock(blocks->second, kids->second, spc);
            if (!blockLba) continue;
            uint8_t record[kNtfsRecordBytes];
            if (!ReadFileRecordAt(src_, records_[i].lba, record)) continue;
            const std::optional<uint64_t> cluster = FirstIndexCluster(record);
            if (!cluster || *cluster > *blockLba / spc) continue;
            const uint64_t start = *blockLba - *cluster * spc;
            // The MFT lies inside its volume.
            if (start > firstLba) continue;
            return Geometry{start, spc};
        }
        return std::nullopt;
    }

private:
    std::optional<uint64_t> MatchingBlock(const std::vector<uint64_t>& lbas,
                                          const std::vector<uint32_t>& kids, uint32_t spc) {
        std::vector<uint8_t> block(size_t(spc) * kSectorSize);
        uint32_t tried = 0;
        for (uint64_t lba : lbas) {
            if (++tried > kMaxBlocksPerDirectory || ++blocksRead_ > kMaxBlocksPerGroup) break;
            if (!ReadSectors(src_, spc, block.data(), lba)) continue;
            // The fix-up covers one index block; a cluster may be larger.
            const size_t fixBytes = std::min<size_t>(block.size(), kIndexBlockBytes);
            ApplyNtfsFixupWithMagic(block.data(), fixBytes, "INDX");
            std::vector<uint32_t> refs =
                IndexBlockWin32References(ByteView(block.data(), block.size()));
            std::sort(refs.begin(), refs.end());
            const bool all = std::all_of(kids.begin(), kids.end(), [&](uint32_t k) {
                return std::binary_search(refs.begin(), refs.end(), k);
            });
            if (all) return lba;
        }
        return std::nullopt;
    }

    SectorSource& src_;
    const std::vector<NtfsRecordFind>& records_;
    std::unordered_map<uint32_t, std::vector<uint64_t>> blocksOf_;
    uint32_t blocksRead_ = 0;
};

std::optional<Geometry> FallbackGeometry(const std::vector<NtfsRecordFind>& records,
                                         const OrphanGroup& group) {
    const NtfsRecordFind& first = records[group.front()];
    const uint64_t back = 2 * uint64_t(first.summary->recordNumber) + kFallbackMftSectors;
    if (first.lba < back) return std::nullopt;
    return Geometry{first.lba - back, kFallbackClusterSectors};
}

// A boot sector that says what the rebuild found, so that the NTFS data
// paths (and a later MFT read, when the group starts at record 0) work on
// the pseudo partition as on a real one.
void FillBootSector(PartInfo& part, const Geometry& g, std::optional<uint64_t> mftLba) {
    uint8_t* b = part.bootSector;
    std::fill(b, b + sizeof part.bootSector, uint8_t(0));
    b[0] = 0xEB;
    b[1] = 0x52;
    b[2] = 0x90;
    std::copy_n("NTFS    ", 8, b + 3);
    StoreU16(b + 0x0B, kSectorSize);
    b[0x0D] = uint8_t(g.sectorsPerCluster);
    b[0x15] = 0xF8;
    if (mftLba && *mftLba >= g.startLba && (*mftLba - g.startLba) % g.sectorsPerCluster == 0) {
        const uint64_t cluster = (*mftLba - g.startLba) / g.sectorsPerCluster;
        StoreU64(b + 0x30, cluster);
        StoreU64(b + 0x38, cluster);
    }
    b[0x40] = 0xF6;  // 2^10-byte FILE records
    b[0x44] = 0xF4;  // 2^12-byte index blocks
    b[0x1FE] = 0x55;
    b[0x1FF] = 0xAA;
}

PartInfo NewPseudoPartition(const PartInfo& device, const Geometry& g) {
    PartInfo part = RecordOnDevice(device);
    part.partType = 7;
    part.fsKind = kFsNtfs;
    part.startLba = g.startLba;
    part.sizeSectors = kUnknownSizeSectors;
    return part;
}

// Reads the members' records back (in 4 MiB reads over neighbouring
// records) and adds a node for each that parses. False on a stop request.
bool AddMemberNodes(PartInfo& part, SectorSource& src, const std::vector<NtfsRecordFind>& records,
                    const OrphanGroup& group, bool live, ScanState& state) {
    std::vector<uint8_t> chunk(size_t(kReadChunkSectors) * kSectorSize);
    ProgressSnapshot progress;
    for (size_t i = 0; i < group.size();) {
        if (StopRequested(state)) return false;
        const uint64_t chunkLba = records[group[i]].lba;
        size_t end = i + 1;
        while (end < group.size() && records[group[end]].lba - chunkLba <= kReadChunkSectors - 2)
            ++end;
        const uint32_t sectors = uint32_t(records[group[end - 1]].lba - chunkLba + 2);
        // Unreadable sectors arrive as zeros and fail the fix-up.
        ReadSectors(src, sectors, chunk.data(), chunkLba);
        for (; i < end; ++i) {
            const uint64_t lba = records[group[i]].lba;
            uint8_t* rec = chunk.data() + size_t(lba - chunkLba) * kSectorSize;
            if (!FixupFileRecord(rec)) continue;
            FileNode node;
            if (!ParseFileRecord(rec, part, node, false)) continue;
            node.locationLba = lba;
            if (live && node.runList && !(node.flags & kFlagResidentData)) {
                RunList runs = DecodeRunList(node.runList, node.firstCluster);
                if (ResolveRuns(part, runs)) node.locationLba = runs.front().startLba;
            }
            if (AddNode(part, node, false) != 0) CountNodeProgress(node, progress);
        }
    }
    return true;
}

}  // namespace

std::vector<PartInfo> BuildNtfsOrphanPartitions(const std::vector<NtfsRecordFind>& records,
                                                const std::vector<NtfsIndexFind>& indexBlocks,
                                                const PartInfo& device,
                                                const OrphanRebuildOptions& options,
                                                ScanState& state) {
    std::vector<PartInfo> out;
    if (records.empty()) return out;
    if (!options.live)
        PostProgressText(u"准备恢复文件",
                         u"通过残缺的文件记录获取文件信息，预计要较长时间，请稍等！");

    uint32_t minMembers = kLiveMinMembers;
    if (!options.live) {
        minMembers = kMinMembers;
        if (options.knownPartitions > 2)
            minMembers = uint32_t(std::min<uint64_t>(
                uint64_t(kMembersPerKnownPartition) * options.knownPartitions, UINT32_MAX));
    }
    const std::vector<OrphanGroup> groups = GroupOrphanRecords(records, minMembers);
    if (groups.empty()) return out;

    ScopedSource src;
    if (!OpenSourceFromPart(device, *src)) return out;
    GeometryFinder finder(*src, records, indexBlocks);

    for (const OrphanGroup& group : groups) {
        if (out.size() >= options.maxPartitions || StopRequested(state)) break;
        std::optional<Geometry> g;
        if (!options.live) {
            const uint32_t spc = VoteOrphanClusterSectors(records, group);
            if (spc != 0) g = finder.FromIndexBlocks(group, spc);
        }
        if (!g) g = FallbackGeometry(records, group);
        if (!g) continue;

        const NtfsRecordFind& first = records[group.front()];
        PartInfo part = NewPseudoPartition(device, *g);
        const uint64_t firstOffset = 2 * uint64_t(first.summary->recordNumber);
        std::optional<uint64_t> mftLba;
        if (first.lba >= firstOffset) mftLba = first.lba - firstOffset;
        FillBootSector(part, *g, mftLba);
        const uint64_t lastRecord = records[group.back()].summary->recordNumber;
        ReserveNodes(part, uint32_t(std::min<uint64_t>(lastRecord + 1, kFileNodeLimit)));
        if (!AddMemberNodes(part, *src, records, group, options.live, state)) {
            FreeTable(part);
            break;
        }
        AddRootAndLostNodes(part);
        LinkChildren(part);
        CompactTable(part);
        out.push_back(std::move(part));
    }
    return out;
}

}  // namespace kestrel
