#include "fs/ntfs_record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/packed_time.h"
#include "fs/ntfs_attributes.h"
#include "fs/ntfs_data.h"
#include "fs/ntfs_known_extents.h"
#include "fs/ntfs_record_summary.h"
#include "fs/ntfs_runs.h"
#include "ntfs_record_builder.h"
#include "platform/wide_text.h"

namespace kestrel {
namespace {

using test::NtfsRecordBuilder;

constexpr uint32_t kSystem = 0x04;
constexpr uint64_t kT1 = 0x01D5A0B0C0D0E0F0;  // a FILETIME in 2019
constexpr uint64_t kT2 = 0x01D6A0B0C0D0E0F0;

PartInfo NtfsPart(uint8_t spc = 8, uint64_t start = 2048) {
    PartInfo p;
    p.fsKind = kFsNtfs;
    p.startLba = start;
    p.bootSector[0x0D] = spc;
    return p;
}

struct Parsed {
    bool ok = false;
    FileNode node{};
    std::string name;
};

Parsed Parse(const NtfsRecordBuilder& b, bool keepSystem = false) {
    PartInfo part = NtfsPart();
    Parsed p;
    const std::vector<uint8_t> rec = b.Fixed();
    p.ok = ParseFileRecord(rec.data(), part, p.node, keepSystem);
    if (p.ok) p.name = Utf8FromWide(p.node.name);
    return p;
}

void Release(Parsed& p) {
    if (p.ok) ReleaseParsedNode(p.node);
}

TEST(NtfsRecord, FillsNodeFromRecord) {
    NtfsRecordBuilder b(77, 1);
    b.StandardInfo(kT1, kT2).FileName(40, kNameWin32, u"report.doc");
    b.NonResident(0x80, {0x21, 0x10, 0x00, 0x01, 0x00}, 60000, 65536);
    Parsed p = Parse(b);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.node.id, 77u);
    EXPECT_EQ(p.node.parentId, 40u);
    EXPECT_EQ(NodeKind(p.node), kLiveFile);
    EXPECT_EQ(p.name, "report.doc");
    EXPECT_EQ(p.node.size, 60000u);
    EXPECT_EQ(p.node.created, PackedTimeFromFileTime(kT1));
    EXPECT_EQ(p.node.modified, PackedTimeFromFileTime(kT2));
    EXPECT_FALSE(p.node.flags & kFlagResidentData);
    ASSERT_EQ(p.node.firstCluster, 8u);  // the pairs and their padding, up to the attribute end
    EXPECT_EQ(p.node.runList[0], 0x21);
    Release(p);

    NtfsRecordBuilder dir(90, 3);
    dir.StandardInfo(kT1, kT1).FileName(5, kNameWin32AndDos, u"照片");
    p = Parse(dir);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(NodeKind(p.node), kLiveDir);
    EXPECT_EQ(p.name, "照片");
    EXPECT_EQ(p.node.runList, nullptr);
    Release(p);

