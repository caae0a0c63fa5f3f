#include "fs/exfat_reader.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

#include "app/guarded_memory.h"
#include "fs/exfat_chain.h"
#include "fs/exfat_data.h"
#include "fs/exfat_entries.h"
#include "fs/exfat_layout.h"
#include "fs/file_node.h"
#include "storage/sector_source.h"

namespace kestrel {

namespace {

// The root's size is not stored anywhere; it is at least this much.
constexpr uint64_t kRootMinBytes = 64 * 1024;
// Real trees are far shallower; this only keeps a hostile one off the stack.
constexpr uint32_t kMaxDirectoryDepth = 255;
constexpr uint32_t kTableChunkSectors = 2048;
// The FAT copy lives in one guarded block; a larger FAT is read in part, and
// chains past the copy read as cleared entries.
constexpr uint64_t kMaxFatCopyBytes = 1ull << 30;

struct Walker {
    PartInfo& part;
    ScanState& state;
    ProgressSnapshot& progress;
    SectorSource& src;
    ExfatGeometry g;
    ExfatTables tables;
    // First clusters already walked, once by a live and once by a deleted
    // directory: a deleted directory whose cluster was reused must not hide
    // the live one, and a loop or a shared cluster is read at most twice.
    std::unordered_set<uint32_t> walkedLive, walkedDeleted;
    bool stopped = false;
    bool tableFull = false;

