#include "fs/fat_reader.h"

#include <unordered_set>
#include <vector>

#include "app/guarded_memory.h"
#include "fs/fat_cluster_resolution.h"
#include "fs/fat_directory.h"
#include "fs/fat_geometry.h"
#include "fs/fat_visited.h"
#include "fs/file_node.h"
#include "storage/sector_source.h"

namespace kestrel {

namespace {

// The FAT copy held in memory is at most 128 MiB.
constexpr uint32_t kMaxFatCopySectors = 0x40000;
constexpr uint32_t kMaxDirClusters = 1024;
// Deeper nesting than any path a FAT volume can hold is damage.
constexpr uint32_t kMaxDirDepth = 128;

bool StopRequested(const ScanState& state) { return state.load() == kScanStopRequested; }

uint32_t FatCopySectors(const PartInfo& part, const FatGeometry& g) {
    if (g.fatSectors <= kMaxFatCopySectors) return g.fatSectors;
    const uint64_t cut = (part.sizeSectors / g.sectorsPerCluster) / 8;
    return cut < kMaxFatCopySectors ? uint32_t(cut) : kMaxFatCopySectors;
}

// Reads the first FAT into the partition's fsTable. Unreadable sectors stay
// zero; the copy is made in every case.
void LoadFatCopy(PartInfo& part, const FatGeometry& g, SectorSource& src) {
    if (part.fsTable) GuardedFree(part.fsTable);
    part.fsTable = nullptr;
    part.fsTableBytes = 0;
    const uint32_t sectors = FatCopySectors(part, g);
    if (sectors == 0) return;
    part.fsTableBytes = sectors * kSectorSize;
    part.fsTable = static_cast<uint8_t*>(GuardedAlloc(part.fsTableBytes, __LINE__));
    if (ReadSectors(src, sectors, part.fsTable, g.fatLba)) return;
    if (g.fatCount < 2) {
        ReadSectors(src, sectors, part.fsTable, g.fatLba);
        return;
    }
    // The second FAT starts one whole FAT after the first, even when the copy
    // was cut shorter than the FAT.
    const uint64_t secondLba = g.fatLba + g.fatSectors;
    if (ReadSectors(src, sectors, part.fsTable, secondLba)) return;
    for (uint32_t i = 0; i < sectors; ++i) {
        uint8_t* at = part.fsTable + uint64_t(i) * kSectorSize;
        if (!ReadSectors(src, 1, at, secondLba + i)) ReadSectors(src, 1, at, g.fatLba + i);
    }
}

class FatTreeWalker {
public:
    FatTreeWalker(PartInfo& part, const FatGeometry& g, SectorSource& src, ScanState& state,
                  ProgressSnapshot& progress, bool resolveClusters)
        : part_(part),
          g_(g),
          src_(src),
          state_(state),
          progress_(progress),
          resolve_(resolveClusters) {}

    // Live directories are walked first, deleted ones afterwards: a deleted
    // directory whose first cluster now belongs to a live directory would
    // otherwise claim that directory's entries (the visited list lets only
    // the first reader of a cluster have them) and leave the live one empty.
    void WalkRoot() {
        if (g_.fat32)
            WalkChain(g_.rootCluster, kRootNodeId, false, 0);
        else
            WalkFixedRoot();
        for (size_t i = 0; i < deferred_.size() && !StopRequested(state_); ++i) {
            const Deferred d = deferred_[i];
            WalkChain(d.firstCluster, d.id, true, d.depth);
        }
    }

private:
    void WalkFixedRoot() {
        if (StopRequested(state_)) return;
        const uint32_t sectors = g_.rootEntries * 32 / kSectorSize;
        if (sectors == 0 || !MarkFatDirectoryVisited(g_.rootDirLba)) return;
        auto* buf = static_cast<uint8_t*>(GuardedAlloc(sectors * kSectorSize, __LINE__));
        ReadSectors(src_, sectors, buf, g_.rootDirLba);
        ParseAndDescend(buf, sectors * kSectorSize, kRootNodeId, 0);
    }

