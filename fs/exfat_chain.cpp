#include "fs/exfat_chain.h"

#include <unordered_set>

namespace kestrel {

namespace {

uint64_t ClustersFor(const ExfatGeometry& g, uint64_t bytes) {
    return bytes / g.clusterBytes + (bytes % g.clusterBytes != 0 ? 1 : 0);
}

// Walks from firstCluster, asking next(c) for each following cluster
// (0 ends the list), until `needed` clusters are listed.
// A list that only ever steps forward cannot loop; the visited set is kept
// from the first backward step on.
template <typename Next>
std::vector<uint32_t> Walk(const ExfatGeometry& g, uint32_t firstCluster, uint64_t needed,
                           Next next) {
    std::vector<uint32_t> list;
    if (!g.IsHeapCluster(firstCluster) || needed == 0) return list;
    if (needed > g.clusterCount) needed = g.clusterCount;
    std::unordered_set<uint32_t> seen;
    bool tracking = false;
    uint32_t c = firstCluster;
    while (list.size() < needed && g.IsHeapCluster(c)) {
        if (!list.empty() && c <= list.back() && !tracking) {
            tracking = true;
            seen.insert(list.begin(), list.end());
        }
        if (tracking && !seen.insert(c).second) break;
        list.push_back(c);
        if (list.size() == needed) break;
        c = next(c);
    }
    return list;
}

}  // namespace

uint32_t ExfatFatEntry(const ExfatTables& t, uint32_t c) { return t.fat.U32(size_t(c) * 4); }

bool ExfatClusterAllocated(const ExfatTables& t, uint32_t c) {
    if (c < kExfatFirstCluster) return false;
    const uint32_t bit = c - kExfatFirstCluster;
    return (t.bitmap.U8(bit / 8) >> (bit % 8)) & 1;
}

std::vector<uint32_t> ExfatDirectoryClusters(const ExfatGeometry& g, const ExfatTables& t,
                                             uint32_t firstCluster, uint64_t byteSize,
                                             bool contiguous) {
    uint64_t needed = ClustersFor(g, byteSize);
    if (!contiguous && t.fat.empty() && needed > 1) needed = 1;
    return Walk(g, firstCluster, needed, [&](uint32_t c) -> uint32_t {
        if (contiguous || t.fat.empty()) return c + 1;
        const uint32_t e = ExfatFatEntry(t, c);
        if (e == kExfatEndOfChain || e == 1) return 0;
        if (e == 0 || e > g.HighestCluster()) return c + 1;
        return e;
    });
}

std::vector<uint32_t> ExfatFileClusters(const ExfatGeometry& g, const ExfatTables& t,
                                        uint32_t firstCluster, uint64_t size, bool contiguous,
                                        bool deleted) {
    return Walk(g, firstCluster, ClustersFor(g, size), [&](uint32_t c) -> uint32_t {
        if (contiguous) return c + 1;
        const uint32_t e = ExfatFatEntry(t, c);
        if (e == kExfatEndOfChain) return 0;
        if (g.IsHeapCluster(e)) return e;
        if (deleted || ExfatClusterAllocated(t, c + 1)) return c + 1;
        return 0;
    });
}

}  // namespace kestrel
