#include "results/browse_queries.h"

#include <gtest/gtest.h>

#include "carving/type_catalogue.h"
#include "view_test_support.h"

namespace kestrel {
namespace {

using test::Date;
using test::ObserverLog;
using test::PartBuilder;
using test::ViewScope;
using Ids = std::vector<uint32_t>;

TEST(BrowseQueries, PartitionLabels) {
    ViewScope v;
    ResultSet& rs = v.rs;
    struct Case {
        uint32_t kind;
        const char16_t* label;
        uint64_t start, sectors;
        const char16_t* expected;
    } cases[] = {
        {kFsNtfs, u"Data", 2048, 1024000, u"01  NTFS  Data     (1个文件)"},  // 500 MiB
        {kFsFat32, u"", 0, 0x200000, u"02  FAT32       (1个文件)"},          // exactly 1 GiB
        {kFsExfat, u"USB", 4u << 21, 3u << 21, u"03  EXFAT  USB     (1个文件)  4(GB) 3(GB)"},
        {kFsFatDirs, u"", 0, kUnknownSizeSectors, u"04  FatDir       (1个文件)"},
        {kFsExfatDirs, u"x", 0, 0x200001, u"05  ExfatDir  x     (1个文件)  0(GB) 1(GB)"},
        {kFsFat16, u"", 0, 10, u"06  FAT16       (1个文件)"},
        {99, u"odd", 0, 10, u"07  odd     (1个文件)"},
    };
    for (const Case& c : cases) {
        PartBuilder b(c.kind, c.label);
        b.part.startLba = c.start;
        b.part.sizeSectors = c.sectors;
        b.File(u"a.jpg", kRootNodeId, 1, Date(2001, 1, 1), Date(2021, 1, 1));
        uint32_t slot = b.AddTo(rs);
        EXPECT_EQ(PartitionLabel(rs, slot), c.expected);
    }
    EXPECT_EQ(PartitionLabel(rs, kFoundFilesSlot), u"00  找到的文件     (0个文件)");
    EXPECT_EQ(PartitionLabel(rs, ClassTreeRow(0)), u"00  按文件类型分类     (7个文件)");
    EXPECT_EQ(PartitionLabel(rs, ClassTreeRow(1)), u"01  按文件创建时间分类     (7个文件)");
    EXPECT_EQ(PartitionLabel(rs, ClassTreeRow(2)), u"02  按文件修改时间分类     (7个文件)");
    EXPECT_EQ(PartitionLabel(rs, 1), u"");
    EXPECT_EQ(PartitionLabel(rs, 400), u"");
    EXPECT_EQ(PartitionLabel(rs, ClassTreeRow(3)), u"");
}

// docs/{a.txt, pic.png, old/} and top.jpg; old/ holds one deleted file.
struct Browse : ::testing::Test {
    ViewScope v;
    ResultSet& rs = v.rs;
    uint32_t slot = 0, docs = 0, txt = 0, png = 0, old = 0, gone = 0, top = 0;
    void SetUp() override {
        PartBuilder b;
        docs = b.Dir(u"docs");
        txt = b.File(u"a.txt", docs, 10, Date(2005, 1, 2), Date(2021, 3, 3));
        png = b.File(u"pic.PNG", docs, 10, Date(2005, 1, 2), Date(2006, 3, 3));
        old = b.Dir(u"old", docs, false);
        gone = b.File(u"gone.doc", old, 10, Date(2005, 1, 3), Date(2006, 3, 3), false);
        top = b.File(u"top.jpg", kRootNodeId, 10, Date(2005, 1, 2), Date(2006, 3, 3));
        slot = b.AddTo(rs);
    }
};

TEST_F(Browse, ChildrenPathsAndTexts) {
    EXPECT_EQ(VisibleChildren(rs, slot, kRootNodeId), (Ids{docs, top}));
    EXPECT_EQ(VisibleChildren(rs, slot, docs), (Ids{txt, png, old}));
    EXPECT_EQ(VisibleChildren(rs, slot, docs, true), (Ids{old}));
    EXPECT_EQ(VisibleChildren(rs, slot, kRootNodeId, true), (Ids{docs}));
    EXPECT_TRUE(HasVisibleSubfolders(rs, slot, kRootNodeId));
    EXPECT_TRUE(HasVisibleSubfolders(rs, slot, docs));
    EXPECT_FALSE(HasVisibleSubfolders(rs, slot, old));
    EXPECT_EQ(PathToRoot(rs, slot, gone), (Ids{gone, old, docs, kRootNodeId}));
    EXPECT_EQ(FirstImage(rs, slot, {txt, old, png}), png);
    EXPECT_EQ(FirstImage(rs, slot, {txt, old}), txt);
    EXPECT_EQ(FirstImage(rs, slot, {}), 0u);

    uint32_t state = 9;
    EXPECT_EQ(NodeText(rs, slot, docs, state), u"docs     (3个文件)");
    EXPECT_EQ(state, 0u);
    SetCheckState(*GetNode(rs.partitions[slot], txt), 1);
    EXPECT_EQ(NodeText(rs, slot, txt, state), u"a.txt");
    EXPECT_EQ(state, 1u);
    EXPECT_EQ(NodeText(rs, slot, 9999, state), u"");

    // The lost-files folder holds nothing listed, so it is not shown.
    EXPECT_EQ(ResolveVisible(rs, slot, kLostFilesNodeId), nullptr);
    EXPECT_TRUE(PathToRoot(rs, slot, kLostFilesNodeId).empty());
}

TEST_F(Browse, ClassificationTreesResolveThroughTheirEntries) {
    TreeRow byModified = ClassTreeRow(2);
    Ids lost = VisibleChildren(rs, byModified, kLostFilesNodeId);
    ASSERT_EQ(lost.size(), 1u);  // a.txt, modified 2021
    EXPECT_EQ(ResolveVisible(rs, byModified, lost[0]), GetNode(rs.partitions[slot], txt));
    EXPECT_EQ(PathToRoot(rs, byModified, lost[0]), (Ids{lost[0], kLostFilesNodeId, kRootNodeId}));

    EXPECT_EQ(VisibleChildren(rs, byModified, kRootNodeId, true), (Ids{kLostFilesNodeId, 2006}));
    uint32_t day = DayFolderId(2006, 3, 3);
    Ids inDay = VisibleChildren(rs, byModified, day);
    ASSERT_EQ(inDay.size(), 3u);
    EXPECT_EQ(PathToRoot(rs, byModified, inDay[0]),
              (Ids{inDay[0], day, MonthFolderId(2006, 3), 2006, kRootNodeId}));
    uint32_t state = 0;
    EXPECT_EQ(NodeText(rs, byModified, 2006, state), u"2006年     (3个文件)");
    EXPECT_EQ(FirstImage(rs, byModified, inDay), inDay[0]);  // pic.PNG comes first by id

    // Checking a year checks the files below every month and day of it.
    SetCheckStateBelow(rs, byModified, 2006, 1);
    for (uint32_t id : {png, gone, top})
        EXPECT_EQ(CheckState(*GetNode(rs.partitions[slot], id)), 1u);
    EXPECT_EQ(CheckState(*GetNode(rs.partitions[slot], txt)), 0u);
    EXPECT_EQ(CheckState(*GetNode(rs.partitions[2], day)), 1u);
}

TEST_F(Browse, CheckStatesAndFoldersFollowVisibility) {
    // While a filter is active only FilterMatch counts.
    PartInfo& part = rs.partitions[slot];
    for (uint32_t id : {uint32_t(kRootNodeId), docs, png})
        GetNode(part, id)->flags |= kFlagFilterMatch;
    rs.filterState = kFilterActive;
    EXPECT_EQ(VisibleChildren(rs, slot, docs), (Ids{png}));
    SetCheckStateBelow(rs, slot, kRootNodeId, 1);
    EXPECT_EQ(CheckState(*GetNode(part, docs)), 1u);
    EXPECT_EQ(CheckState(*GetNode(part, png)), 1u);
    EXPECT_EQ(CheckState(*GetNode(part, txt)), 0u);
    EXPECT_EQ(CheckState(*GetNode(part, top)), 0u);
    EXPECT_EQ(CheckState(*GetNode(part, kRootNodeId)), 0u);  // only what lies below

    ObserverLog log;
    AddObserver(rs, &log);
    EXPECT_TRUE(OpenFolder(rs, slot, docs));
    EXPECT_FALSE(OpenFolder(rs, slot, png));  // a file
    EXPECT_FALSE(OpenFolder(rs, slot, old));  // not visible under the filter
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].code, uint32_t(kMsgOpenFolder));
    EXPECT_EQ(log.messages[0].wParam, slot);
    EXPECT_EQ(log.messages[0].lParam, int64_t(docs));
    RemoveObserver(rs, &log);
}

TEST_F(Browse, LoopedTablesEndEveryWalk) {
    // Two directories naming each other: parent walks and descents must end.
    PartInfo& part = rs.partitions[slot];
    FileNode* d = GetNode(part, docs);
    FileNode* o = GetNode(part, old);
    d->parentId = old;
    AppendChild(part, old, docs);
    EXPECT_LE(PathToRoot(rs, slot, gone).size(), size_t(part.nodeCount) + 1);
    SetCheckStateBelow(rs, slot, docs, 1);
    EXPECT_EQ(CheckState(*o), 1u);
    EXPECT_TRUE(HasVisibleSubfolders(rs, slot, old));
}

}  // namespace
}  // namespace kestrel
