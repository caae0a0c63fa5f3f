#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "preview/archive_listing_line.h"
#include "preview/extractors.h"
#include "tests/preview/rar_builder.h"

namespace kestrel {
namespace {

using test::BuildRar;
using test::DosTime;
using test::RarMember;

constexpr char16_t kHeader[] = u"压缩率  文件最后修改时间   文件名\r\n";

std::optional<WString> List(const std::vector<uint8_t>& bytes) {
    return ListRarMembers(ByteView(bytes.data(), bytes.size()));
}

TEST(RarListing, ListsMembersWithTheThreeRatioColumns) {
    const std::string gbkName = AnsiFromWide(u"报告.txt");
    const auto rar = BuildRar({
        {"a.txt", 50, 1000, DosTime(2019, 7, 8, 9, 5)},
        {"dir\\b.bin", 430, 1000, DosTime(2020, 12, 31, 23, 59)},
        {"c.jpg", 1234, 1000, DosTime(1999, 1, 2, 0, 0)},
        {gbkName, 999, 1000, DosTime(2021, 3, 4, 5, 6)},
        // The Unicode form after the NUL is not part of the listed name.
        {std::string("uni.txt\0\x01\x02", 10), 10, 20, DosTime(2022, 1, 1, 1, 1), 0x200},
    });
    EXPECT_EQ(List(rar.bytes), WString(kHeader) +
                                   u"5%      2019-07-08 09:05   a.txt\r\n"
                                   u"43%     2020-12-31 23:59   dir\\b.bin\r\n"
                                   u"123%    1999-01-02 00:00   c.jpg\r\n"
                                   u"99%     2021-03-04 05:06   报告.txt\r\n"
                                   u"50%     2022-01-01 01:01   uni.txt\r\n");
}

TEST(RarListing, LeavesOutMembersItCannotList) {
    const auto rar = BuildRar({
        {"large.bin", 10, 100, DosTime(2020, 1, 1, 0, 0), 0x100},
        {"empty.txt", 0, 0, DosTime(2020, 1, 1, 0, 0)},
        {std::string(261, 'n'), 10, 100, DosTime(2020, 1, 1, 0, 0)},
        {"kept.txt", 10, 100, DosTime(2020, 1, 1, 0, 0)},
    });
    EXPECT_EQ(List(rar.bytes), WString(kHeader) + u"10%     2020-01-01 00:00   kept.txt\r\n");
}

// What ends the walk: the end block, a block type outside the RAR 1.5-4.x
// set, a zero header size (which would never advance), or the file's end.
TEST(RarListing, WalkEndsAtTheEndBlockOrAtDamage) {
    const std::vector<RarMember> members = {{"one.txt", 10, 100, DosTime(2020, 1, 1, 0, 0)},
                                            {"two.txt", 10, 100, DosTime(2020, 1, 1, 0, 0)}};
    const WString one = u"10%     2020-01-01 00:00   one.txt\r\n";
    const WString two = u"10%     2020-01-01 00:00   two.txt\r\n";
    struct Case {
        const char* what;
        size_t block;  // index into blockStarts; the marker is block 0
        size_t offset;
        std::vector<uint8_t> bytes;
        WString expected;
    };
    const std::vector<Case> cases = {
        {"intact", 0, 0, {}, one + two},
        {"end block before the second member", 3, 2, {0x7B, 0x00, 0x40, 0x07, 0x00}, one},
        {"unknown block type", 3, 2, {0x75}, one},
        {"zero header size", 3, 5, {0, 0}, one},
        {"added size past the file",
         2,
         7,
         {0xFF, 0xFF, 0xFF, 0xFF},
         u"4294967295%    2020-01-01 00:00   one.txt\r\n"},
    };
    for (const Case& c : cases) {
        auto rar = BuildRar(members);
        std::copy(c.bytes.begin(), c.bytes.end(),
                  rar.bytes.begin() + rar.blockStarts[c.block] + c.offset);
        EXPECT_EQ(List(rar.bytes), WString(kHeader) + c.expected) << c.what;
    }
    auto noEnd = BuildRar(members, false);
    EXPECT_EQ(List(noEnd.bytes), WString(kHeader) + one + two);
}

TEST(RarListing, RefusesAFileWithoutTheMarker) {
    auto rar = BuildRar({{"a.txt", 10, 100, 0}});
    rar.bytes[3] ^= 1;
    EXPECT_FALSE(List(rar.bytes));
    EXPECT_FALSE(List({}));
}

TEST(RarListing, ListingIsCutTo128KiB) {
    std::vector<RarMember> members;
    for (int i = 0; i < 4000; ++i) members.push_back({std::string(40, 'm'), 1, 10, 0});
    const auto text = List(BuildRar(members).bytes);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size() * sizeof(char16_t), 0x20000u);
}

// Truncations and single-byte mutations anywhere in the headers: never a
// crash or hang, and what comes back is always a listing.
TEST(RarListing, DamagedArchivesNeverCrash) {
    const auto rar = BuildRar({{"a.txt", 50, 1000, DosTime(2019, 7, 8, 9, 5)},
                               {"big.bin", 20, 1000, 0, 0x100},
                               {"b.txt", 70, 100, DosTime(2019, 7, 8, 9, 5)}});
    for (size_t len = 0; len <= rar.bytes.size(); ++len) {
        std::vector<uint8_t> cut(rar.bytes.begin(), rar.bytes.begin() + len);
        const auto text = List(cut);
        if (text) {
            EXPECT_EQ(text->compare(0, std::size(kHeader) - 1, kHeader), 0) << len;
        }
    }
    for (size_t pos = 0; pos < rar.bytes.size(); ++pos) {
        for (uint8_t value : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x80)}) {
            auto bad = rar.bytes;
            bad[pos] = value;
            const auto text = List(bad);
            if (text) {
                EXPECT_LE(text->size() * sizeof(char16_t), 0x20000u);
            }
        }
    }
}

}  // namespace
}  // namespace kestrel