    NtfsRecordBuilder deleted(91, 0);
    deleted.StandardInfo(kT1, kT1).FileName(5, kNameWin32, u"x");
    p = Parse(deleted);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(NodeKind(p.node), kDeletedFile);
    Release(p);
}

TEST(NtfsRecord, NameNamespaces) {
    struct Name {
        uint8_t ns;
        std::u16string text;
        uint32_t parent;
    };
    struct Case {
        std::vector<Name> names;
        bool ok;
        std::string expect;
        uint32_t parent;
    } cases[] = {
        {{{kNameDos, u"LONGNA~1.TXT", 6}, {kNameWin32, u"long name.txt", 7}},
         true,
         "long name.txt",
         7},
        {{{kNamePosix, u"posix:name", 6}}, true, "posix:name", 6},
        {{{kNamePosix, u"first", 6}, {kNameWin32, u"second", 7}}, true, "second", 7},
        {{{kNameWin32, u"first", 7}, {kNamePosix, u"second", 6}}, true, "first", 7},
        {{{kNamePosix, u"a", 6}, {kNamePosix, u"b", 8}}, true, "a", 6},
        {{{kNameDos, u"ONLYDOS.TXT", 6}}, false, "", 0},
        {{{9, u"odd", 6}}, false, "", 0},
    };
    for (const Case& c : cases) {
        NtfsRecordBuilder b(100);
        b.StandardInfo(kT1, kT1);
        for (const Name& n : c.names) b.FileName(n.parent, n.ns, n.text);
        b.Resident(0x80, {1, 2, 3});
        Parsed p = Parse(b);
        EXPECT_EQ(p.ok, c.ok) << c.expect;
        EXPECT_EQ(p.name, c.expect);
        EXPECT_EQ(p.node.parentId, c.parent) << c.expect;
        Release(p);
    }
}

TEST(NtfsRecord, SystemRecordsAndRecycleBin) {
    struct Case {
        std::u16string name;
        uint32_t attributes;
        bool keepSystem;
        bool ok;
        std::string expect;
    } cases[] = {
        {u"$RECYCLE.BIN", kSystem, false, true, "回收站"},
        {u"$Recycle.Bin", kSystem, false, true, "回收站"},
        {u"$recycle.bin", kSystem, false, true, "回收站"},
        {u"$RECYCLE.BIN2", kSystem, false, false, ""},
        {u"$MFT", kSystem, false, false, ""},
        {u"$MFT", kSystem, true, true, "$MFT"},
        {u"$notes.txt", 0, false, true, "$notes.txt"},
        {u"Windows", kSystem, false, true, "Windows"},
    };
    for (const Case& c : cases) {
        NtfsRecordBuilder b(30, 3);
        b.StandardInfo(kT1, kT1, c.attributes).FileName(5, kNameWin32AndDos, c.name);
        Parsed p = Parse(b, c.keepSystem);
        EXPECT_EQ(p.ok, c.ok) << Utf8FromWide(c.name);
        EXPECT_EQ(p.name, c.expect);
        Release(p);
    }
}

TEST(NtfsRecord, ResidentDataSizes) {
    std::vector<uint8_t> value(700);
    for (size_t i = 0; i < value.size(); ++i) value[i] = uint8_t(i * 7);
    NtfsRecordBuilder b(40);
    b.StandardInfo(kT1, kT1).FileName(5, kNameWin32, u"small.bin").Resident(0x80, value);
    Parsed p = Parse(b);
    ASSERT_TRUE(p.ok);
    EXPECT_TRUE(p.node.flags & kFlagResidentData);
    EXPECT_EQ(p.node.size, 700u);
    const std::vector<uint8_t> rec = b.Fixed();
    const auto data = ResidentDataOfRecord(ByteView(rec.data(), rec.size()));
    ASSERT_TRUE(data.has_value());
    ASSERT_EQ(data->size(), 700u);
    EXPECT_TRUE(std::equal(value.begin(), value.end(), data->data()));
    Release(p);

    // A resident value claiming 800 bytes is not believed for the size, and
    // one running past the record delivers nothing.
    NtfsRecordBuilder big(41);
    big.StandardInfo(kT1, kT1).FileName(5, kNameWin32, u"claims.bin");
    const size_t dataAttr = big.End();
    big.Resident(0x80, {1, 2, 3, 4});
    std::vector<uint8_t> r = big.Fixed();
    StoreU32(&r[dataAttr + 0x10], 800);
    PartInfo part = NtfsPart();
    FileNode n;
    ASSERT_TRUE(ParseFileRecord(r.data(), part, n, false));
    EXPECT_EQ(n.size, 0u);
    ReleaseParsedNode(n);
    EXPECT_FALSE(ResidentDataOfRecord(ByteView(r.data(), r.size())).has_value());
}

TEST(NtfsRecord, RejectedRecords) {
    auto named = [](uint32_t number) {
        NtfsRecordBuilder b(number);
        b.StandardInfo(kT1, kT1).FileName(5, kNameWin32, u"f");
        return b;
    };
    Parsed p = Parse(named(1999999));
    EXPECT_TRUE(p.ok);
    Release(p);
    EXPECT_FALSE(Parse(named(2000000)).ok);

    std::vector<uint8_t> rec = named(50).Fixed();
    rec[0] = 'B';  // "BAAD"
    PartInfo part = NtfsPart();
    FileNode n;
    EXPECT_FALSE(ParseFileRecord(rec.data(), part, n, false));
    EXPECT_EQ(n.name, nullptr);

    // $DATA before any usable name.
    NtfsRecordBuilder early(51);
    early.StandardInfo(kT1, kT1).Resident(0x80, {1}).FileName(5, kNameWin32, u"late");
    EXPECT_FALSE(Parse(early).ok);
}

TEST(NtfsRecord, LaterDataExtentAndIndexAllocation) {
    NtfsRecordBuilder b(60, 3);
    b.StandardInfo(kT1, kT1).FileName(5, kNameWin32, u"dir");
    b.NonResident(0x80, {0x11, 0x04, 0x10}, 9999, 16384, /*startVcn=*/7);
    b.NonResident(0xA0, {0x11, 0x01, 0x20, 0x11, 0x02, 0x10}, 8192, 8192);
    ClearNtfsKnownExtents();
    Parsed p = Parse(b);
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.node.size, 0u);
    EXPECT_EQ(p.node.runList, nullptr);
    const auto index = KnownIndexExtents();
    ASSERT_EQ(index.size(), 2u);
    EXPECT_EQ(index[0].startLba, 2048u + 0x20 * 8);
    EXPECT_EQ(index[0].sectors, 8u);
    EXPECT_EQ(index[1].startLba, 2048u + 0x30 * 8);
    EXPECT_EQ(index[1].sectors, 16u);
    ClearNtfsKnownExtents();
    Release(p);
}

