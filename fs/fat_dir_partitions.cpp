#include "fs/fat_dir_partitions.h"

#include <cstdio>
#include <deque>
#include <unordered_map>
#include <unordered_set>

#include "app/guarded_memory.h"
#include "fs/fat_directory.h"
#include "fs/fat_visited.h"
#include "fs/file_node.h"
#include "storage/part_builders.h"
#include "storage/sector_source.h"

namespace kestrel {

namespace {

constexpr uint64_t kMaxSectorsPerCluster = 128;
constexpr uint32_t kFallbackSectorsPerCluster = 8;
// Above this many known partitions a geometry needs 4 votes per partition.
constexpr uint32_t kManyPartitions = 21;

struct Geometry {
    uint64_t cluster2Lba = 0;
    uint32_t sectorsPerCluster = 0;
    uint32_t votes = 0;
};

std::vector<Geometry> VoteGeometries(const std::vector<const FatDirFind*>& subdirs) {
    std::vector<Geometry> out;
    std::unordered_map<uint64_t, size_t> index;
    for (size_t i = 0; i + 1 < subdirs.size(); ++i) {
        const FatDirFind& x = *subdirs[i];
        const FatDirFind& y = *subdirs[i + 1];
        const uint32_t a = x.ownCluster, b = y.ownCluster;
        if (a <= 1 || a >= b || y.lba < x.lba) continue;
        const uint64_t diff = y.lba - x.lba;
        if (diff % (b - a) != 0) continue;
        uint64_t spc = diff / (b - a);
        if (spc > kMaxSectorsPerCluster) spc = kFallbackSectorsPerCluster;
        if (spc == 0) continue;
        const uint64_t back = spc * (a - 2);
        const uint64_t c2 = x.lba > back ? x.lba - back : 0;
        auto it = index.find(c2);
        if (it == index.end()) {
            index.emplace(c2, out.size());
            out.push_back({c2, uint32_t(spc), 1});
        } else {
            ++out[it->second].votes;
        }
    }
    return out;
}

class FatDirTreeBuilder {
public:
    FatDirTreeBuilder(PartInfo& part, SectorSource& src, const Geometry& g,
                      std::vector<const FatDirFind*> collected, ScanState& state)
        : part_(part),
          src_(src),
          g_(g),
          finds_(std::move(collected)),
          state_(state),
          used_(finds_.size(), false) {
        for (size_t i = 0; i < finds_.size(); ++i) byOwn_.emplace(finds_[i]->ownCluster, i);
    }

    void Build() {
        ProgressSnapshot progress;
        progress.phase = kPhaseFsRead;
        progress.fs = FsReadProgress{};
        uint32_t folderNo = 0;
        for (size_t start = 0; start < finds_.size(); ++start) {
            if (used_[start] || finds_[start]->type != kFatSubdirFind) continue;
            if (state_.load() == kScanStopRequested) return;
            const size_t top = TopAncestor(start);
            char16_t name[16];
            char text[16];
            std::snprintf(text, sizeof text, "Dir%02u", ++folderNo);
            for (int i = 0;; ++i) {
                name[i] = char16_t(text[i]);
                if (!text[i]) break;
            }
            FileNode folder = MakeNode();
            SetNodeName(folder, name);
            folder.parentId = kRootNodeId;
            SetNodeKind(folder, kLiveDir);
            folder.typeId = kFatDirTypeId;
            const uint32_t folderId = AddNode(part_, folder, false);
            if (folderId == 0) {
                GuardedFree(folder.name);
                used_[top] = true;
                continue;
            }
            ParseTree(top, folderId, progress);
        }
    }

private:
    // Climbs through parents among the unused collected finds; a find seen
    // twice (a find naming itself, or finds naming each other) ends the climb.
    size_t TopAncestor(size_t i) const {
        std::unordered_set<size_t> seen{i};
        for (;;) {
            auto it = byOwn_.find(finds_[i]->parentCluster);
            if (it == byOwn_.end() || used_[it->second] || !seen.insert(it->second).second)
                return i;
            i = it->second;
        }
    }

    void ParseTree(size_t first, uint32_t folderId, ProgressSnapshot& progress) {
        std::deque<std::pair<size_t, uint32_t>> queue{{first, folderId}};
        const uint32_t bytes = g_.sectorsPerCluster * kSectorSize;
        auto* buf = static_cast<uint8_t*>(GuardedAlloc(bytes, __LINE__));
        while (!queue.empty() && state_.load() != kScanStopRequested) {
            const auto [index, parentId] = queue.front();
            queue.pop_front();
            if (used_[index]) continue;
            used_[index] = true;
            const FatDirFind& f = *finds_[index];
            if (!MarkFatDirectoryVisited(f.lba)) continue;
            ReadSectors(src_, g_.sectorsPerCluster, buf, f.lba);
            const uint32_t from = part_.nodeCount;
            ParseFatDirectory(part_, buf, bytes, progress, parentId);
            for (uint32_t id = from; id < part_.nodeCount; ++id) {
                const FileNode* n = GetNode(part_, id);
                if (!n || !IsDirectory(*n)) continue;
                auto it = byOwn_.find(n->firstCluster);
                if (it != byOwn_.end() && !used_[it->second]) queue.push_back({it->second, id});
            }
        }
        GuardedFree(buf);
    }

    PartInfo& part_;
    SectorSource& src_;
    const Geometry& g_;
    std::vector<const FatDirFind*> finds_;
    ScanState& state_;
    std::vector<bool> used_;
    std::unordered_map<uint32_t, size_t> byOwn_;
};

}  // namespace

std::vector<PartInfo> BuildFatDirPartitions(const std::vector<FatDirFind>& finds,
                                            const PartInfo& device, uint32_t knownPartitions,
                                            ScanState& state) {
    std::vector<PartInfo> out;
    std::vector<const FatDirFind*> subdirs;
    for (const FatDirFind& f : finds)
        if (f.type == kFatSubdirFind) subdirs.push_back(&f);
    const std::vector<Geometry> geometries = VoteGeometries(subdirs);
    if (geometries.empty()) return out;
    ScopedSource src;
    if (!OpenSourceFromPart(device, src.get())) return out;

    for (const Geometry& g : geometries) {
        if (state.load() == kScanStopRequested) break;
        if (knownPartitions >= kManyPartitions && g.votes < 4ull * knownPartitions) continue;
        if (g.cluster2Lba == 0) continue;
        // Every find on the geometry's grid is collected. Stopping at as many
        // finds as votes would always leave one out: n finds in a row give
        // n - 1 votes, so the last directory of the grid was never read.
        std::vector<const FatDirFind*> collected;
        for (const FatDirFind* f : subdirs) {
            if (f->lba < g.cluster2Lba || f->ownCluster <= 1) continue;
            if (f->lba - g.cluster2Lba == uint64_t(g.sectorsPerCluster) * (f->ownCluster - 2))
                collected.push_back(f);
        }
        if (collected.size() < g.votes) continue;

        PartInfo part = WithoutTables(device);
        part.fsKind = kFsFatDirs;
        part.startLba = g.cluster2Lba;
        part.sizeSectors = kUnknownSizeSectors;
        std::fill(std::begin(part.bootSector), std::end(part.bootSector), uint8_t(0));
        part.bootSector[0x0D] = uint8_t(g.sectorsPerCluster);
        AddRootAndLostNodes(part);
        FatDirTreeBuilder(part, src.get(), g, std::move(collected), state).Build();
        LinkChildren(part);
        out.push_back(std::move(part));
    }
    return out;
}

}  // namespace kestrel
