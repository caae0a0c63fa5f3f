#include "fs/exfat_dir_partitions.h"

#include <algorithm>
#include <unordered_map>

#include "app/progress.h"
#include "fs/exfat_dir_runs.h"
#include "fs/exfat_layout.h"
#include "fs/exfat_reader.h"
#include "fs/file_node.h"
#include "storage/part_builders.h"
#include "storage/sector_source.h"

namespace kestrel {
namespace {

// A run's first directory entry set lies near its start; a long run of
// directory sectors is not read in full for the vote.
constexpr uint32_t kMaxVoteSectors = 256;
// What the walk of a top-level directory asks for: its size is not known.
constexpr uint64_t kTopDirectoryBytes = 64 * 1024;

// The LBA of cluster 2 most runs agree on: each run's first subdirectory is
// taken to be the next run on the grid.
std::optional<uint64_t> VoteCluster2Lba(SectorSource& src, const std::vector<ExfatDirRun>& runs,
                                        const std::vector<uint32_t>& picked, uint32_t cluster,
                                        ScanState& state) {
    std::unordered_map<int64_t, uint32_t> votes;
    std::vector<int64_t> order;  // first seen first, for ties
    std::vector<uint8_t> buffer(size_t(kMaxVoteSectors) * kSectorSize);
    for (size_t k = 0; k + 1 < picked.size(); ++k) {
        if (state.load() == kScanStopRequested) return std::nullopt;
        const ExfatDirRun& run = runs[picked[k]];
        const uint32_t sectors = std::min(run.sectors, kMaxVoteSectors);
        std::fill(buffer.begin(), buffer.end(), uint8_t(0));
        ReadSectors(src, sectors, buffer.data(), run.start);
        const auto c =
            FirstSubdirectoryCluster(ByteView(buffer.data(), size_t(sectors) * kSectorSize));
        if (!c) continue;
        const int64_t base = int64_t(runs[picked[k + 1]].start) - int64_t(cluster) * int64_t(*c);
        if (base <= 0) continue;
        if (votes[base]++ == 0) order.push_back(base);
    }
    if (order.empty()) return std::nullopt;
    int64_t best = order.front();
    for (int64_t b : order)
        if (votes[b] > votes[best]) best = b;
    return uint64_t(best) + 2 * uint64_t(cluster);
}

bool KnownExfatHasHeapAt(const std::vector<PartInfo>& known, uint64_t cluster2Lba) {
    for (const PartInfo& p : known) {
        if (p.fsKind != kFsExfat) continue;
        ExfatGeometry g;
        if (ExfatGeometryOf(p, g) && uint32_t(g.heapLba) == uint32_t(cluster2Lba)) return true;
    }
    return false;
}

PartInfo NewExfatDirPartition(const PartInfo& device, uint32_t cluster2Lba, uint32_t cluster) {
    PartInfo part = RecordOnDevice(device);
    part.fsKind = kFsExfatDirs;
    part.sizeSectors = kUnknownSizeSectors;
    // These partitions keep the absolute LBA of cluster 2 in the heap-offset
    // field; with no cluster count the heap is taken as unbounded.
    StoreU32(part.bootSector + 0x58, cluster2Lba);
    uint8_t shift = 0;
    while ((1u << shift) < cluster) ++shift;
    part.bootSector[0x6D] = shift;
    return part;
}

// Walks the grid's runs from cluster 2 on, each as a directory below the
// root. Only the run a walk starts from is consumed: a subdirectory that an
// earlier walk read below its parent is walked again when its own run comes
// up, and shows a second time directly below the root. Nothing tells a
// subdirectory whose parent survived from one whose parent is lost, so both
// are kept where the user can find them.
void WalkRuns(PartInfo& part, const std::vector<ExfatDirRun>& runs,
              const std::vector<uint32_t>& picked, uint32_t cluster2Lba, uint32_t cluster,
              ScanState& state) {
    std::unordered_map<uint32_t, size_t> runAtCluster;
    for (size_t k = 0; k < picked.size(); ++k) {
        const uint32_t start = runs[picked[k]].start;
        if (start < cluster2Lba || (start - cluster2Lba) % cluster != 0) continue;
        runAtCluster.emplace((start - cluster2Lba) / cluster + 2, k);
    }
    std::vector<bool> consumed(picked.size(), false);
    ProgressSnapshot progress;
    for (size_t k = 0; k < picked.size(); ++k) {
        const uint32_t start = runs[picked[k]].start;
        if (consumed[k] || start < cluster2Lba || (start - cluster2Lba) % cluster != 0) continue;
        consumed[k] = true;
        const uint32_t c = (start - cluster2Lba) / cluster + 2;
        if (!WalkExfatDirectory(part, state, progress, c, kTopDirectoryBytes, kRootNodeId)) return;
        auto it = runAtCluster.find(c);
        if (it != runAtCluster.end()) consumed[it->second] = true;
    }
}

}  // namespace

std::vector<PartInfo> BuildExfatDirPartitions(const std::vector<uint64_t>& dirSectorLbas,
                                              const PartInfo& device,
                                              const std::vector<PartInfo>& known,
                                              ScanState& state) {
    std::vector<PartInfo> out;
    const std::vector<ExfatDirRun> runs = MergeExfatDirRuns(dirSectorLbas);
    const uint32_t cluster = VoteExfatClusterSectors(runs);
    if (cluster == 0) return out;
    const std::vector<uint32_t> picked = SelectAlignedRuns(runs, cluster);
    if (picked.empty()) return out;

    ScopedSource src;
    if (!OpenSourceFromPart(device, *src)) return out;
    const std::optional<uint64_t> cluster2 = VoteCluster2Lba(*src, runs, picked, cluster, state);
    if (!cluster2 || *cluster2 > UINT32_MAX) return out;
    if (KnownExfatHasHeapAt(known, *cluster2)) return out;

    PartInfo part = NewExfatDirPartition(device, uint32_t(*cluster2), cluster);
    AddRootAndLostNodes(part);
    WalkRuns(part, runs, picked, uint32_t(*cluster2), cluster, state);
    LinkChildren(part);
    out.push_back(std::move(part));
    return out;
}

}  // namespace kestrel