TEST(NtfsRuns, DecodeAndResolve) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        std::vector<int32_t> deltas;
        std::vector<uint64_t> clusters;
        std::vector<bool> sparse;
    } cases[] = {
        {"two runs, the second backwards",
         {0x21, 0x10, 0x00, 0x01, 0x11, 0x08, 0xF0, 0x00},
         {0x100, -16},
         {0x10, 8},
         {false, false}},
        {"sparse run",
         {0x11, 0x04, 0x40, 0x01, 0x04, 0x11, 0x02, 0x08},
         {0x40, 0, 8},
         {4, 4, 2},
         {false, true, false}},
        {"three-byte negative offset", {0x31, 0x01, 0x00, 0x00, 0xFF}, {-65536}, {1}, {false}},
        {"truncated pair ends the list", {0x11, 0x01, 0x05, 0x33, 0x01}, {5}, {1}, {false}},
        {"length field over 8 bytes", {0x19, 0x01}, {}, {}, {}},
        {"zero-length field", {0x10, 0x01, 0x11, 0x01, 0x01}, {}, {}, {}},
        {"lengths keep their low 32 bits",
         {0x15, 0x01, 0x00, 0x00, 0x00, 0x02, 0x03},
         {3},
         {1},
         {false}},
        {"empty", {}, {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RunList runs = DecodeRunList(c.bytes.data(), uint32_t(c.bytes.size()));
        ASSERT_EQ(runs.size(), c.deltas.size());
        for (size_t i = 0; i < runs.size(); ++i) {
            EXPECT_EQ(runs[i].delta, c.deltas[i]);
            EXPECT_EQ(runs[i].clusters, c.clusters[i]);
            EXPECT_EQ(runs[i].sparse, c.sparse[i]);
        }
    }

    PartInfo part = NtfsPart(8, 1000);
    RunList runs = DecodeRunList(cases[0].bytes.data(), uint32_t(cases[0].bytes.size()));
    ASSERT_TRUE(ResolveRuns(part, runs));
    EXPECT_EQ(runs[0].startLba, 1000u + 0x100 * 8);
    EXPECT_EQ(runs[1].startLba, 1000u + 0xF0 * 8);
    EXPECT_EQ(runs[1].sectors, 64u);
    RunList sparse = DecodeRunList(cases[1].bytes.data(), uint32_t(cases[1].bytes.size()));
    ASSERT_TRUE(ResolveRuns(part, sparse));
    EXPECT_EQ(sparse[1].startLba, sparse[0].startLba);

    PartInfo noClusters = NtfsPart(0);
    EXPECT_FALSE(ResolveRuns(noClusters, runs));
    RunList none;
    EXPECT_FALSE(ResolveRuns(part, none));

    // A run list as long as a record allows stays bounded by its bytes.
    std::vector<uint8_t> many;
    while (many.size() + 3 <= 1023) many.insert(many.end(), {0x11, 0x01, 0x01});
    EXPECT_EQ(DecodeRunList(many.data(), uint32_t(many.size())).size(), many.size() / 3);
}

TEST(NtfsRecordSummary, Fields) {
    NtfsRecordBuilder b(321, 1);
    b.StandardInfo(kT1, kT1)
        .FileName(77, kNameDos, u"LONGNA~1.BIN")
        .FileName(78, kNameWin32, u"long name.bin");
    b.NonResident(0x80, {0x21, 0x04, 0x00, 0x02}, 16000, 16384);
    const std::vector<uint8_t> disk = b.Disk();
    auto s = BuildFileRecordSummary(ByteView(disk.data(), disk.size()));
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->recordNumber, 321u);
    EXPECT_EQ(s->parentRecord, 78u);
    EXPECT_EQ(Utf8FromWide(s->name), "long name.bin");
    EXPECT_EQ(s->size, 16000u);
    EXPECT_EQ(s->allocatedSize, 16384u);
    EXPECT_EQ(s->flags, kSummaryInUse);
    ASSERT_GE(s->runList.size(), 4u);
    EXPECT_EQ(s->runList[0], 0x21);

    NtfsRecordBuilder dir(400, 3);
    dir.StandardInfo(kT1, kT1)
        .FileName(5, kNamePosix, u"d")
        .Resident(0x80, std::vector<uint8_t>(30));
    dir.NonResident(0xA0, {0x11, 0x01, 0x20}, 4096, 4096);
    const std::vector<uint8_t> d = dir.Disk();
    s = BuildFileRecordSummary(ByteView(d.data(), d.size()));
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->flags,
              kSummaryInUse | kSummaryDirectory | kSummaryResidentData | kSummaryIndexAllocation);
    EXPECT_EQ(s->size, 30u);
    EXPECT_TRUE(s->runList.empty());

    // A size above the allocation with high bits set keeps only its low half.
    NtfsRecordBuilder odd(401, 1);
    odd.StandardInfo(kT1, kT1).FileName(5, kNameWin32, u"o");
    odd.NonResident(0x80, {0x11, 0x01, 0x20}, (uint64_t(5) << 32) | 1234, 4096);
    const std::vector<uint8_t> o = odd.Disk();
    s = BuildFileRecordSummary(ByteView(o.data(), o.size()));
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->size, 1234u);
}

