// The plain-text test for files of unknown type.
#include "preview/text_test.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/codepage.h"

namespace kestrel {
namespace {

bool Accepts(const std::string& bytes) {
    return LooksLikeAnsiText(ByteView(bytes.data(), bytes.size()));
}

TEST(LooksLikeAnsiText, Cases) {
    const std::string gbk = AnsiFromWide(u"恢复的文件：报告\r\n第二行\t结束");
    ASSERT_EQ(gbk.size(), 29u);
    struct Case {
        const char* what;
        std::string bytes;
        bool text;
    } cases[] = {
        {"GBK text with ASCII controls", "Report " + gbk + " done\n", true},
        {"empty", "", true},
        {"a trail byte left from a cut character at the start",
         "\xB1\xA8"
         "abc",
         true},
        {"a lead byte in the last position", "abc\xB1", false},
        {"a NUL byte", std::string("ab\0cd", 5), false},
        {"a lead byte before ASCII (41B1 is no pair)", "ab\xB1\x41", false},
        // The pair test reads a little-endian u16, so any byte before a high
        // byte from A2 on makes a pair: the test looks at the value only.
        {"a NUL before a high byte (B000)", std::string("ab\0\xB0", 4), true},
        {"an ESC byte",
         "ab\x1B"
         "cd",
         false},
        {"DEL", "ab\x7F", false},
        {"a pair below A1A1", "ab\xA0\xA0", false},
        {"FF is never part of a pair", "ab\xFF\xFF", false},
    };
    for (const Case& c : cases) EXPECT_EQ(Accepts(c.bytes), c.text) << c.what;
}

TEST(LooksLikeAnsiText, ALoneLeadByteOnlyAtTheSectorEnd) {
    // After ASCII up to the sector end, a lone lead byte at 511 passes and
    // the pairs after it are read from 512 on; one position earlier the same
    // bytes pair differently and the last high byte meets CR.
    const std::string tail = "\xB1\xA8\xB8\xE6\xA1\r\n";
    EXPECT_TRUE(Accepts(std::string(511, 'a') + tail));
    EXPECT_FALSE(Accepts(std::string(510, 'a') + tail));
}

TEST(LooksLikeAnsiText, OnlyTheFirst1024BytesCount) {
    std::string text(1024, 'x');
    EXPECT_TRUE(Accepts(text + std::string(100, '\0')));
    text[1000] = '\0';
    EXPECT_FALSE(Accepts(text));
}

}  // namespace
}  // namespace kestrel
