#include "results/file_filter.h"

#include <gtest/gtest.h>

#include "app/guarded_memory.h"
#include "results/filter_dialog.h"
#include "view_test_support.h"

namespace kestrel {
namespace {

using test::Date;
using test::ObserverLog;
using test::PartBuilder;
using test::ViewScope;
using Texts = std::vector<WString>;

FileFilter WithText(const WString& text) {
    FileFilter f = DefaultFileFilter();
    f.text = text;
    RebuildFilterLists(f);
    return f;
}

FileNode FileNamed(const char16_t* name, uint64_t size, uint32_t created, uint32_t modified) {
    FileNode n = MakeNode();
    n.id = 7;
    n.name = CopyNodeName(name);
    n.size = size;
    n.created = created;
    n.modified = modified;
    n.flags = kFlagListed;
    SetNodeKind(n, kLiveFile);
    return n;
}

struct NodeScope {
    FileNode node;
    NodeScope(const char16_t* name, uint64_t size, uint32_t created, uint32_t modified)
        : node(FileNamed(name, size, created, modified)) {}
    ~NodeScope() { GuardedFree(node.name); }
    NodeScope(const NodeScope&) = delete;
    NodeScope& operator=(const NodeScope&) = delete;
};

TEST(FileFilter, GrammarSplitsKeywordsAndExtensions) {
    struct Case {
        const char16_t* text;
        Texts keywords, extensions;
    } cases[] = {
        {u"report;*.DOC", {u"report"}, {u".DOC"}},
        {u";;a;;*.jpg;", {u"a"}, {u".jpg"}},
        {u"*.", {u"*."}, {}},  // two characters: a keyword, not an extension
        {u"*.tar.gz;x", {u"x"}, {u".tar.gz"}},
        {u"", {}, {}},
    };
    for (const Case& c : cases) {
        FileFilter f = WithText(c.text);
        EXPECT_EQ(f.keywords, c.keywords) << Utf8FromWide(c.text);
        EXPECT_EQ(f.extensions, c.extensions) << Utf8FromWide(c.text);
    }
}

TEST(FileFilter, TextValidationMessages) {
    const WString bar = u"多个关键字请用';'隔开！";
    const WString wildcard = u"只支持通配符 *.扩展名";
    struct Case {
        const char16_t* text;
        WString message;
    } cases[] = {
        {u"report;*.DOC", u""}, {u"*.", u""},        {u"a.b", wildcard},   {u".txt", wildcard},
        {u"a*b", wildcard},     {u"abc*", wildcard}, {u"a|b", bar},        {u"a.b|c", wildcard},
        {u"a|b.c", bar},        {u"**.x", wildcard}, {u"照片;*.jpg", u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ValidateFilterText(c.text), c.message) << Utf8FromWide(c.text);
}

TEST(FileFilter, TestNodeCases) {
    uint32_t y2010 = Date(2010, 6, 1);
    struct Case {
        const char16_t* name;
        uint64_t size;
        uint32_t created, modified;
        const char16_t* text;
        uint32_t minKb, maxKb;
        bool match;
    } cases[] = {
        {u"report.doc", 5000, y2010, y2010, u"zzz;*.DOC", 0, 100, true},  // extension, any case
        {u"My REPORT.txt", 5000, y2010, y2010, u"report", 0, 100, true},  // keyword, any case
        {u"report.docx", 5000, y2010, y2010, u"*.doc", 0, 100, false},
        {u"photo.jpg", 5000, y2010, y2010, u"*.", 0, 100, false},  // "*." matches no name
        {u"x.bin", 1023, y2010, y2010, u"", 0, 0, true},           // 1023 bytes are 0 KiB
        {u"x.bin", 1024, y2010, y2010, u"", 0, 0, false},
        {u"x.bin", 5000, 0, 0, u"nomatch", 0, 100, true},  // unknown creation passes name and dates
        {u"x.bin", 500000, 0, 0, u"nomatch", 0, 100, false},        // but not the size
        {u"x.bin", 10, Date(2010, 1, 1), 0, u"", 0, 100, true},     // unknown modification passes
        {u"Ärger.TXT", 10, y2010, y2010, u"ÄRGER", 0, 100, true},   // ASCII letters fold
        {u"Ärger.TXT", 10, y2010, y2010, u"ärger", 0, 100, false},  // others compare exactly
    };
    for (const Case& c : cases) {
        FileFilter f = WithText(c.text);
        f.sizeMinKb = c.minKb;
        f.sizeMaxKb = c.maxKb;
        NodeScope s(c.name, c.size, c.created, c.modified);
        s.node.flags |= kFlagFilterMatch;
        EXPECT_EQ(TestNode(f, s.node), c.match)
            << Utf8FromWide(c.name) << " " << Utf8FromWide(c.text);
        EXPECT_EQ((s.node.flags & kFlagFilterMatch) != 0, c.match);
    }
    // Date ranges: creation and modification each inside their own range.
    FileFilter f = DefaultFileFilter();
    f.createdFrom = FilterDateBound(2010, 1, 1, false);
    f.createdTo = FilterDateBound(2010, 12, 31, true);
    f.modifiedFrom = FilterDateBound(2011, 1, 1, false);
    f.modifiedTo = FilterDateBound(2011, 1, 31, true);
    struct DateCase {
        uint32_t created, modified;
        bool match;
    } dates[] = {
        {Date(2010, 1, 1, 0), Date(2011, 1, 31, 23), true},
        {Date(2009, 12, 31, 23), Date(2011, 1, 5), false},
        {Date(2010, 5, 5), Date(2011, 2, 1, 0), false},
        {0, Date(2030, 1, 1), true},
    };
    for (const DateCase& d : dates) {
        NodeScope s(u"a", 1, d.created, d.modified);
        EXPECT_EQ(TestNode(f, s.node), d.match) << d.created;
    }
    // Directories and unlisted files never match themselves.
    NodeScope dir(u"d", 0, y2010, y2010);
    SetNodeKind(dir.node, kLiveDir);
    EXPECT_FALSE(TestNode(f, dir.node));
    NodeScope unlisted(u"a", 1, 0, 0);
    unlisted.node.flags = 0;
    EXPECT_FALSE(TestNode(f, unlisted.node));
}

TEST(FileFilter, DialogRules) {
    struct SizeLine {
        uint32_t kb;
        const char16_t* text;
    } lines[] = {
        {0, u"0(KB)"},
        {1024, u"1024(KB)"},
        {1025, u"1.00(MB)"},
        {1536, u"1.50(MB)"},
        {1048576, u"1024.00(MB)"},
        {1048577, u"1.00(GB)"},
        {134217728, u"128.00(GB)"},
    };
    for (const SizeLine& l : lines) EXPECT_EQ(ReadableSizeText(l.kb), l.text) << l.kb;

    struct SizeInput {
        const char16_t* text;
        bool valid;
        uint32_t value;
    } inputs[] = {
        {u"", true, 0},
        {u"0", true, 0},
        {u"12345678", true, 12345678},
        {u"139999999", true, 139999999},
        {u"099999999", true, 99999999},
        {u"140000000", false, 0},
        {u"200000000", false, 0},
        {u"1000000000", false, 0},
        {u"12a", false, 0},
        {u"-1", false, 0},
        {u" 1", false, 0},
    };
    for (const SizeInput& s : inputs) {
        EXPECT_EQ(IsValidSizeInput(s.text), s.valid) << Utf8FromWide(s.text);
        if (s.valid) {
            EXPECT_EQ(ParseSizeInput(s.text), s.value);
        }
    }
    EXPECT_EQ(InvalidSizeMessage(), u"输入的文件大小不合法!");

    // OK checks in order: the first failing one speaks.
    FileFilter f = DefaultFileFilter();
    EXPECT_EQ(ValidateFilterSettings(f), u"");
    f.accessedFrom = f.accessedTo + 1;
    EXPECT_EQ(ValidateFilterSettings(f), u"文件访问起始时间大于结束时间，设置不合法！");
    f.modifiedFrom = f.modifiedTo + 1;
    EXPECT_EQ(ValidateFilterSettings(f), u"文件修改起始时间大于结束时间，设置不合法！");
    f.createdFrom = f.createdTo + 1;
    EXPECT_EQ(ValidateFilterSettings(f), u"文件创建起始时间大于结束时间，设置不合法！");
    f.sizeMinKb = 10;
    f.sizeMaxKb = 9;
    EXPECT_EQ(ValidateFilterSettings(f), u"文件起始大小大于最大大小，设置不合法！");
    f.text = u"a|b";
    EXPECT_EQ(ValidateFilterSettings(f), u"多个关键字请用';'隔开！");

    // Picked dates: 00:00:00 and 23:59:59; an unreadable date is January 1st.
    EXPECT_EQ(FilterDateBound(2012, 2, 29, true), PackTime({2012, 2, 29, 23, 59, 59}));
    EXPECT_EQ(FilterDateBound(2011, 2, 29, false), PackTime({2011, 1, 1, 0, 0, 0}));

    // Defaults: every size, 1980-01-01 to today 23:59:59.
    FileFilter d = DefaultFileFilter();
    EXPECT_EQ(d.sizeMinKb, 0u);
    EXPECT_EQ(d.sizeMaxKb, 0x8000000u);
    EXPECT_EQ(d.createdFrom, PackTime({1980, 1, 1, 0, 0, 0}));
    CalendarTime to = UnpackTime(d.modifiedTo);
    CalendarTime now = UnpackTime(PackedTimeNow());
    EXPECT_EQ(to.day, now.day);
    EXPECT_EQ(to.hour, 23);
    EXPECT_EQ(to.second, 59);
}

// A partition with docs/{report.doc, notes.txt}, misc/{other.bin} and a
// carved report in the found-files partition.
struct FilterRun : ::testing::Test {
    ViewScope v;
    ResultSet& rs = v.rs;
    uint32_t slot = 0, docs = 0, report = 0, notes = 0, misc = 0, other = 0;
    ObserverLog log;
    void SetUp() override {
        PartBuilder b;
        docs = b.Dir(u"docs");
        report = b.File(u"report.doc", docs, 3000, Date(2010, 1, 1), Date(2010, 1, 2));
        notes = b.File(u"notes.txt", docs, 10, Date(2010, 1, 1), Date(2010, 1, 2));
        misc = b.Dir(u"misc");
        other = b.File(u"other.bin", misc, 10, Date(2010, 1, 1), Date(2010, 1, 2));
        slot = b.AddTo(rs);
        PartInfo& found = rs.partitions[kFoundFilesSlot];
        FileNode carved = MakeNode();
        carved.parentId = kRootNodeId;
        carved.flags = kFlagListed;
        SetNodeKind(carved, kLiveFile);
        carved.name = CopyNodeName(u"00000001.xlsx");
        carved.created = Date(2010, 1, 1);  // a node without one would pass any name
        AddNode(found, carved, true);
        rs.filterState = 0;
        AddObserver(rs, &log);
    }
    void TearDown() override {
        RemoveObserver(rs, &log);
        StoreFilter(DefaultFileFilter());
    }
    bool Match(uint32_t id) { return GetNode(rs.partitions[slot], id)->flags & kFlagFilterMatch; }
};

TEST_F(FilterRun, MatchesPropagateToDirectoriesAndSwitchTheView) {
    FileFilter f = DefaultFileFilter();
    f.text = u"*.DOC";
    uint32_t first = 99;
    EXPECT_EQ(RunFilterCommand(rs, f, first), u"");
    EXPECT_EQ(first, slot);
    EXPECT_EQ(rs.filterState, kFilterActive);
    EXPECT_TRUE(Match(report));
    EXPECT_TRUE(Match(docs));
    EXPECT_TRUE(Match(kRootNodeId));
    EXPECT_FALSE(Match(notes));
    EXPECT_FALSE(Match(misc));  // only non-matching files below
    ASSERT_EQ(log.messages.size(), 1u);
    EXPECT_EQ(log.messages[0].code, uint32_t(kMsgFilterApplied));
    EXPECT_EQ(log.messages[0].wParam, slot);
    EXPECT_EQ(RunFileFilter().extensions, Texts{u".DOC"});

    // A second filter recomputes the flags: misc now matches, docs no longer.
    f.text = u"other";
    EXPECT_EQ(RunFilterCommand(rs, f, first), u"");
    EXPECT_TRUE(Match(misc));
    EXPECT_FALSE(Match(docs));
    EXPECT_FALSE(Match(report));
}

TEST_F(FilterRun, NoMatchMessagesKeepTheView) {
    FileFilter f = DefaultFileFilter();
    uint32_t first = 99;
    f.text = u"nothing-like-this";
    EXPECT_EQ(RunFilterCommand(rs, f, first),
              u"没有任何文件符合您设置的过滤条件，请重新设置过滤条件！");
    EXPECT_EQ(rs.filterState, 0);

    // Only the carved file in slot 3 matches.
    f.text = u"*.xlsx";
    EXPECT_EQ(RunFilterCommand(rs, f, first), u"没有文件符合您的过滤条件！");
    EXPECT_EQ(rs.filterState, 0);
    EXPECT_EQ(first, 0u);
    EXPECT_TRUE(GetNode(rs.partitions[kFoundFilesSlot], kRootNodeId)->flags & kFlagFilterMatch);

    // Invalid settings change nothing, not even the stored text.
    f.text = u"a.b";
    EXPECT_EQ(RunFilterCommand(rs, f, first), u"只支持通配符 *.扩展名");
    EXPECT_EQ(RunFileFilter().text, u"*.xlsx");
    EXPECT_TRUE(log.messages.empty());
}

TEST_F(FilterRun, ApplyFilterAsksListedRootsOutsideTheFilteredView) {
    FileFilter f = DefaultFileFilter();
    f.text = u"report";
    RebuildFilterLists(f);
    GetNode(rs.partitions[slot], kRootNodeId)->flags &= uint16_t(~kFlagListed);
    GetNode(rs.partitions[kFoundFilesSlot], kRootNodeId)->flags &= uint16_t(~kFlagListed);
    EXPECT_FALSE(ApplyFilter(rs, f));
    rs.filterState = kFilterActive;
    EXPECT_TRUE(ApplyFilter(rs, f));
}

}  // namespace
}  // namespace kestrel