TEST(NtfsRecordSummary, Failures) {
    NtfsRecordBuilder good(10, 1);
    good.StandardInfo(kT1, kT1).FileName(5, kNameWin32, u"g");
    const std::vector<uint8_t> base = good.Disk();
    ASSERT_TRUE(BuildFileRecordSummary(ByteView(base.data(), base.size())).has_value());

    struct Case {
        const char* what;
        size_t offset;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {"fix-up mismatch in the second sector", 1022, {0x12, 0x34}},
        {"update sequence far past the record", 0x04, {0x30, 0x66}},
        {"update sequence running off the first sector", 0x04, {0xFC, 0x01}},
        {"not a FILE record", 0, {'I', 'N', 'D', 'X'}},
        {"end marker before $STANDARD_INFORMATION", 0x38, {0xFF, 0xFF, 0xFF, 0xFF}},
        {"first attribute offset past the record", 0x14, {0xF0, 0x03}},
        {"attribute length 0", 0x3C, {0, 0, 0, 0}},
        {"attribute length beyond the record", 0x3C, {0xF0, 0xFF, 0xFF, 0x7F}},
        {"file name length past its attribute", 0x38 + 0x60 + 0x18 + 0x40, {0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> r = base;
        std::copy(c.bytes.begin(), c.bytes.end(), r.begin() + long(c.offset));
        EXPECT_FALSE(BuildFileRecordSummary(ByteView(r.data(), r.size())).has_value());
        EXPECT_FALSE(BuildFileRecordSummary(ByteView(r.data(), 512)).has_value());
    }
    NtfsRecordBuilder dosOnly(11, 1);
    dosOnly.StandardInfo(kT1, kT1).FileName(5, kNameDos, u"DOS.TXT");
    const std::vector<uint8_t> d = dosOnly.Disk();
    EXPECT_FALSE(BuildFileRecordSummary(ByteView(d.data(), d.size())).has_value());
}

}  // namespace
}  // namespace kestrel
