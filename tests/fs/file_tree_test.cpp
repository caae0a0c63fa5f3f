#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/guarded_memory.h"
#include "carving/type_ids.h"
#include "fs/file_node.h"

namespace kestrel {
namespace {

FileNode Node(uint32_t id, uint32_t parent, uint32_t kind, const char16_t* name) {
    FileNode n = MakeNode();
    n.id = id;
    n.parentId = parent;
    SetNodeKind(n, kind);
    n.name = CopyNodeName(name);
    return n;
}

uint32_t Add(PartInfo& part, uint32_t id, uint32_t parent, uint32_t kind, const char16_t* name,
             bool linkNow = false) {
    FileNode n = Node(id, parent, kind, name);
    return AddNode(part, n, linkNow);
}

std::vector<uint32_t> Children(PartInfo& part, uint32_t id) {
    FileNode* n = GetNode(part, id);
    if (n == nullptr || n->childIds == nullptr) return {};
    return std::vector<uint32_t>(n->childIds, n->childIds + n->childCount);
}

std::u16string NameOf(PartInfo& part, uint32_t id) {
    FileNode* n = GetNode(part, id);
    return n == nullptr ? u"<absent>" : std::u16string(n->name);
}

struct Table {
    PartInfo part;
    Table() { AddRootAndLostNodes(part); }
    ~Table() { FreeTable(part); }
};

TEST(FileTree, RootAndLostNodesAreReservedIds) {
    Table t;
    FileNode* root = GetNode(t.part, kRootNodeId);
    FileNode* lost = GetNode(t.part, kLostFilesNodeId);
    ASSERT_NE(root, nullptr);
    ASSERT_NE(lost, nullptr);
    EXPECT_EQ(std::u16string(root->name), u".");
    EXPECT_EQ(root->parentId, kRootNodeId);
    EXPECT_EQ(NodeKind(*root), kLiveDir);
    EXPECT_EQ(std::u16string(lost->name), u"丢失的文件");
    EXPECT_EQ(lost->parentId, kRootNodeId);
    EXPECT_EQ(NodeKind(*lost), kDeletedDir);
    EXPECT_EQ(t.part.nodeCount, 6u);
    for (uint32_t id : {0u, 1u, 3u, 6u, 1000u}) EXPECT_EQ(GetNode(t.part, id), nullptr) << id;

    LinkChildren(t.part);
    EXPECT_EQ(Children(t.part, kRootNodeId), std::vector<uint32_t>{kLostFilesNodeId});
}

TEST(FileTree, AddNodeAssignsIdsAndDerivesTypeOutsideFoundFiles) {
    Table t;
    EXPECT_EQ(Add(t.part, 0, 5, kLiveFile, u"a.JPG"), 6u);
    EXPECT_EQ(Add(t.part, 0, 5, kLiveDir, u"dir.jpg"), 7u);
    EXPECT_EQ(GetNode(t.part, 6)->typeId, 46);
    EXPECT_EQ(GetNode(t.part, 7)->typeId, 0) << "directories keep the builder's typeId";

    PartInfo found;
    found.fsKind = kFsFoundFiles;
    AddRootAndLostNodes(found);
    FileNode carved = Node(0, 5, kLiveFile, u"00000001.jpg");
    carved.typeId = 61;
    uint32_t id = AddNode(found, carved, false);
    EXPECT_EQ(GetNode(found, id)->typeId, 61);
    FreeTable(found);
}

TEST(FileTree, ReplacingANodeReleasesWhatTheOldOneOwned) {
    Table t;
    Add(t.part, 6, 5, kLiveFile, u"abc");
    uint32_t withPlainNode = LiveBytes();

    FileNode loaded = Node(6, 5, kLiveDir, u"abc");
    loaded.runList = GuardedNew<uint8_t>(64, __LINE__);
    loaded.firstCluster = 64;
    ASSERT_EQ(AddNode(t.part, loaded, false), 6u);
    for (uint32_t c = 0; c < 20; ++c) AppendChild(t.part, 6, 100 + c);
    EXPECT_GT(LiveBytes(), withPlainNode);

    ASSERT_EQ(Add(t.part, 6, 5, kLiveFile, u"xyz"), 6u);
    EXPECT_EQ(LiveBytes(), withPlainNode);
    EXPECT_EQ(NameOf(t.part, 6), u"xyz");
    EXPECT_EQ(GetNode(t.part, 6)->childIds, nullptr);

    // Re-adding a modified copy of the stored node keeps the buffers it shares.
    FileNode copy = *GetNode(t.part, 6);
    copy.size = 99;
    ASSERT_EQ(AddNode(t.part, copy, false), 6u);
    EXPECT_EQ(NameOf(t.part, 6), u"xyz");
    EXPECT_EQ(LiveBytes(), withPlainNode);
}

TEST(FileTree, AppendChildStartsAtEightAndGrowsByHalf) {
    Table t;
    Add(t.part, 6, 5, kLiveDir, u"d");
    std::vector<uint32_t> capacities;
    for (uint32_t c = 0; c < 20; ++c) {
        ASSERT_TRUE(AppendChild(t.part, 6, 1000 + c));
        capacities.push_back(GetNode(t.part, 6)->childCapacity);
    }
    EXPECT_EQ(capacities[0], 8u);
    EXPECT_EQ(capacities[8], 12u);
    EXPECT_EQ(capacities[12], 18u);
    EXPECT_EQ(capacities[19], 27u);
    std::vector<uint32_t> kids = Children(t.part, 6);
    ASSERT_EQ(kids.size(), 20u);
    for (uint32_t c = 0; c < 20; ++c) EXPECT_EQ(kids[c], 1000 + c);
    EXPECT_FALSE(AppendChild(t.part, 77, 1));
}

TEST(FileTree, ReserveNodesGrowthSteps) {
    PartInfo part;
    struct Step {
        uint32_t wanted;
        uint32_t capacity;
    } steps[] = {{0, 1024},    {0, 1024},    {1023, 1024},   {1024, 2048},
                 {1600, 2048}, {2048, 3072}, {10000, 10000}, {10000, 11024}};
    for (const Step& s : steps) {
        ASSERT_TRUE(ReserveNodes(part, s.wanted));
        EXPECT_EQ(part.nodeCapacity, s.capacity) << "wanted " << s.wanted;
    }
    FreeTable(part);
}

TEST(FileTree, SequentialAddsGrowTheTableGeometrically) {
    // A reader adding nodes one by one must not copy the table every 1024 nodes.
    Table t;
    std::set<uint32_t> capacities;
    for (uint32_t i = 0; i < 150000; ++i) {
        FileNode n = MakeNode();
        n.parentId = 5;
        n.name = CopyNodeName(u"f");
        ASSERT_NE(AddNode(t.part, n, false), 0u);
        capacities.insert(t.part.nodeCapacity);
    }
    EXPECT_LT(capacities.size(), 20u);
    EXPECT_EQ(*capacities.begin(), 1024u);
}

TEST(FileTree, OrphansEndUpInLostFiles) {
    Table t;
    Add(t.part, 6, 5, kLiveDir, u"dir");
    Add(t.part, 7, 5, kLiveFile, u"file");
    Add(t.part, 9, 6, kLiveFile, u"in dir");
    Add(t.part, 10, 6, kDeletedDir, u"deleted sub");
    Add(t.part, 11, 10, kDeletedFile, u"in deleted sub");
    struct Case {
        uint32_t id;
        uint32_t parent;
        const char16_t* why;
    } orphans[] = {
        {12, 7, u"parent is a file"}, {13, 8, u"parent slot is empty"},
        {14, 0, u"parent id 0"},      {15, 500, u"parent beyond count"},
        {16, 16, u"its own parent"},
    };
    for (const Case& c : orphans) Add(t.part, c.id, c.parent, kLiveDir, c.why);
    LinkChildren(t.part);

    EXPECT_EQ(Children(t.part, 6), (std::vector<uint32_t>{9, 10}));
    EXPECT_EQ(Children(t.part, 10), std::vector<uint32_t>{11});
    EXPECT_EQ(Children(t.part, 5), (std::vector<uint32_t>{4, 6, 7}));
    EXPECT_EQ(Children(t.part, 4), (std::vector<uint32_t>{12, 13, 14, 15, 16}));
    for (const Case& c : orphans) {
        EXPECT_EQ(GetNode(t.part, c.id)->parentId, kLostFilesNodeId) << "node " << c.id;
    }
    // Linking twice rebuilds rather than appends.
    LinkChildren(t.part);
    EXPECT_EQ(Children(t.part, 4).size(), 5u);
}

TEST(FileTree, LinkNowMarksListedAncestorsUpToTheRoot) {
    PartInfo found;
    found.fsKind = kFsFoundFiles;
    AddRootAndLostNodes(found);
    Add(found, 7, 5, kLiveDir, u"照片");
    Add(found, 46, 7, kLiveDir, u"jpg");
    LinkChildren(found);
    for (int i = 0; i < 3; ++i) {
        FileNode carved = Node(0, 46, kLiveFile, u"x.jpg");
        carved.flags |= kFlagListed;
        ASSERT_NE(AddNode(found, carved, true), 0u);
    }
    FileNode unlisted = Node(0, 46, kLiveFile, u"y.jpg");
    AddNode(found, unlisted, true);

    EXPECT_EQ(Children(found, 46).size(), 4u);
    EXPECT_EQ(GetNode(found, 46)->listedCount, 3u);
    EXPECT_EQ(GetNode(found, 7)->listedCount, 3u);
    EXPECT_TRUE(GetNode(found, 7)->flags & kFlagListed);
    EXPECT_EQ(GetNode(found, 5)->listedCount, 0u) << "the root is not changed";
    EXPECT_EQ(found.listedTotal, 3u);
    FreeTable(found);
}

TEST(FileTree, IdLimitsPerRecordKind) {
    PartInfo files;
    AddRootAndLostNodes(files);
    uint32_t before = LiveBytes();
    EXPECT_EQ(Add(files, kFileNodeLimit, 5, kLiveFile, u"too far"), 0u);
    EXPECT_EQ(LiveBytes(), before) << "a refused node's name is released";
    EXPECT_EQ(Add(files, kFileNodeLimit - 1, 5, kLiveFile, u"last"), kFileNodeLimit - 1);
    EXPECT_EQ(files.nodeCount, kFileNodeLimit);
    EXPECT_EQ(files.nodeCapacity, kFileNodeLimit);
    EXPECT_EQ(Add(files, 0, 5, kLiveFile, u"next"), 0u);
    FreeTable(files);

    PartInfo refs;
    NodeRef ref{};
    ref.id = kNodeRefLimit - 1;
    EXPECT_EQ(AddNodeRef(refs, ref, false), kNodeRefLimit - 1);
    EXPECT_NE(GetNodeRef(refs, kNodeRefLimit - 1), nullptr);
    ref.id = kNodeRefLimit;
    EXPECT_EQ(AddNodeRef(refs, ref, false), 0u);
    FreeTable(refs, RecordKind::NodeRef);
}

TEST(FileTree, NodeRefTablesLinkThroughTheSameOperations) {
    PartInfo refs;
    NodeRef root{};
    root.id = 5;
    root.parentId = 5;
    AddNodeRef(refs, root, false);
    for (uint32_t i = 0; i < 3; ++i) {
        NodeRef entry{};
        entry.parentId = 5;
        entry.partitionIndex = 4;
        entry.nodeId = 100 + i;
        EXPECT_EQ(AddNodeRef(refs, entry, true), 6 + i);
    }
    NodeRef* r = GetNodeRef(refs, 5);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->childCount, 3u);
    EXPECT_EQ(r->childIds[2], 8u);
    EXPECT_EQ(GetNodeRef(refs, 7)->nodeId, 101u);
    EXPECT_EQ(GetNodeRef(refs, 4), nullptr);
    FreeTable(refs, RecordKind::NodeRef);
}

// A table of record numbers with gaps, as the NTFS reader leaves it:
// directories every 100 ids, each file parented by a directory above or below.
void FillSparse(PartInfo& part, uint32_t count, uint32_t emptyEvery) {
    AddRootAndLostNodes(part);
    for (uint32_t i = 6; i < count; ++i) {
        if (i % 100 == 50) {
            Add(part, i, 5, kLiveDir, (u"d" + std::u16string(1, char16_t(i))).c_str());
        } else if (i % emptyEvery != 0 && i % 100 != 51) {
            uint32_t dir = (i / 100) * 100 + 50;
            if ((i / 100) % 2 == 1 && dir + 100 < count) dir += 100;
            if (dir >= count) dir = 50;
            Add(part, i, dir, i % 3 ? kLiveFile : kDeletedFile,
                (u"f" + std::u16string(1, char16_t(i))).c_str());
        }
    }
    LinkChildren(part);
}

std::set<std::pair<std::u16string, std::u16string>> Edges(PartInfo& part) {
    std::set<std::pair<std::u16string, std::u16string>> edges;
    for (uint32_t i = 1; i < part.nodeCount; ++i) {
        FileNode* n = GetNode(part, i);
        if (n == nullptr) continue;
        edges.insert({NameOf(part, n->parentId), NameOf(part, i)});
        for (uint32_t c : Children(part, i)) {
            EXPECT_EQ(GetNode(part, c)->parentId, i) << "child list and parent id disagree";
        }
    }
    return edges;
}

TEST(FileTree, CompactTableOnlyWhenMoreThan5000SlotsAreEmpty) {
    struct Case {
        uint32_t emptyEvery;
        bool compacted;
    } cases[] = {{3, true}, {5, false}};  // about 6,600 and 4,200 empty of 20,000
    for (const Case& c : cases) {
        PartInfo part;
        FillSparse(part, 20000, c.emptyEvery);
        uint32_t valid = 0;
        for (uint32_t i = 0; i < part.nodeCount; ++i) valid += GetNode(part, i) ? 1 : 0;
        auto before = Edges(part);
        CompactTable(part);
        auto after = Edges(part);
        EXPECT_EQ(before, after);
        if (c.compacted) {
            EXPECT_EQ(part.nodeCount, valid + 4) << "ids 0..3 stay free, the rest is dense";
            EXPECT_EQ(part.nodeCapacity, part.nodeCount);
            for (uint32_t i = 4; i < part.nodeCount; ++i) ASSERT_NE(GetNode(part, i), nullptr);
        } else {
            EXPECT_EQ(part.nodeCount, 20000u);
        }
        FreeTable(part);
    }
}

TEST(FileTree, SplitLostFilesIntoFoldersOf300) {
    Table t;
    for (uint32_t i = 0; i < 650; ++i) Add(t.part, 0, 0, kDeletedFile, u"orphan");
    LinkChildren(t.part);
    ASSERT_EQ(Children(t.part, 4).size(), 650u);
    std::vector<uint32_t> orphans = Children(t.part, 4);

    SplitLostFiles(t.part);
    std::vector<uint32_t> folders = Children(t.part, 4);
    ASSERT_EQ(folders.size(), 3u);
    const char16_t* names[] = {u"000", u"001", u"002"};
    size_t sizes[] = {300, 300, 50};
    size_t next = 0;
    for (size_t f = 0; f < 3; ++f) {
        FileNode* folder = GetNode(t.part, folders[f]);
        ASSERT_NE(folder, nullptr);
        EXPECT_EQ(std::u16string(folder->name), names[f]);
        EXPECT_EQ(NodeKind(*folder), kDeletedDir);
        EXPECT_EQ(folder->parentId, kLostFilesNodeId);
        std::vector<uint32_t> kids = Children(t.part, folders[f]);
        ASSERT_EQ(kids.size(), sizes[f]);
        for (uint32_t k : kids) {
            EXPECT_EQ(k, orphans[next++]);
            EXPECT_EQ(GetNode(t.part, k)->parentId, folders[f]);
        }
    }

    Table small;
    for (uint32_t i = 0; i < 300; ++i) Add(small.part, 0, 0, kDeletedFile, u"orphan");
    LinkChildren(small.part);
    SplitLostFiles(small.part);
    EXPECT_EQ(Children(small.part, 4).size(), 300u) << "300 entries are left alone";
}

TEST(FileTree, CountingPassesEndOnLoopsInChildLists) {
    Table t;
    Add(t.part, 6, 5, kLiveDir, u"a");
    Add(t.part, 7, 6, kLiveDir, u"b");
    Add(t.part, 8, 7, kDeletedFile, u"f");
    LinkChildren(t.part);
    GetNode(t.part, 8)->flags |= kFlagListed;
    // Damage no builder makes: a directory listed as its own child, and a
    // child that names its grandparent.
    AppendChild(t.part, 6, 6);
    AppendChild(t.part, 7, 6);
    AppendChild(t.part, 7, 8);
    EXPECT_EQ(CountListed(t.part, kRootNodeId), 1u);
    EXPECT_EQ(CountDeletedView(t.part, kRootNodeId, false), 1u);
    EXPECT_EQ(GetNode(t.part, 6)->listedCount, 1u);
}

TEST(FileTree, CountDeletedViewListsEverythingInsideDeletedDirectories) {
    Table t;
    Add(t.part, 6, 5, kLiveDir, u"live");
    Add(t.part, 7, 6, kLiveFile, u"live/live");
    Add(t.part, 8, 6, kDeletedFile, u"live/deleted");
    Add(t.part, 9, 5, kDeletedDir, u"gone");
    Add(t.part, 10, 9, kLiveDir, u"gone/sub");
    Add(t.part, 11, 10, kLiveFile, u"gone/sub/live");
    Add(t.part, 12, 9, kDeletedFile, u"gone/deleted");
    Add(t.part, 13, 5, kLiveFile, u"top");
    LinkChildren(t.part);

    EXPECT_EQ(CountDeletedView(t.part, kRootNodeId, false), 3u);
    std::set<uint32_t> listed;
    for (uint32_t i = 6; i < t.part.nodeCount; ++i) {
        if (GetNode(t.part, i)->flags & kFlagListed) listed.insert(i);
    }
    EXPECT_EQ(listed, (std::set<uint32_t>{6, 8, 9, 10, 11, 12}));
    EXPECT_EQ(GetNode(t.part, 9)->listedCount, 2u);
    EXPECT_EQ(GetNode(t.part, 5)->listedCount, 3u);
}

}  // namespace
}  // namespace kestrel
