// Entry-set parsing and cluster lists, over hand-built buffers.
#include "fs/exfat_entries.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/packed_time.h"
#include "fs/exfat_chain.h"
#include "platform/bytes.h"

namespace kestrel {
namespace {

using Entry = std::vector<uint8_t>;

Entry FileEntry(uint8_t type, uint8_t secondaries, uint16_t attributes) {
    Entry e(32, 0);
    e[0] = type;
    e[1] = secondaries;
    StoreU16(&e[4], attributes);
    StoreU16(&e[8], uint16_t((10 << 11) | (20 << 5) | 15));  // 10:20:30
    StoreU16(&e[10], uint16_t(((2019 - 1980) << 9) | (10 << 5) | 1));
    StoreU16(&e[12], uint16_t((23 << 11) | (59 << 5) | 29));  // 23:59:58
    StoreU16(&e[14], uint16_t(((2020 - 1980) << 9) | (12 << 5) | 31));
    return e;
}

Entry StreamEntry(uint8_t type, uint8_t flags, uint8_t nameLength, uint32_t cluster,
                  uint64_t size) {
    Entry e(32, 0);
    e[0] = type;
    e[1] = flags;
    e[3] = nameLength;
    StoreU64(&e[8], size);
    StoreU32(&e[0x14], cluster);
    StoreU64(&e[0x18], size);
    return e;
}

Entry NameEntry(uint8_t type, std::u16string_view chars) {
    Entry e(32, 0);
    e[0] = type;
    for (size_t i = 0; i < chars.size() && i < 15; ++i) StoreU16(&e[2 + 2 * i], chars[i]);
    return e;
}

std::vector<uint8_t> Join(std::initializer_list<Entry> entries) {
    std::vector<uint8_t> out;
    for (const Entry& e : entries) out.insert(out.end(), e.begin(), e.end());
    return out;
}

std::vector<ExfatEntrySet> Parse(const std::vector<uint8_t>& buf, uint64_t max = 1 << 20) {
    return ParseExfatEntrySets(ByteView(buf.data(), buf.size()), max);
}

TEST(ExfatEntrySets, LiveSetWithTwoNameEntries) {
    const std::u16string name = u"abcdefghijklmnopqrstuvwxyz0123";  // 30 characters
    auto sets =
        Parse(Join({FileEntry(0x85, 3, 0x20), StreamEntry(0xC0, 0x03, 30, 7, 1234),
                    NameEntry(0xC1, name.substr(0, 15)), NameEntry(0xC1, name.substr(15))}));
    ASSERT_EQ(sets.size(), 1u);
    const ExfatEntrySet& s = sets[0];
    EXPECT_TRUE(s.live);
    EXPECT_FALSE(s.IsDirectory());
    EXPECT_TRUE(s.noFatChain);
    EXPECT_EQ(s.name, name);
    EXPECT_EQ(s.firstCluster, 7u);
    EXPECT_EQ(s.validLength, 1234u);
    CalendarTime m = UnpackTime(s.modified);
    EXPECT_EQ(m.year, 2020);
    EXPECT_EQ(m.month, 12);
    EXPECT_EQ(m.day, 31);
    EXPECT_EQ(m.hour, 23);
    EXPECT_EQ(m.second, 58);
    EXPECT_EQ(UnpackTime(s.created).minute, 20);
}

TEST(ExfatEntrySets, DeletedSetKeepsNameClusterAndSize) {
    auto sets = Parse(Join({FileEntry(0x05, 2, 0x10), StreamEntry(0x40, 0x01, 5, 99, 4096),
                            NameEntry(0x41, u"gone!")}));
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_FALSE(sets[0].live);
    EXPECT_TRUE(sets[0].IsDirectory());
    EXPECT_FALSE(sets[0].noFatChain);
    EXPECT_EQ(sets[0].name, u"gone!");
    EXPECT_EQ(sets[0].firstCluster, 99u);
    EXPECT_EQ(sets[0].validLength, 4096u);
}

TEST(ExfatEntrySets, MalformedSequences) {
    const Entry file = FileEntry(0x85, 2, 0);
    const Entry stream = StreamEntry(0xC0, 0, 0, 5, 10);
    const Entry end(32, 0);
    struct Case {
        const char* what;
        std::vector<uint8_t> buf;
        std::vector<std::u16string> names;
    } cases[] = {
        {"name and stream entries outside a set are ignored",
         Join({NameEntry(0xC1, u"stray"), stream, file, stream, NameEntry(0xC1, u"ok")}),
         {u"ok"}},
        {"a set cut by the next file entry is dropped",
         Join({FileEntry(0x85, 3, 0), stream, NameEntry(0xC1, u"first part"), file, stream,
               NameEntry(0xC1, u"b")}),
         {u"b"}},
        {"the end-of-directory entry ends parsing",
         Join({file, stream, NameEntry(0xC1, u"a"), end, file, stream, NameEntry(0xC1, u"b")}),
         {u"a"}},
        {"an exhausted count completes at the first name entry",
         Join({FileEntry(0x85, 0, 0), NameEntry(0xC1, u"zero"), NameEntry(0xC1, u"more")}),
         {u"zero"}},
        {"the stream's name length cuts padding",
         Join({file, StreamEntry(0xC0, 0, 3, 5, 10), NameEntry(0xC1, u"abcdef")}),
         {u"abc"}},
        {"a set with an empty name is dropped", Join({file, stream, NameEntry(0xC1, u"")}), {}},
        {"a huge secondary count never completes",
         Join({FileEntry(0x85, 255, 0), stream, NameEntry(0xC1, u"x")}),
         {}},
        {"a trailing partial entry is not read",
         [&] {
             auto b = Join({file, stream, NameEntry(0xC1, u"whole")});
             b.push_back(0x85);
             return b;
         }(),
         {u"whole"}},
    };
    for (const Case& c : cases) {
        auto sets = Parse(c.buf);
        std::vector<std::u16string> names;
        for (auto& s : sets) names.push_back(s.name);
        EXPECT_EQ(names, c.names) << c.what;
    }
}

TEST(ExfatEntrySets, NameStopsAt260Characters) {
    std::vector<uint8_t> buf = Join({FileEntry(0x85, 19, 0), StreamEntry(0xC0, 0, 0, 5, 1)});
    const std::u16string chunk(15, u'n');
    for (int i = 0; i < 18; ++i) {
        Entry e = NameEntry(0xC1, chunk);
        buf.insert(buf.end(), e.begin(), e.end());
    }
    auto sets = Parse(buf);
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_EQ(sets[0].name.size(), kExfatMaxNameChars);
}

TEST(ExfatEntrySets, EntryLimitIsHonoured) {
    auto buf = Join({FileEntry(0x85, 2, 0), StreamEntry(0xC0, 0, 0, 5, 1), NameEntry(0xC1, u"a"),
                     FileEntry(0x85, 2, 0), StreamEntry(0xC0, 0, 0, 5, 1), NameEntry(0xC1, u"b")});
    EXPECT_EQ(Parse(buf, 3).size(), 1u);
    EXPECT_EQ(Parse(buf, 5).size(), 1u);
    EXPECT_EQ(Parse(buf, 6).size(), 2u);
}

// A small heap: 16 clusters of 1 sector each (512 bytes).
struct Heap {
    ExfatGeometry g;
    std::vector<uint8_t> fat = std::vector<uint8_t>(18 * 4, 0);
    std::vector<uint8_t> bitmap = std::vector<uint8_t>(2, 0);
    Heap() {
        g.clusterCount = 16;
        g.sectorsPerCluster = 1;
        g.clusterBytes = 512;
        g.heapLba = 100;
    }
    void Link(uint32_t from, uint32_t to) { StoreU32(&fat[from * 4], to); }
    void Allocate(uint32_t c) { bitmap[(c - 2) / 8] |= uint8_t(1u << ((c - 2) % 8)); }
    ExfatTables Tables(bool withFat = true) {
        ExfatTables t;
        if (withFat) t.fat = ByteView(fat.data(), fat.size());
        t.bitmap = ByteView(bitmap.data(), bitmap.size());
        return t;
    }
};

using Clusters = std::vector<uint32_t>;

TEST(ExfatClusters, FileLists) {
    Heap h;
    // A fragmented file 3 -> 4 -> 9 -> end, whose cluster 5 belongs to another
    // file and is allocated.
    h.Link(3, 4);
    h.Link(4, 9);
    h.Link(9, kExfatEndOfChain);
    for (uint32_t c : {3, 4, 5, 9}) h.Allocate(c);
    const ExfatTables t = h.Tables();
    EXPECT_EQ(ExfatFileClusters(h.g, t, 3, 1536, false, false), (Clusters{3, 4, 9}))
        << "an intact link wins over an allocated neighbour";
    EXPECT_EQ(ExfatFileClusters(h.g, t, 3, 1537, false, false), (Clusters{3, 4, 9}))
        << "the end of the chain ends the list";
    EXPECT_EQ(ExfatFileClusters(h.g, t, 3, 1536, true, false), (Clusters{3, 4, 5}))
        << "a NoFatChain file ignores the FAT";
    EXPECT_EQ(ExfatFileClusters(h.g, t, 12, 1536, false, true), (Clusters{12, 13, 14}))
        << "a deleted file with cleared links is taken as consecutive";
    EXPECT_EQ(ExfatFileClusters(h.g, t, 12, 1536, false, false), (Clusters{12}))
        << "a live file with a cleared link and a free neighbour ends";
    EXPECT_EQ(ExfatFileClusters(h.g, t, 17, 2048, true, false), (Clusters{17}))
        << "the list stops at the highest cluster";
    EXPECT_TRUE(ExfatFileClusters(h.g, t, 1, 100, true, false).empty());
    EXPECT_TRUE(ExfatFileClusters(h.g, t, 18, 100, true, false).empty());
    EXPECT_TRUE(ExfatFileClusters(h.g, t, 3, 0, true, false).empty());
}

TEST(ExfatClusters, LiveFileWithZeroLinksFollowsTheBitmap) {
    Heap h;
    for (uint32_t c : {6, 7, 8}) h.Allocate(c);
    EXPECT_EQ(ExfatFileClusters(h.g, h.Tables(), 6, 5000, false, false), (Clusters{6, 7, 8}));
}

TEST(ExfatClusters, LoopsAndCrossLinksEnd) {
    Heap h;
    h.Link(3, 4);
    h.Link(4, 3);  // loop
    h.Link(10, 10);
    EXPECT_EQ(ExfatFileClusters(h.g, h.Tables(), 3, 512 * 100, false, false), (Clusters{3, 4}));
    EXPECT_EQ(ExfatFileClusters(h.g, h.Tables(), 10, 512 * 100, false, false), (Clusters{10}));
    EXPECT_EQ(ExfatDirectoryClusters(h.g, h.Tables(), 3, 512 * 100, false), (Clusters{3, 4}));
}

TEST(ExfatClusters, DirectoryLists) {
    Heap h;
    h.Link(3, 8);
    h.Link(8, 1);  // 1 ends a directory
    EXPECT_EQ(ExfatDirectoryClusters(h.g, h.Tables(), 3, 2048, false), (Clusters{3, 8}));
    EXPECT_EQ(ExfatDirectoryClusters(h.g, h.Tables(), 5, 1536, false), (Clusters{5, 6, 7}))
        << "cleared links continue with the next cluster";
    EXPECT_EQ(ExfatDirectoryClusters(h.g, h.Tables(false), 5, 1536, false), (Clusters{5}))
        << "without a FAT only the first cluster";
    EXPECT_EQ(ExfatDirectoryClusters(h.g, h.Tables(false), 5, 1536, true), (Clusters{5, 6, 7}))
        << "a NoFatChain directory needs no FAT";
}

}  // namespace
}  // namespace kestrel