    bool StopRequested() {
        if (state.load() == kScanStopRequested) stopped = true;
        return stopped;
    }
    void Walk(uint32_t firstCluster, uint64_t byteSize, uint32_t parentId, bool contiguous,
              uint32_t depth);
};

ExfatTables TablesOf(const PartInfo& part) {
    ExfatTables t;
    if (part.fsTable) t.fat = ByteView(part.fsTable, part.fsTableBytes);
    if (part.allocMap) t.bitmap = ByteView(part.allocMap, part.allocMapBytes);
    return t;
}

FileNode NodeFromSet(const ExfatEntrySet& s, uint32_t parentId) {
    FileNode n = MakeNode();
    n.parentId = parentId;
    n.firstCluster = s.firstCluster;
    n.size = s.validLength;
    n.created = s.created;
    n.modified = s.modified;
    SetNodeKind(n, (s.live ? 1u : 0u) | (s.IsDirectory() ? 2u : 0u));
    if (s.noFatChain) n.flags = uint16_t(n.flags | kFlagExfatNoFatChain);
    n.name = CopyNodeName(s.name);
    return n;
}

void Walker::Walk(uint32_t firstCluster, uint64_t byteSize, uint32_t parentId, bool contiguous,
                  uint32_t depth) {
    if (StopRequested() || tableFull || depth > kMaxDirectoryDepth) return;
    byteSize = std::min(byteSize, kExfatMaxDirBytes);
    std::vector<uint32_t> clusters =
        ExfatDirectoryClusters(g, tables, firstCluster, byteSize, contiguous);
    // Clusters past the end of the device hold nothing but zeros.
    while (!clusters.empty() && g.ClusterLba(clusters.back()) > src.lastLba) clusters.pop_back();
    if (clusters.empty()) return;

    const uint64_t bufferBytes = uint64_t(clusters.size()) * g.clusterBytes;
    uint8_t* buffer = static_cast<uint8_t*>(GuardedAlloc(uint32_t(bufferBytes), __LINE__));
    const bool complete = ReadExfatClusters(src, g, clusters, buffer, state);
    if (!complete) {
        stopped = true;
        GuardedFree(buffer);
        return;
    }
    std::vector<ExfatEntrySet> sets =
        ParseExfatEntrySets(ByteView(buffer, size_t(bufferBytes)), byteSize / kExfatEntryBytes);
    GuardedFree(buffer);

    for (const ExfatEntrySet& s : sets) {
        if (StopRequested()) return;
        FileNode node = NodeFromSet(s, parentId);
        const uint32_t id = AddNode(part, node, false);
        if (id == 0) {
            tableFull = true;
            return;
        }
        CountNodeProgress(node, progress);
        if (!s.IsDirectory() || s.validLength == 0) continue;
        auto& walked = s.live ? walkedLive : walkedDeleted;
        if (!walked.insert(s.firstCluster).second) continue;
        Walk(s.firstCluster, s.validLength, id, s.noFatChain, depth + 1);
    }
}

// Reads sectors [lba, lba + count) into a new guarded block of bytes bytes
// (bytes <= count * 512 is not required: the rest stays zero).
uint8_t* ReadTable(SectorSource& src, uint64_t lba, uint32_t bytes, ScanState& state) {
    uint8_t* table = static_cast<uint8_t*>(GuardedAlloc(bytes, __LINE__));
    std::vector<uint8_t> chunk(size_t(kTableChunkSectors) * kSectorSize);
    for (uint32_t done = 0; done < bytes;) {
        if (state.load() == kScanStopRequested) break;
        const uint32_t n = std::min<uint32_t>(bytes - done, uint32_t(chunk.size()));
        const uint32_t sectors = (n + kSectorSize - 1) / kSectorSize;
        ReadSectors(src, sectors, chunk.data(), lba + done / kSectorSize);
        std::copy_n(chunk.data(), n, table + done);
        done += n;
    }
    return table;
}

void LoadFatCopy(PartInfo& part, SectorSource& src, const ExfatGeometry& g, ScanState& state) {
    if (g.fatSectors == 0 || g.fatLba > src.lastLba) return;
    uint64_t bytes = (uint64_t(g.clusterCount) + 2) * 4;
    bytes = std::min(bytes, uint64_t(g.fatSectors) * kSectorSize);
    bytes = std::min(bytes, (src.lastLba - g.fatLba + 1) * kSectorSize);
    bytes = std::min(bytes, kMaxFatCopyBytes);
    part.fsTable = ReadTable(src, g.fatLba, uint32_t(bytes), state);
    part.fsTableBytes = uint32_t(bytes);
}

void LoadBitmap(PartInfo& part, SectorSource& src, const ExfatGeometry& g, ScanState& state) {
    if (!g.IsHeapCluster(g.rootCluster)) return;
    uint8_t sector[kSectorSize];
    ReadSectors(src, 1, sector, g.ClusterLba(g.rootCluster));
    ExfatBitmapLocation loc;
    if (!FindExfatBitmapEntry(ByteView(sector, sizeof sector), loc)) return;
    if (!g.IsHeapCluster(loc.firstCluster)) return;
    const uint64_t lba = g.ClusterLba(loc.firstCluster);
    if (lba > src.lastLba) return;
    uint64_t bytes = std::min<uint64_t>(loc.dataLength, (uint64_t(g.clusterCount) + 7) / 8);
    bytes = std::min(bytes, (src.lastLba - lba + 1) * kSectorSize);
    if (bytes == 0) return;
    part.allocMap = ReadTable(src, lba, uint32_t(bytes), state);
    part.allocMapBytes = uint32_t(bytes);
}

// Byte length of the root's FAT chain (at least kRootMinBytes): a root with
// more than 2048 entries spans more than 64 KiB.
uint64_t RootBytes(const ExfatGeometry& g, const ExfatTables& t) {
    uint64_t clusters = 0;
    std::unordered_set<uint32_t> seen;
    for (uint32_t c = g.rootCluster; g.IsHeapCluster(c) && seen.insert(c).second;) {
        ++clusters;
        if (clusters * g.clusterBytes >= kExfatMaxDirBytes) break;
        c = ExfatFatEntry(t, c);
    }
    return std::max(kRootMinBytes, clusters * g.clusterBytes);
}

}  // namespace

bool WalkExfatDirectory(PartInfo& part, ScanState& state, ProgressSnapshot& progress,
                        uint32_t firstCluster, uint64_t byteSize, uint32_t parentId) {
    ExfatGeometry g;
    if (!ExfatGeometryOf(part, g)) return false;
    ScopedSource src;
    if (!OpenSourceFromPart(part, *src)) return false;
    Walker w{part, state, progress, *src, g, TablesOf(part), {}, {}};
    w.walkedLive.insert(firstCluster);
    w.Walk(firstCluster, byteSize, parentId, false, 0);
    return !w.stopped;
}

bool ReadExfatPartition(PartInfo& part, ScanState& state) {
    ScopedSource src;
    if (!OpenSourceFromPart(part, *src)) return false;
    return ReadExfatPartitionFrom(*src, part, state);
}

bool ReadExfatPartitionFrom(SectorSource& src, PartInfo& part, ScanState& state) {
    ExfatGeometry g;
    if (!ExfatGeometryOf(part, g)) return false;
    AddRootAndLostNodes(part);

    ProgressSnapshot progress;
    progress.phase = kPhaseFsRead;
    progress.fs = FsReadProgress{0, 0, 0, 0};
    bool stopped = true;
    // The FAT copy and bitmap stay with the partition for the later export.
    if (!part.fsTable) LoadFatCopy(part, src, g, state);
    if (state.load() != kScanStopRequested) {
        if (!part.allocMap) LoadBitmap(part, src, g, state);
        PostProgress(progress);
        Walker w{part, state, progress, src, g, TablesOf(part), {}, {}};
        w.walkedLive.insert(g.rootCluster);
        w.Walk(g.rootCluster, RootBytes(g, w.tables), kRootNodeId, false, 0);
        stopped = w.stopped;
    }
    LinkChildren(part);
    return !stopped;
}

}  // namespace kestrel
