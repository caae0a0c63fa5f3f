#include "fs/exfat_data.h"

#include <algorithm>

#include "app/guarded_memory.h"
#include "app/text_utils.h"
#include "fs/exfat_chain.h"
#include "fs/exfat_reader.h"
#include "fs/export_times.h"

namespace kestrel {

namespace {

constexpr uint32_t kReadChunkSectors = 2048;  // 1 MiB per read

ExfatTables TablesOf(const PartInfo& part) {
    ExfatTables t;
    if (part.fsTable) t.fat = ByteView(part.fsTable, part.fsTableBytes);
    if (part.allocMap) t.bitmap = ByteView(part.allocMap, part.allocMapBytes);
    return t;
}

// A stretch of consecutive clusters of a list, cut to whole read chunks.
struct Extent {
    size_t first = 0;  // index into the list
    uint32_t clusters = 0;
};

std::vector<Extent> ExtentsOf(const ExfatGeometry& g, const std::vector<uint32_t>& list) {
    const uint32_t perChunk = std::max<uint32_t>(1, kReadChunkSectors / g.sectorsPerCluster);
    std::vector<Extent> extents;
    for (size_t i = 0; i < list.size();) {
        Extent e{i, 1};
        while (i + e.clusters < list.size() && e.clusters < perChunk &&
               uint64_t(list[i + e.clusters]) == uint64_t(list[i]) + e.clusters)
            ++e.clusters;
        extents.push_back(e);
        i += e.clusters;
    }
    return extents;
}

bool ReadExtent(SectorSource& src, const ExfatGeometry& g, uint32_t firstCluster, uint32_t clusters,
                uint8_t* out) {
    return ReadSectors(src, clusters * g.sectorsPerCluster, out, g.ClusterLba(firstCluster));
}

bool Fail(OutputFile& out, ReadErrorPolicy policy) {
    if (policy == kClearFile) out.SetLengthZero();
    return false;
}

}  // namespace

bool ReadExfatClusters(SectorSource& src, const ExfatGeometry& g,
                       const std::vector<uint32_t>& clusters, uint8_t* buffer, ScanState& state) {
    for (const Extent& e : ExtentsOf(g, clusters)) {
        if (state.load() == kScanStopRequested) return false;
        ReadExtent(src, g, clusters[e.first], e.clusters, buffer + e.first * g.clusterBytes);
    }
    return true;
}

std::vector<uint32_t> ExfatNodeClusters(const PartInfo& part, const ExfatGeometry& g,
                                        const FileNode& node) {
    // Found directory partitions have no FAT: their files are taken as one
    // extent, which is how a file that was never fragmented lies.
    if (part.fsKind == kFsExfatDirs)
        return ExfatFileClusters(g, ExfatTables{}, node.firstCluster, node.size, true, false);
    const bool contiguous = (node.flags & kFlagExfatNoFatChain) != 0;
    const bool deleted = (node.flags & kFlagInUse) == 0;
    return ExfatFileClusters(g, TablesOf(part), node.firstCluster, node.size, contiguous, deleted);
}

bool ReadExfatFileData(PartInfo& part, const FileNode& node, uint32_t maxBytes, uint8_t* buffer) {
    ScopedSource src;
    if (!OpenSourceFromPart(part, *src)) {
        std::fill_n(buffer, std::min<uint64_t>(maxBytes, node.size), uint8_t(0));
        return false;
    }
    return ReadExfatFileDataFrom(*src, part, node, maxBytes, buffer);
}

bool ReadExfatFileDataFrom(SectorSource& src, PartInfo& part, const FileNode& node,
                           uint32_t maxBytes, uint8_t* buffer) {
    const uint64_t want = std::min<uint64_t>(maxBytes, node.size);
    if (want == 0) return true;
    std::fill_n(buffer, want, uint8_t(0));
    ExfatGeometry g;
    if (IsDirectory(node) || !ExfatGeometryOf(part, g)) return false;
    std::vector<uint32_t> list = ExfatNodeClusters(part, g, node);
    const uint64_t needed = want / g.clusterBytes + (want % g.clusterBytes ? 1 : 0);
    const bool mapped = list.size() >= needed;
    if (list.size() > needed) list.resize(size_t(needed));
    if (list.empty()) return false;

    bool ok = mapped;
    std::vector<uint8_t> chunk;
    uint64_t done = 0;
    for (const Extent& e : ExtentsOf(g, list)) {
        chunk.assign(size_t(e.clusters) * g.clusterBytes, 0);
        if (!ReadExtent(src, g, list[e.first], e.clusters, chunk.data())) ok = false;
        const uint64_t n = std::min<uint64_t>(chunk.size(), want - done);
        std::copy_n(chunk.data(), size_t(n), buffer + done);
        done += n;
    }
    return ok;
}

bool ExportExfatFile(OutputFile& out, PartInfo& part, ScanState& state, const FileNode& node,
                     ProgressSnapshot& progress, ReadErrorPolicy policy) {
    ScopedSource src;
    if (!OpenSourceFromPart(part, *src)) return Fail(out, policy);
    return ExportExfatFileFrom(*src, out, part, state, node, progress, policy);
}

bool ExportExfatFileFrom(SectorSource& src, OutputFile& out, PartInfo& part, ScanState& state,
                         const FileNode& node, ProgressSnapshot& progress, ReadErrorPolicy policy) {
    ExfatGeometry g;
    if (IsDirectory(node) || !ExfatGeometryOf(part, g)) return Fail(out, policy);
    std::vector<uint32_t> list;
    if (node.size != 0) {
        list = ExfatNodeClusters(part, g, node);
        if (list.empty()) return false;  // nothing to write, nothing written
    }

    uint64_t written = 0;
    std::vector<uint8_t> chunk;
    for (const Extent& e : ExtentsOf(g, list)) {
        if (state.load() == kScanStopRequested) return Fail(out, policy);
        chunk.assign(size_t(e.clusters) * g.clusterBytes, 0);
        uint32_t good = e.clusters;  // clusters of the chunk that may be written
        if (!ReadExtent(src, g, list[e.first], e.clusters, chunk.data())) {
            // Cluster by cluster: the bytes before the first unreadable cluster
            // are kept, and with kRecoverAll only unreadable clusters are zeros.
            good = 0;
            bool failed = false;
            for (uint32_t k = 0; k < e.clusters; ++k) {
                if (!ReadExtent(src, g, list[e.first + k], 1,
                                chunk.data() + size_t(k) * g.clusterBytes))
                    failed = true;
                if (!failed || policy == kRecoverAll) good = k + 1;
            }
        }
        if (state.load() == kScanStopRequested) return Fail(out, policy);
        const uint64_t n = std::min<uint64_t>(uint64_t(good) * g.clusterBytes, node.size - written);
        if (!out.Write(chunk.data(), size_t(n))) return Fail(out, policy);
        written += n;
        if (progress.phase == kPhaseExport) {
            progress.exp.doneBytes += n;
            progress.exp.fileDone += n;
        }
        PostProgress(progress);
        if (good < e.clusters) return Fail(out, policy);
    }
    // A chain that ends before the size is a damaged file, not a short one.
    if (written < node.size) return Fail(out, policy);

    // Found-directory partitions carry the entries' times too: restore them.
    SetExportTimes(out, node);
    return true;
}

}  // namespace kestrel
