#include "fs/fat_cluster_resolution.h"

#include <gtest/gtest.h>

#include "app/guarded_memory.h"
#include "fs/file_node.h"

namespace kestrel {
namespace {

// A FAT32 partition in memory: 1 sector per cluster, room for 0x80000 clusters.
struct Fat32Part {
    PartInfo part;
    FatGeometry g;
    Fat32Part() {
        uint8_t* b = part.bootSector;
        b[0x0D] = 1;
        StoreU16(b + 0x0E, 32);
        b[0x10] = 2;
        StoreU32(b + 0x20, 0x90000);
        StoreU32(b + 0x24, 0x1000);
        StoreU32(b + 0x2C, 2);
        part.fsKind = kFsFat32;
        part.startLba = 1000;
        part.sizeSectors = 0x90000;
        EXPECT_TRUE(ParseFatGeometry(ByteView(b, 512), part.startLba, part.fsKind, g));
        part.fsTableBytes = 0x1000 * 512;
        part.fsTable = static_cast<uint8_t*>(GuardedAlloc(part.fsTableBytes, __LINE__));
        AddRootAndLostNodes(part);
    }
    ~Fat32Part() { FreeTable(part); }
    uint32_t Add(const char16_t* name, uint32_t kind, uint32_t cluster, uint32_t created) {
        FileNode n = MakeNode();
        SetNodeName(n, name);
        n.parentId = kRootNodeId;
        SetNodeKind(n, kind);
        if (kind & 2) n.typeId = 231;
        n.firstCluster = cluster;
        n.created = created;
        return AddNode(part, n, false);
    }
    void Use(uint32_t cluster) { StoreU32(part.fsTable + cluster * 4ull, 0x0FFFFFFF); }
    uint32_t Cluster(uint32_t id) { return GetNode(part, id)->firstCluster; }
    uint8_t Type(uint32_t id) { return GetNode(part, id)->typeId; }
    uint64_t Lba(uint32_t cluster) { return g.ClusterLba(cluster); }
};

TEST(FatClusterResolution, ClusterMapTakesFindsOnClusterStartsInsideThePartition) {
    Fat32Part p;
    const std::vector<FatScanFind> finds = {
        {p.Lba(0x20005), 40}, {p.g.dataLba - 1, 41}, {p.part.startLba + 0x90000, 42}};
    const auto map = MakeFatClusterMap(p.part, p.g, finds);
    ASSERT_GT(map.size(), 0x20005u);
    EXPECT_EQ(map[0x20005], 40);
    size_t set = 0;
    for (uint16_t v : map) set += v != 0;
    EXPECT_EQ(set, 1u);
}

TEST(FatClusterResolution, CandidatesAndNeighbours) {
    Fat32Part p;
    const uint32_t before = p.Add(u"live neighbour.txt", kLiveFile, 0x30100, 5000);
    const uint32_t single = p.Add(u"single.jpg", kDeletedFile, 0x0005, 5000);
    const uint32_t twoNoHint = p.Add(u"two.jpg", kDeletedFile, 0x0007, 1);
    const uint32_t dir = p.Add(u"gone dir", kDeletedDir, 0x0009, 5000);
    const uint32_t untyped = p.Add(u"no type here", kDeletedFile, 0x000B, 5002);
    const uint32_t wide = p.Add(u"kept.jpg", kDeletedFile, 0x40001, 5000);
    const uint8_t jpg = p.Type(single);
    ASSERT_GE(jpg, 36);
    std::vector<uint16_t> map(0x80000, 0);
    map[0x20005] = jpg;                 // the one candidate of "single"
    map[0x10007] = map[0x30007] = jpg;  // two candidates of "two"
    map[0x10009] = map[0x50009] = 231;  // two directory candidates
    p.Use(0x3000B);                     // the neighbour's proposal is taken
    ResolveFatFirstClustersWith(p.part, p.g, map, kRootNodeId, p.part.nodeCount, false);
    EXPECT_EQ(p.Cluster(before), 0x30100u);  // live nodes are left alone
    EXPECT_EQ(p.Cluster(single), 0x20005u);
    // Two candidates: the neighbour list points near 0x30000, so the later
    // candidate nearest to the closest proposal wins.
    EXPECT_EQ(p.Cluster(twoNoHint), 0x30007u);
    EXPECT_EQ(p.Cluster(dir), 0x10009u);  // a directory takes the lowest
    // Nodes resolved earlier in the pass propose too; among the equally near
    // proposals (dir, wide, single: 2 s away) the last one found comes first.
    EXPECT_EQ(p.Cluster(untyped), 0x2000Bu);
    EXPECT_EQ(p.Cluster(wide), 0x40001u);  // upper bits present: not touched
}

TEST(FatClusterResolution, ClosestCreationTimeProposesFirst) {
    Fat32Part p;
    p.Add(u"far.txt", kLiveFile, 0x10000, 100);
    const uint32_t target = p.Add(u"lost", kDeletedFile, 0x0042, 1000);
    p.Add(u"near.txt", kLiveFile, 0x20000, 990);
    p.Add(u"deleted wide.txt", kDeletedFile, 0x30000, 1005);
    p.Add(u"deleted narrow.txt", kDeletedFile, 0x0001, 1000);  // proposes nothing
    const auto proposals = FatNeighbourProposals(p.part, p.g, target);
    EXPECT_EQ(proposals, (std::vector<uint32_t>{0x30042, 0x20042, 0x10042}));
    ResolveFatFirstClustersWith(p.part, p.g, {}, target, target + 1, false);
    EXPECT_EQ(p.Cluster(target), 0x30042u);
}

}  // namespace
}  // namespace kestrel
