#include "results/class_views.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/progress.h"
#include "carving/type_catalogue.h"
#include "view_test_support.h"

namespace kestrel {
namespace {

using test::Date;
using test::PartBuilder;
using test::ViewScope;

std::vector<uint32_t> Children(PartInfo& tree, uint32_t id) {
    NodeRef* ref = GetNodeRef(tree, id);
    if (ref == nullptr || ref->childIds == nullptr) return {};
    return std::vector<uint32_t>(ref->childIds, ref->childIds + ref->childCount);
}

// The (slot, node) pairs of the file entries below one folder entry.
std::vector<std::pair<uint32_t, uint32_t>> Targets(PartInfo& tree, uint32_t id) {
    std::vector<std::pair<uint32_t, uint32_t>> out;
    for (uint32_t c : Children(tree, id)) {
        NodeRef* ref = GetNodeRef(tree, c);
        if (ref->partitionIndex >= kFoundFilesSlot)
            out.push_back({ref->partitionIndex, ref->nodeId});
    }
    return out;
}

TEST(ClassViews, SkeletonsHoldTypeAndDateFolders) {
    ViewScope v;
    ResultSet& rs = v.rs;
    ASSERT_EQ(rs.partitionCount, 4u);
    uint32_t jpg = TypeIdFromFileName(u"a.jpg");
    const FileNode* jpgFolder = GetNode(rs.partitions[0], jpg);
    ASSERT_NE(jpgFolder, nullptr);
    EXPECT_EQ(WString(jpgFolder->name), u"jpg");
    const FileNode* category = GetNode(rs.partitions[0], jpgFolder->parentId);
    ASSERT_NE(category, nullptr);
    EXPECT_EQ(category->parentId, kRootNodeId);

    struct Folder {
        uint32_t id, parent;
        const char16_t* name;
    } folders[] = {
        {1980, 5, u"1980年"},
        {2019, 5, u"2019年"},
        {2020, 1980, u"01月"},
        {2499, 2019, u"12月"},
        {2500, 2020, u"01日"},
        {17379, 2499, u"31日"},
        {DayFolderId(2004, 2, 30), MonthFolderId(2004, 2), u"30日"},
    };
    for (uint32_t slot : {1u, 2u}) {
        EXPECT_EQ(rs.partitions[slot].nodeCount, 17380u);
        for (const Folder& f : folders) {
            const FileNode* n = GetNode(rs.partitions[slot], f.id);
            ASSERT_NE(n, nullptr) << f.id;
            EXPECT_EQ(n->parentId, f.parent) << f.id;
            EXPECT_EQ(WString(n->name), f.name) << f.id;
            EXPECT_EQ(NodeKind(*n), kLiveDir);
        }
    }
    for (uint32_t t = 0; t < 3; ++t) {
        PartInfo& tree = rs.classTrees[t];
        EXPECT_EQ(tree.label, u"Virtual");
        NodeRef* root = GetNodeRef(tree, kRootNodeId);
        ASSERT_NE(root, nullptr);
        EXPECT_EQ(root->partitionIndex, t);
        EXPECT_EQ(Children(tree, kRootNodeId).front(), kLostFilesNodeId);
    }
    // The date trees mirror slot 1's folders but point into their own slot.
    NodeRef* day = GetNodeRef(rs.classTrees[2], 17379);
    ASSERT_NE(day, nullptr);
    EXPECT_EQ(day->partitionIndex, 2u);
    EXPECT_EQ(day->parentId, 2499u);
    NodeRef* jpgEntry = GetNodeRef(rs.classTrees[0], jpg);
    ASSERT_NE(jpgEntry, nullptr);
    EXPECT_EQ(jpgEntry->parentId, jpgFolder->parentId);

    PartInfo& found = rs.partitions[kFoundFilesSlot];
    EXPECT_EQ(found.fsKind, kFsFoundFiles);
    EXPECT_EQ(found.label, u"找到的文件");
    EXPECT_TRUE(GetNode(found, kRootNodeId)->flags & kFlagListed);
    EXPECT_NE(GetNode(found, jpg), nullptr);
}

TEST(ClassViews, DateViewParentPlacesEveryTime) {
    struct Case {
        uint32_t packed;
        uint32_t parent;
    } cases[] = {
        {Date(1980, 1, 1), 2500},
        {Date(2019, 12, 31), 17379},
        {Date(2004, 2, 30), DayFolderId(2004, 2, 30)},
        {Date(2020, 1, 1), kLostFilesNodeId},  // beyond the last year folder
        {Date(2043, 12, 31), kLostFilesNodeId},
        {0, kLostFilesNodeId},                                       // unknown time
        {(10u << 26) | (0u << 22) | (5u << 17), kLostFilesNodeId},   // month 0
        {(10u << 26) | (13u << 22) | (5u << 17), kLostFilesNodeId},  // month 13
        {(10u << 26) | (3u << 22) | (0u << 17), kLostFilesNodeId},   // day 0
    };
    for (const Case& c : cases) EXPECT_EQ(DateViewParent(c.packed), c.parent) << c.packed;
}

TEST(ClassViews, ListedFilesGoToTheirTypeAndDayFolders) {
    ViewScope v;
    ResultSet& rs = v.rs;
    PartBuilder b;
    uint32_t dir = b.Dir(u"photos");
    uint32_t photo = b.File(u"photo.jpg", dir, 5000, Date(2015, 3, 7), Date(2021, 6, 1));
    uint32_t odd = b.File(u"notes.zzq", dir, 10, Date(2010, 1, 1), Date(2010, 1, 2));
    uint32_t zero = b.File(u"zero.txt", kRootNodeId, 10, 0, 0);
    uint32_t slot = b.AddTo(rs);
    ASSERT_EQ(slot, 4u);

    PartInfo& byType = rs.classTrees[0];
    PartInfo& byCreated = rs.classTrees[1];
    PartInfo& byModified = rs.classTrees[2];
    uint32_t jpg = TypeIdFromFileName(u"a.jpg");
    uint32_t txt = TypeIdFromFileName(u"a.txt");
    using Targets_t = std::vector<std::pair<uint32_t, uint32_t>>;
    EXPECT_EQ(Targets(byType, jpg), (Targets_t{{slot, photo}}));
    EXPECT_EQ(Targets(byType, txt), (Targets_t{{slot, zero}}));
    EXPECT_EQ(Targets(byType, kLostFilesNodeId), Targets_t{});
    EXPECT_EQ(byType.listedTotal, 2u);  // notes.zzq has no type folder

    EXPECT_EQ(Targets(byCreated, DayFolderId(2015, 3, 7)), (Targets_t{{slot, photo}}));
    EXPECT_EQ(Targets(byCreated, DayFolderId(2010, 1, 1)), (Targets_t{{slot, odd}}));
    EXPECT_EQ(Targets(byCreated, kLostFilesNodeId), (Targets_t{{slot, zero}}));
    EXPECT_EQ(Targets(byModified, kLostFilesNodeId), (Targets_t{{slot, photo}, {slot, zero}}));
    EXPECT_EQ(Targets(byModified, DayFolderId(2010, 1, 2)), (Targets_t{{slot, odd}}));
    EXPECT_EQ(byCreated.listedTotal, 3u);
    EXPECT_EQ(byModified.listedTotal, 3u);
    // Entries placed below the lost files say so, so walking up ends at the root.
    for (uint32_t c : Children(byModified, kLostFilesNodeId))
        EXPECT_EQ(GetNodeRef(byModified, c)->parentId, kLostFilesNodeId);

    // Each date view keeps its own counts in its own skeleton slot.
    const FileNode* created2015 = GetNode(rs.partitions[1], 2015);
    EXPECT_EQ(created2015->listedCount, 1u);
    EXPECT_TRUE(created2015->flags & kFlagListed);
    EXPECT_EQ(GetNode(rs.partitions[2], 2015)->listedCount, 0u);
    EXPECT_EQ(GetNode(rs.partitions[2], kLostFilesNodeId)->listedCount, 2u);
    EXPECT_EQ(GetNode(rs.partitions[1], kRootNodeId)->listedCount, 3u);
    EXPECT_EQ(GetNode(rs.partitions[0], jpg)->listedCount, 1u);
}

TEST(ClassViews, SamePartitionTwiceIsShownTwiceAndLinkedOnce) {
    ViewScope v;
    ResultSet& rs = v.rs;
    for (int i = 0; i < 2; ++i) {
        PartBuilder b;
        b.File(u"a.jpg", kRootNodeId, 1, Date(2001, 5, 5), Date(2001, 5, 6));
        b.File(u"gone.doc", kRootNodeId, 1, Date(2001, 5, 5), Date(2001, 5, 6), false);
        b.AddTo(rs);
    }
    EXPECT_EQ(rs.classTrees[0].listedTotal, 4u);
    EXPECT_EQ(rs.classTrees[1].listedTotal, 4u);
    auto inDay = Targets(rs.classTrees[1], DayFolderId(2001, 5, 5));
    ASSERT_EQ(inDay.size(), 4u);
    EXPECT_EQ(inDay[0].first, 4u);
    EXPECT_EQ(inDay[3].first, 5u);
    EXPECT_EQ(GetNode(rs.partitions[2], DayFolderId(2001, 5, 6))->listedCount, 4u);
}

TEST(ClassViews, UnlistedAndCarvedFilesStayOutOfTheViews) {
    ViewScope v;
    ResultSet& rs = v.rs;
    uint32_t before[3];
    for (int t = 0; t < 3; ++t) before[t] = rs.classTrees[t].nodeCount;

    // A carved file in the found-files partition, then the slot classified again.
    PartInfo& found = rs.partitions[kFoundFilesSlot];
    uint32_t jpg = TypeIdFromFileName(u"a.jpg");
    FileNode carved = MakeNode();
    carved.parentId = jpg;
    carved.typeId = uint8_t(jpg);
    carved.flags = kFlagListed;
    SetNodeKind(carved, kLiveFile);
    carved.name = CopyNodeName(u"00000001.jpg");
    AddNode(found, carved, true);
    ClassifyPartition(rs, kFoundFilesSlot, nullptr);

    // A recover-deleted-files run lists only deleted files.
    kestrel::Run().RecoverMode = kModeDeletedFiles;
    PartBuilder live;
    live.File(u"live.jpg", kRootNodeId, 1, Date(2001, 1, 1), Date(2001, 1, 1));
    live.AddTo(rs);
    kestrel::Run().RecoverMode = kModePartitionFiles;

    for (int t = 0; t < 3; ++t) {
        EXPECT_EQ(rs.classTrees[t].nodeCount, before[t]);
        EXPECT_EQ(rs.classTrees[t].listedTotal, 0u);
    }
}

TEST(ClassViews, ClassifyingPostsPhaseTen) {
    ViewScope v;
    PartBuilder b;
    for (int i = 0; i < 4000; ++i) b.File(u"f.jpg", kRootNodeId, 1, Date(2001, 1, 1), 0);
    ClearProgress();
    b.AddTo(v.rs);
    ProgressSnapshot snap;
    ASSERT_TRUE(TakeProgress(snap));
    EXPECT_EQ(snap.phase, uint32_t(kPhaseClassify));
    EXPECT_EQ(snap.classify.nodeIndex % 1879, 0u);
    EXPECT_EQ(snap.classify.nodeCount, 4006u);
}

TEST(ClassViews, StopRequestedEndsTheClassification) {
    ViewScope v;
    ResultSet& rs = v.rs;
    PartBuilder b;
    for (int i = 0; i < 10; ++i) b.File(u"f.jpg", kRootNodeId, 1, Date(2001, 1, 1), 0);
    LinkChildren(b.part);
    ScanState stop{kScanStopRequested};
    uint32_t before = rs.classTrees[1].nodeCount;
    AddPartition(rs, b.part, &stop, false);
    EXPECT_EQ(rs.classTrees[1].nodeCount, before);
    EXPECT_EQ(rs.partitionCount, 5u);
}

}  // namespace
}  // namespace kestrel
