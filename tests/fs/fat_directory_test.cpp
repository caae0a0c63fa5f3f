#include "fs/fat_directory.h"

#include <gtest/gtest.h>

#include "app/packed_time.h"
#include "fat_entry_builder.h"

namespace kestrel {
namespace {

using test::FatDirBuffer;

std::vector<std::u16string> Names(const std::vector<FatDirEntry>& entries) {
    std::vector<std::u16string> out;
    for (const auto& e : entries) out.push_back(e.name);
    return out;
}

TEST(FatDirectory, ShortEntriesDeletedMarkAndSkippedAttributes) {
    FatDirBuffer d;
    d.Short(".          ", 0x10, 7);
    d.Short("..         ", 0x10, 0);
    d.Short("VOLUME     ", 0x08);
    d.Short("ZEROATTR   ", 0x00, 3, 1);
    d.Short("README  TXT", 0x20, 9, 1234)[0] = 0xE5;
    d.Short("NOEXT      ", 0x20, 10, 5);
    d.Short("SUB        ", 0x10, 11);
    d.Short("HELLO   TXT", 0x20)[0x0C] = 0x08;  // lower-case base name
    d.Short("MIXED   TXT", 0x20)[0x0C] = 0x18;  // lower-case base and extension
    d.Short("AFTER   END", 0x20)[0] = 0;        // end of directory
    d.Short("HIDDEN  TXT", 0x20);
    auto entries = ParseFatEntries(d.View(), false);
    EXPECT_EQ(Names(entries), (std::vector<std::u16string>{u"!EADME.TXT", u"NOEXT", u"SUB",
                                                           u"hello.TXT", u"mixed.txt"}));
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_TRUE(entries[0].deleted);
    EXPECT_EQ(entries[0].size, 1234u);
    EXPECT_EQ(entries[0].firstCluster, 9u);
    EXPECT_FALSE(entries[1].deleted);
    EXPECT_TRUE(entries[2].IsDirectory());
}

TEST(FatDirectory, FirstClusterWidthAndTimes) {
    FatDirBuffer d;
    // 2019-06-15 13:45:58: date = (39 << 9) | (6 << 5) | 15, time = (13 << 11) | (45 << 5) | 29.
    const uint16_t date = (39 << 9) | (6 << 5) | 15, time = (13 << 11) | (45 << 5) | 29;
    d.Short("BIG     BIN", 0x20, 0xF0012345, 77, date, time);
    auto narrow = ParseFatEntries(d.View(), false);
    auto wide = ParseFatEntries(d.View(), true);
    ASSERT_EQ(narrow.size(), 1u);
    ASSERT_EQ(wide.size(), 1u);
    EXPECT_EQ(narrow[0].firstCluster, 0x2345u);
    EXPECT_EQ(wide[0].firstCluster, 0x00012345u);  // the top four bits are reserved
    const CalendarTime t = UnpackTime(wide[0].modified);
    EXPECT_EQ(t.year, 2019);
    EXPECT_EQ(t.month, 6);
    EXPECT_EQ(t.day, 15);
    EXPECT_EQ(t.hour, 13);
    EXPECT_EQ(t.minute, 45);
    EXPECT_EQ(t.second, 58);
    EXPECT_EQ(wide[0].created, wide[0].modified);
}

TEST(FatDirectory, LiveLongNames) {
    const std::u16string name260(260, u'x');
    const std::u16string name261 = name260 + u"y";
    struct Case {
        const char* what;
        std::u16string longName;
        uint8_t firstSeq;
        int checksumDelta;
        std::u16string expected;
    } cases[] = {
        {"chinese", u"长城 2019.jpg", 0, 0, u"长城 2019.jpg"},
        {"exactly 13 chars", u"abcdefghijklm", 0, 0, u"abcdefghijklm"},
        {"20 parts", name260, 0, 0, name260},
        {"part 21", name261, 0, 0, u"SHORT.TXT"},
        {"bad checksum", u"long name.txt", 0, 1, u"SHORT.TXT"},
        {"no last-part bit", u"long name.txt", 0x01, 0, u"SHORT.TXT"},
        {"U+65E5 first", u"日记.txt", 0, 0, u"日记.txt"},
        {"U+00E5 first", u"åland.txt", 0, 0, u"åland.txt"},
    };
    for (const Case& c : cases) {
        FatDirBuffer d;
        d.LongName(c.longName, "SHORT   TXT", c.firstSeq, c.checksumDelta);
        d.Short("SHORT   TXT", 0x20, 5, 10);
        d.Short("NEXT    TXT", 0x20, 6, 10);
        auto names = Names(ParseFatEntries(d.View(), true));
        EXPECT_EQ(names, (std::vector<std::u16string>{c.expected, u"NEXT.TXT"})) << c.what;
    }
}

TEST(FatDirectory, BrokenLongNameSequenceFallsBackToShortEntry) {
    FatDirBuffer d;
    d.LongName(u"a fairly long file name.txt", "FAIRLY~1TXT");  // 3 parts
    d.bytes[32] = 0x03;  // the middle part claims the wrong number
    d.Short("FAIRLY~1TXT", 0x20, 5, 10);
    auto names = Names(ParseFatEntries(d.View(), true));
    EXPECT_EQ(names, (std::vector<std::u16string>{u"FAIRLY~1.TXT"}));

    FatDirBuffer label;  // a long name never belongs to a volume label
    label.LongName(u"label name", "LABEL      ");
    label.Short("LABEL      ", 0x08);
    EXPECT_TRUE(ParseFatEntries(label.View(), true).empty());
}

TEST(FatDirectory, DeletedLongNames) {
    FatDirBuffer d;
    const size_t parts =
        d.LongName(u"旅行 2019 照片很多很多很多很多很多很多很多.jpg", "__2019~1JPG");
    ASSERT_EQ(parts, 3u);
    d.Short("__2019~1JPG", 0x20, 0x30, 4000);
    d.DeleteLast(parts + 1);
    d.Short("LIVE    TXT", 0x20, 0x40, 1);
    auto entries = ParseFatEntries(d.View(), true);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, u"旅行 2019 照片很多很多很多很多很多很多很多.jpg");
    EXPECT_TRUE(entries[0].deleted);
    EXPECT_EQ(entries[0].firstCluster, 0x30u);
    EXPECT_EQ(entries[1].name, u"LIVE.TXT");
}

TEST(FatDirectory, OrphanedDeletedLongNameRunDoesNotHideLaterEntries) {
    FatDirBuffer d;
    d.LongName(u"old deleted name.txt", "OLDDEL~1TXT");
    d.DeleteLast(2);
    d.Short("REUSED  TXT", 0x20, 0x50, 1);  // took the deleted short entry's slot
    d.Short("LATER   TXT", 0x20, 0x51, 1);
    auto names = Names(ParseFatEntries(d.View(), true));
    EXPECT_EQ(names, (std::vector<std::u16string>{u"REUSED.TXT", u"LATER.TXT"}));
}

TEST(FatDirectory, RecycleBinNeedsSystemAttribute) {
    FatDirBuffer d;
    d.LongName(u"$Recycle.Bin", "$RECYCLEBIN");
    d.Short("$RECYCLEBIN", 0x16);
    d.LongName(u"$RECYCLE.BIN", "$RECYC~1BIN");
    d.Short("$RECYC~1BIN", 0x10);
    auto names = Names(ParseFatEntries(d.View(), true));
    EXPECT_EQ(names, (std::vector<std::u16string>{u"回收站", u"$RECYCLE.BIN"}));
}

TEST(FatDirectory, TruncatedAndHostileBuffersAreSafe) {
    FatDirBuffer d;
    d.LongName(u"name split by the end of the buffer.txt", "NAMESP~1TXT");
    d.Short("NAMESP~1TXT", 0x20);
    for (size_t len = 0; len <= d.bytes.size(); ++len) {
        auto entries = ParseFatEntries(ByteView(d.bytes.data(), len), true);
        EXPECT_LE(entries.size(), 1u);
    }
    // Every byte value in the first entry position.
    for (int b = 0; b < 256; ++b) {
        for (int attr : {0x0F, 0x10, 0x20, 0x3F}) {
            FatDirBuffer h;
            h.LongName(u"x", "X          ");
            h.bytes[0] = uint8_t(b);
            h.bytes[11] = uint8_t(attr);
            h.Short("X          ", 0x20);
            (void)ParseFatEntries(h.View(), b & 1);
        }
    }
}

}  // namespace
}  // namespace kestrel
