#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "app/guarded_memory.h"
#include "app/run_state.h"
#include "fs/file_node.h"
#include "fs/result_set.h"

namespace kestrel {
namespace {

struct Message {
    std::string to;
    uint32_t code;
    uint64_t wParam;
    int64_t lParam;
    bool operator==(const Message&) const = default;
};

struct Recorder : IObserver {
    std::string name;
    std::vector<Message>* log;
    Recorder(std::string n, std::vector<Message>* l) : name(std::move(n)), log(l) {}
    void OnMessage(uint32_t code, uint64_t w, int64_t l) override {
        log->push_back({name, code, w, l});
    }
};

// Sets the run mode and the partition being recovered for one test.
struct RunScope {
    int32_t savedMode;
    uint64_t savedStart;
    RunScope(int32_t mode, uint64_t start) {
        savedMode = Run().RecoverMode;
        savedStart = Run().CurPartInfo.startLba;
        Run().RecoverMode = mode;
        Run().CurPartInfo.startLba = start;
        Run().CurPartInfo.devicePath = u"/dev/sdz";
    }
    ~RunScope() {
        Run().RecoverMode = savedMode;
        Run().CurPartInfo.startLba = savedStart;
        Run().CurPartInfo.devicePath.clear();
    }
};

void Add(PartInfo& part, uint32_t id, uint32_t parent, uint32_t kind, const char16_t* name) {
    FileNode n = MakeNode();
    n.id = id;
    n.parentId = parent;
    SetNodeKind(n, kind);
    n.name = CopyNodeName(name);
    AddNode(part, n, false);
}

// A live directory and a deleted one, each holding a live and a deleted file,
// and a live file at the root.
PartInfo MixedPartition(uint64_t startLba) {
    PartInfo part;
    part.fsKind = kFsNtfs;
    part.startLba = startLba;
    AddRootAndLostNodes(part);
    Add(part, 6, 5, kLiveDir, u"live");
    Add(part, 7, 6, kLiveFile, u"live.txt");
    Add(part, 8, 6, kDeletedFile, u"deleted.txt");
    Add(part, 9, 5, kDeletedDir, u"gone");
    Add(part, 10, 9, kLiveFile, u"still.txt");
    Add(part, 11, 9, kDeletedFile, u"erased.txt");
    Add(part, 12, 5, kLiveFile, u"top.txt");
    LinkChildren(part);
    return part;
}

std::set<uint32_t> ListedFiles(PartInfo& part) {
    std::set<uint32_t> ids;
    for (uint32_t i = 6; i < part.nodeCount; ++i) {
        FileNode* n = GetNode(part, i);
        if (n != nullptr && !IsDirectory(*n) && (n->flags & kFlagListed)) ids.insert(i);
    }
    return ids;
}

TEST(TreeResultSet, ResetBuildsTheSkeletonSlotsAndTheFoundFilesPartition) {
    struct Case {
        int32_t recoverMode;
        uint32_t mode;
    } cases[] = {{kModeDeletedFiles, 2}, {kModePartitionFiles, 0}, {kModeDiskFiles, 0}};
    for (const Case& c : cases) {
        RunScope run(c.recoverMode, 2048);
        ResultSet rs;
        rs.filterState = kFilterActive;
        ResetResultSet(rs);
        EXPECT_EQ(rs.mode, c.mode);
        EXPECT_EQ(rs.filterState, kFilterRebuilt);
        ASSERT_EQ(rs.partitionCount, 4u);
        PartInfo& found = rs.partitions[kFoundFilesSlot];
        EXPECT_EQ(found.fsKind, uint32_t(kFsFoundFiles));
        EXPECT_EQ(found.label, u"找到的文件");
        EXPECT_EQ(found.devicePath, u"/dev/sdz");
        ASSERT_NE(GetNode(found, kRootNodeId), nullptr);
        EXPECT_TRUE(GetNode(found, kRootNodeId)->flags & kFlagListed);
    }
}

TEST(TreeResultSet, ClearReleasesEveryTable) {
    RunScope run(kModePartitionFiles, 0);
    FlushDeferred();
    uint32_t before = LiveBytes();
    {
        ResultSet rs;
        ResetResultSet(rs);
        PartInfo part = MixedPartition(0);
        part.fsTable = GuardedNew<uint8_t>(4096, __LINE__);
        ASSERT_TRUE(AddPartition(rs, part, nullptr, false));
        ClearResultSet(rs);
        EXPECT_EQ(rs.partitionCount, 0u);
        EXPECT_EQ(rs.partitions, nullptr);
        FlushDeferred();
        EXPECT_EQ(LiveBytes(), before);
        ResetResultSet(rs);  // the destructor frees this one
    }
    FlushDeferred();
    EXPECT_EQ(LiveBytes(), before);
}

TEST(TreeResultSet, ListingFollowsTheRecoverMode) {
    struct Case {
        int32_t recoverMode;
        uint64_t recoveredStart;  // the partition starts at 2048
        uint32_t total;
        std::set<uint32_t> listed;
    } cases[] = {
        // Deleted files only...
        {kModeDeletedFiles, 999, 2, {8, 11}},
        // ...but in the partition being recovered everything inside a deleted
        // directory belongs to the result.
        {kModeDeletedFiles, 2048, 3, {8, 10, 11}},
        {kModePartitionFiles, 2048, 5, {7, 8, 10, 11, 12}},
        {kModeDiskFiles, 999, 5, {7, 8, 10, 11, 12}},
    };
    for (const Case& c : cases) {
        RunScope run(c.recoverMode, c.recoveredStart);
        ResultSet rs;
        ResetResultSet(rs);
        ASSERT_TRUE(AddPartition(rs, MixedPartition(2048), nullptr, false));
        PartInfo& part = rs.partitions[kFirstReadSlot];
        EXPECT_EQ(part.listedTotal, c.total) << "mode " << c.recoverMode;
        EXPECT_EQ(ListedFiles(part), c.listed) << "mode " << c.recoverMode;
        EXPECT_EQ(GetNode(part, kRootNodeId)->listedCount, c.total);
    }
}

TEST(TreeResultSet, A4097thPartitionIsDropped) {
    RunScope run(kModePartitionFiles, 0);
    ResultSet rs;
    ResetResultSet(rs);
    while (rs.partitionCount < kPartitionSlots) {
        ASSERT_TRUE(AddPartition(rs, PartInfo(), nullptr, false));
    }
    PartInfo extra;
    extra.label = u"one too many";
    EXPECT_FALSE(AddPartition(rs, extra, nullptr, true));
    EXPECT_EQ(rs.partitionCount, kPartitionSlots);
}

TEST(TreeResultSet, ObserversAreToldInOrderAndTheMainWindowGets1128) {
    struct Case {
        bool foundFilesListsSomething;
        bool expect1128;
    } cases[] = {{false, true}, {true, false}};
    for (const Case& c : cases) {
        RunScope run(kModePartitionFiles, 0);
        std::vector<Message> log;
        Recorder main("main", &log), browser("browser", &log);
        ResultSet rs;
        AddObserver(rs, &main);
        AddObserver(rs, &browser);
        AddObserver(rs, &browser);
        rs.mainWindow = &main;
        ResetResultSet(rs, nullptr, true);
        if (c.foundFilesListsSomething) rs.partitions[kFoundFilesSlot].listedTotal = 1;
        AddPartition(rs, MixedPartition(0), nullptr, true);
        AddPartition(rs, MixedPartition(0), nullptr, true);
        AddPartition(rs, MixedPartition(0), nullptr, false);

        std::vector<Message> expected = {
            {"main", kMsgPartitionAdded, 3, 0},
            {"browser", kMsgPartitionAdded, 3, 0},
            {"main", kMsgPartitionAdded, 4, 0},
            {"browser", kMsgPartitionAdded, 4, 0},
        };
        if (c.expect1128) expected.push_back({"main", kMsgFirstPartitionNoFound, 0, 0});
        expected.push_back({"main", kMsgPartitionAdded, 5, 0});
        expected.push_back({"browser", kMsgPartitionAdded, 5, 0});
        EXPECT_EQ(log, expected);

        log.clear();
        RemoveObserver(rs, &main);
        NotifyObservers(rs, kMsgDeepScanComplete, 6, 0);
        EXPECT_EQ(log, (std::vector<Message>{{"browser", kMsgDeepScanComplete, 6, 0}}));
    }
}

TEST(TreeResultSet, RenameNode) {
    RunScope run(kModePartitionFiles, 0);
    std::vector<Message> log;
    Recorder page("page", &log), other("other", &log);
    ResultSet rs;
    ResetResultSet(rs);
    AddObserver(rs, &page);
    AddObserver(rs, &other);
    AddPartition(rs, MixedPartition(0), nullptr, false);
    PartInfo& part = rs.partitions[kFirstReadSlot];
    GetNode(part, 12)->flags &= uint16_t(~kFlagListed);

    // A classification entry pointing at node 7 of slot 4.
    PartInfo& tree = rs.classTrees[0];
    NodeRef ref{};
    ref.id = 6;
    ref.partitionIndex = kFirstReadSlot;
    ref.nodeId = 7;
    AddNodeRef(tree, ref, false);

    EXPECT_FALSE(RenameNode(rs, kFirstReadSlot, 8, u""));
    EXPECT_FALSE(RenameNode(rs, kFirstReadSlot, 99, u"x"));
    EXPECT_FALSE(RenameNode(rs, kFirstReadSlot, 12, u"x")) << "not listed";
    EXPECT_FALSE(RenameNode(rs, 77, 8, u"x"));
    EXPECT_TRUE(log.empty());

    EXPECT_TRUE(RenameNode(rs, kFirstReadSlot, 8, u"新名字.txt", &page));
    EXPECT_EQ(std::u16string(GetNode(part, 8)->name), u"新名字.txt");
    EXPECT_TRUE(RenameNode(rs, ClassTreeRow(0), 6, u"via view"));
    EXPECT_EQ(std::u16string(GetNode(part, 7)->name), u"via view");
    EXPECT_EQ(log, (std::vector<Message>{
                       {"other", kMsgNodeRenamed, kFirstReadSlot, 8},
                       {"page", kMsgNodeRenamed, ClassTreeRow(0), 6},
                       {"other", kMsgNodeRenamed, ClassTreeRow(0), 6},
                   }));

    // While a filter is active, FilterMatch decides instead of Listed.
    rs.filterState = kFilterActive;
    GetNode(part, 12)->flags |= kFlagFilterMatch;
    EXPECT_TRUE(RenameNode(rs, kFirstReadSlot, 12, u"matched"));
    EXPECT_FALSE(RenameNode(rs, kFirstReadSlot, 8, u"listed only"));
}

std::vector<std::string>* gHookCalls = nullptr;

TEST(TreeResultSet, ClassificationHookIsCalledAtResetAndPerPartition) {
    RunScope run(kModePartitionFiles, 0);
    std::vector<std::string> calls;
    gHookCalls = &calls;
    ClassificationHook hook;
    hook.buildViewSkeletons = [](ResultSet& rs, const ScanState*) {
        gHookCalls->push_back("skeletons at " + std::to_string(rs.partitionCount));
        for (int i = 0; i < 3; ++i) AddPartition(rs, PartInfo(), nullptr, false);
    };
    hook.classifyPartition = [](ResultSet& rs, uint32_t slot, const ScanState*) {
        gHookCalls->push_back("classify " + std::to_string(slot) + " counted " +
                              std::to_string(rs.partitions[slot].listedTotal));
    };
    SetClassificationHook(hook);
    ResultSet rs;
    ResetResultSet(rs);
    AddPartition(rs, MixedPartition(0), nullptr, false);
    SetClassificationHook(ClassificationHook{});
    gHookCalls = nullptr;
    EXPECT_EQ(calls, (std::vector<std::string>{"skeletons at 0", "classify 3 counted 0",
                                               "classify 4 counted 5"}));
}

TEST(TreeResultSet, MemorySummaryNamesEveryRealPartition) {
    RunScope run(kModePartitionFiles, 0);
    ResultSet rs;
    ResetResultSet(rs);
    AddPartition(rs, MixedPartition(0), nullptr, false);
    EXPECT_EQ(Utf8FromWide(ResultSetSummaryText(rs)), "RealPartNum: 2  [0,6] [1,13] ");
}

}  // namespace
}  // namespace kestrel