    // The clusters of a directory: its chain, at most 1024 clusters, and no
    // cluster twice (a looping chain would repeat the entries).
    std::vector<uint32_t> DirectoryChain(uint32_t first) const {
        std::vector<uint32_t> chain;
        std::unordered_set<uint32_t> seen;
        for (uint32_t c = first; g_.IsDataCluster(c) && chain.size() < kMaxDirClusters;
             c = FatEntry(g_, part_.fsTable, part_.fsTableBytes, c)) {
            if (!seen.insert(c).second) break;
            chain.push_back(c);
        }
        return chain;
    }

    void WalkChain(uint32_t first, uint32_t dirId, bool dotTest, uint32_t depth) {
        if (StopRequested(state_) || depth > kMaxDirDepth || !g_.IsDataCluster(first)) return;
        if (!MarkFatDirectoryVisited(g_.ClusterLba(first))) return;
        const std::vector<uint32_t> chain = DirectoryChain(first);
        const uint32_t clusterBytes = g_.ClusterBytes();
        const uint32_t bytes = uint32_t(chain.size()) * clusterBytes;
        auto* buf = static_cast<uint8_t*>(GuardedAlloc(bytes, __LINE__));
        for (size_t i = 0; i < chain.size(); ++i)
            ReadSectors(src_, g_.sectorsPerCluster, buf + i * clusterBytes,
                        g_.ClusterLba(chain[i]));
        // A subdirectory begins with "." and ".."; a deleted directory whose
        // first cluster went to other data fails this and yields nothing.
        if (dotTest && !(buf[0] == '.' && buf[32] == '.' && buf[33] == '.')) {
            GuardedFree(buf);
            return;
        }
        ParseAndDescend(buf, bytes, dirId, depth);
    }

    // Parses the directory buffer (and frees it), then walks the new
    // directory nodes depth first in id order.
    void ParseAndDescend(uint8_t* buf, uint32_t bytes, uint32_t dirId, uint32_t depth) {
        const uint32_t from = part_.nodeCount;
        ParseFatDirectory(part_, buf, bytes, progress_, dirId);
        GuardedFree(buf);
        const uint32_t to = part_.nodeCount;
        if (resolve_) ResolveFatFirstClusters(part_, g_, from, to, true);
        for (uint32_t id = from; id < to; ++id) {
            if (StopRequested(state_)) return;
            const FileNode* node = GetNode(part_, id);
            if (!node || !IsDirectory(*node)) continue;
            // The table may grow while the subtree is read: copy what is needed.
            const uint32_t first = node->firstCluster;
            if (NodeKind(*node) == kDeletedDir)
                deferred_.push_back({first, id, depth + 1});
            else
                WalkChain(first, id, true, depth + 1);
        }
    }

    struct Deferred {
        uint32_t firstCluster;
        uint32_t id;
        uint32_t depth;
    };

    PartInfo& part_;
    const FatGeometry& g_;
    SectorSource& src_;
    ScanState& state_;
    ProgressSnapshot& progress_;
    bool resolve_;
    std::vector<Deferred> deferred_;
};

}  // namespace

bool ReadFatPartition(PartInfo& part, ScanState& state) {
    ScopedSource src;
    if (!OpenSourceFromPart(part, src.get())) return false;
    return ReadFatPartitionFrom(src.get(), part, state);
}

bool ReadFatPartitionFrom(SectorSource& src, PartInfo& part, ScanState& state) {
    FatGeometry g;
    if (!ParseFatGeometry(ByteView(part.bootSector, sizeof part.bootSector), part.startLba,
                          part.fsKind, g))
        return false;
    LoadFatCopy(part, g, src);
    if (StopRequested(state)) return false;

    ProgressSnapshot progress;
    progress.phase = kPhaseFsRead;
    progress.fs = FsReadProgress{};
    PostProgress(progress);
    AddRootAndLostNodes(part);
    ClearFatVisitedList();

    const bool resolve = g.fat32 && FatCompleteDeepScanAvailable();
    if (resolve) BuildFatClusterMap(part, g);
    FatTreeWalker(part, g, src, state, progress, resolve).WalkRoot();
    if (resolve) {
        ResolveFatFirstClusters(part, g, kRootNodeId, part.nodeCount, false);
        FreeFatClusterMap();
    }
    if (StopRequested(state)) return false;
    LinkChildren(part);
    return true;
}

}  // namespace kestrel
