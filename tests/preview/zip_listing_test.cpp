#include <gtest/gtest.h>

#include "platform/bytes.h"
#include "platform/codepage.h"
#include "preview/extractors.h"
#include "tests/preview/compound_test_support.h"
#include "tests/preview/zip_layout.h"

namespace kestrel {
namespace {

constexpr char16_t kHeader[] = u"压缩率  文件最后修改时间   文件名\r\n";

std::optional<WString> List(const std::vector<uint8_t>& bytes) {
    return ListZipMembers(ByteView(bytes.data(), bytes.size()));
}

// members.zip (made by zip): stored.bin stored, deflated.txt at 28%,
// repeated.txt deflated to under 1%, an empty file and a folder. Only the
// first two have a ratio to show.
TEST(ZipListing, ListsMembersWithRatioDateAndName) {
    const auto zip = test::ReadDocument("members.zip.gz");
    ASSERT_FALSE(zip.empty());
    EXPECT_EQ(List(zip), WString(kHeader) +
                             u"100%    2021-03-04 05:06   stored.bin\r\n"
                             u"28%     2022-11-12 13:14   deflated.txt\r\n");
}

TEST(ZipListing, FailsWithoutAnEndRecordAndStopsAtABrokenEntry) {
    const auto zip = test::ReadDocument("members.zip.gz");
    ASSERT_FALSE(zip.empty());
    const size_t end = test::ZipEndRecordOffset(zip);
    const size_t central = test::ZipCentralDirectoryOffset(zip);
    ASSERT_GT(end, central);

    std::vector<uint8_t> noEnd(zip.begin(), zip.begin() + end);
    EXPECT_FALSE(List(noEnd));

    // The second central header loses its signature: the first entry is
    // still listed, the walk stops there.
    const ByteView first(zip.data() + central, zip.size() - central);
    const size_t second = central + 46 + first.U16(28) + first.U16(30) + first.U16(32);
    auto broken = zip;
    broken[second] = 'X';
    const auto text = List(broken);
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, WString(kHeader) + u"100%    2021-03-04 05:06   stored.bin\r\n");
}

// Names carry the UTF-8 flag (bit 11 of the central header's flags) or are in
// the ANSI code page; the 10-byte name "stored.bin" of the first central
// header is replaced by one of each.
TEST(ZipListing, DecodesNamesByTheUtf8Flag) {
    const auto zip = test::ReadDocument("members.zip.gz");
    ASSERT_FALSE(zip.empty());
    const size_t central = test::ZipCentralDirectoryOffset(zip);
    ASSERT_EQ(ByteView(zip.data(), zip.size()).U16(central + 28), 10);
    struct Case {
        std::string name;
        bool utf8;
        WString shown;
    };
    const std::vector<Case> cases = {{"\xE6\xB5\x8B\xE8\xAF\x95.bin", true, u"测试.bin"},
                                     {AnsiFromWide(u"测试ab.bin"), false, u"测试ab.bin"}};
    for (const Case& c : cases) {
        ASSERT_EQ(c.name.size(), 10u);
        auto named = zip;
        uint8_t* header = named.data() + central;
        StoreU16(header + 8, uint16_t(c.utf8 ? (ByteView(header, 46).U16(8) | 0x800)
                                             : (ByteView(header, 46).U16(8) & ~0x800)));
        std::copy(c.name.begin(), c.name.end(), header + 46);
        const auto text = List(named);
        ASSERT_TRUE(text);
        EXPECT_NE(text->find(u"   " + c.shown + u"\r\n"), WString::npos) << c.name;
    }
}

// The central directory and the end record are what minizip reads: every
// truncation and byte mutation of them comes back as nothing or a
// listing, never a crash or out-of-bounds read.
TEST(ZipListing, DamagedArchivesNeverCrash) {
    const auto zip = test::ReadDocument("members.zip.gz");
    ASSERT_FALSE(zip.empty());
    for (size_t len = 0; len <= zip.size(); len += 7) {
        std::vector<uint8_t> cut(zip.begin(), zip.begin() + len);
        const auto text = List(cut);
        if (text) {
            EXPECT_EQ(text->compare(0, std::size(kHeader) - 1, kHeader), 0) << len;
        }
    }
    const size_t central = test::ZipCentralDirectoryOffset(zip);
    for (size_t pos = central; pos < zip.size(); ++pos) {
        for (uint8_t value : {uint8_t(0x00), uint8_t(0xFF)}) {
            auto bad = zip;
            bad[pos] = value;
            const auto text = List(bad);
            if (text) {
                EXPECT_EQ(text->compare(0, std::size(kHeader) - 1, kHeader), 0) << pos;
            }
        }
    }
}

}  // namespace
}  // namespace kestrel
