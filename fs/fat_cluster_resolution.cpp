#include "fs/fat_cluster_resolution.h"

#include <mutex>

#include "fs/file_node.h"

namespace kestrel {

namespace {

constexpr uint32_t kMaxMapEntries = 0x4000000;
constexpr uint32_t kMaxNeighbourDistance = 1000;
constexpr uint32_t kEnoughNeighbourDistance = 50;
constexpr size_t kMaxProposals = 5;

std::mutex gLock;
std::vector<FatScanFind> gFinds;
bool gFindsSet = false;
// Used only by the worker that reads the partition.
std::vector<uint16_t> gClusterMap;

uint32_t FatEntryCount(const PartInfo& part) { return part.fsTableBytes / 4; }

bool IsFreeInCopy(const PartInfo& part, const FatGeometry& g, uint32_t c) {
    return g.IsDataCluster(c) && c < FatEntryCount(part) &&
           FatEntry(g, part.fsTable, part.fsTableBytes, c) == 0;
}

uint32_t TimeDistance(uint32_t a, uint32_t b) { return a > b ? a - b : b - a; }

}  // namespace

void SetFatScanFinds(std::vector<FatScanFind> finds) {
    std::lock_guard<std::mutex> hold(gLock);
    gFinds = std::move(finds);
    gFindsSet = true;
}

void ClearFatScanFinds() {
    std::lock_guard<std::mutex> hold(gLock);
    gFinds.clear();
    gFinds.shrink_to_fit();
    gFindsSet = false;
}

bool FatCompleteDeepScanAvailable() {
    std::lock_guard<std::mutex> hold(gLock);
    return gFindsSet;
}

std::vector<uint16_t> MakeFatClusterMap(const PartInfo& part, const FatGeometry& g,
                                        const std::vector<FatScanFind>& finds) {
    uint64_t entries = uint64_t(g.highestCluster) + 1;
    if (entries > kMaxMapEntries) entries = kMaxMapEntries;
    std::vector<uint16_t> map(size_t(entries), 0);
    const uint64_t end = part.startLba + part.sizeSectors;
    for (const FatScanFind& f : finds) {
        if (f.lba < g.dataLba || f.lba >= end) continue;
        const uint64_t rel = f.lba - g.dataLba;
        if (rel % g.sectorsPerCluster != 0) continue;
        const uint64_t c = rel / g.sectorsPerCluster + 2;
        if (c < map.size()) map[size_t(c)] = f.type;
    }
    return map;
}

std::vector<uint32_t> FatNeighbourProposals(PartInfo& part, const FatGeometry& g, uint32_t id) {
    struct Proposal {
        uint32_t cluster;
        uint32_t distance;
    };
    std::vector<Proposal> list;
    const FileNode* self = GetNode(part, id);
    if (!self) return {};
    const uint32_t low = self->firstCluster & 0xFFFF;
    const uint32_t created = self->created;
    auto consider = [&](uint64_t nid) {
        if (nid <= kRootNodeId || nid >= part.nodeCount || nid == id) return;
        const FileNode* nb = GetNode(part, uint32_t(nid));
        if (!nb) return;
        const bool live = (nb->flags & kFlagInUse) != 0;
        if (!live && nb->firstCluster <= 0xFFFF) return;
        const uint32_t cluster = (nb->firstCluster & 0xFFFF0000) | low;
        if (!IsFreeInCopy(part, g, cluster)) return;
        const uint32_t d = TimeDistance(nb->created, created);
        // Before the first farther entry, or the first equally near one with
        // another cluster: among equals the newer proposal comes first.
        size_t at = 0;
        while (at < list.size() &&
               !(list[at].distance > d || (list[at].distance == d && list[at].cluster != cluster)))
            ++at;
        list.insert(list.begin() + long(at), Proposal{cluster, d});
        if (list.size() > kMaxProposals) list.pop_back();
    };
    for (uint32_t i = 0; i < kMaxNeighbourDistance; ++i) {
        if (i > 0 && i <= id) consider(uint64_t(id) - i);
        consider(uint64_t(id) + i);
        if (!list.empty() && (list.front().distance == 0 || i >= kEnoughNeighbourDistance)) break;
    }
    std::vector<uint32_t> out;
    for (const Proposal& p : list) out.push_back(p.cluster);
    return out;
}

void ResolveFatFirstClustersWith(PartInfo& part, const FatGeometry& g,
                                 const std::vector<uint16_t>& clusterMap, uint32_t fromId,
                                 uint32_t toId, bool dirsOnly) {
    if (fromId < kRootNodeId) fromId = kRootNodeId;
    if (toId > part.nodeCount) toId = part.nodeCount;
    const uint64_t highestH = (part.sizeSectors / g.sectorsPerCluster) / 0x10000;
    for (uint32_t id = fromId; id < toId; ++id) {
        FileNode* node = GetNode(part, id);
        if (!node) continue;
        const uint32_t kind = NodeKind(*node);
        if (kind != kDeletedDir && (dirsOnly || kind != kDeletedFile)) continue;
        if (node->firstCluster >= 0x10000) continue;
        const uint32_t low = node->firstCluster;
        const uint8_t type = node->typeId;
        if (type < 36 || type > 236) {
            const auto proposals = FatNeighbourProposals(part, g, id);
            if (!proposals.empty()) GetNode(part, id)->firstCluster = proposals.front();
            continue;
        }
        std::vector<uint32_t> candidates;
        for (uint64_t h = 0; h <= highestH; ++h) {
            const uint64_t c = h * 0x10000 + low;
            if (c >= FatEntryCount(part) || c >= clusterMap.size()) break;
            if (FatEntry(g, part.fsTable, part.fsTableBytes, uint32_t(c)) == 0 &&
                clusterMap[size_t(c)] == type)
                candidates.push_back(uint32_t(c));
        }
        const auto proposals = FatNeighbourProposals(part, g, id);
        node = GetNode(part, id);
        if (candidates.size() == 1) {
            node->firstCluster = candidates.front();
        } else if (candidates.empty()) {
            if (!proposals.empty()) node->firstCluster = proposals.front();
        } else if (kind == kDeletedDir || proposals.empty()) {
            node->firstCluster = candidates.front();
        } else {
            uint32_t chosen = 0;
            for (uint32_t p : proposals) {
                for (size_t k = 1; k < candidates.size() && !chosen; ++k)
                    if (candidates[k] == p) chosen = p;
                if (chosen) break;
            }
            if (!chosen) {
                const uint32_t target = proposals.front();
                uint32_t best = UINT32_MAX;
                for (size_t k = 1; k < candidates.size(); ++k) {
                    const uint32_t d = TimeDistance(candidates[k], target);
                    if (d < best) {
                        best = d;
                        chosen = candidates[k];
                    }
                }
            }
            node->firstCluster = chosen;
        }
    }
}

void BuildFatClusterMap(const PartInfo& part, const FatGeometry& g) {
    std::vector<FatScanFind> finds;
    {
        std::lock_guard<std::mutex> hold(gLock);
        finds = gFinds;
    }
    gClusterMap = MakeFatClusterMap(part, g, finds);
}

void ResolveFatFirstClusters(PartInfo& part, const FatGeometry& g, uint32_t fromId, uint32_t toId,
                             bool dirsOnly) {
    ResolveFatFirstClustersWith(part, g, gClusterMap, fromId, toId, dirsOnly);
}

void FreeFatClusterMap() {
    gClusterMap.clear();
    gClusterMap.shrink_to_fit();
}

}  // namespace kestrel
