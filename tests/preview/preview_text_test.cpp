// The text pane's text: which bytes are read as UTF-8 and which as GBK.
#include "preview/preview_text.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrel {
namespace {

PreviewResult WithText(uint32_t kind, const std::string& bytes) {
    PreviewResult r;
    r.kind = kind;
    r.text.assign(bytes.begin(), bytes.end());
    return r;
}

TEST(PreviewText, WellFormedUtf8) {
    struct Case {
        std::string bytes;
        bool wellFormed;
    } cases[] = {
        {"plain", true},
        {"会议 line 1", true},
        {"\xF0\x9F\x98\x80", true},   // U+1F600
        {"会议\xE8\xAE", true},         // a character cut by the prefix's end
        {"\xBB\xE1\xD2\xE9 1", false},  // GBK "会议"
        {"\xC0\xAF", false},            // overlong "/"
        {"\xE0\x80\xAF", false},        // overlong, three bytes
        {"\xED\xA0\x80", false},        // a surrogate
        {"\xF4\x90\x80\x80", false},    // above U+10FFFF
        {"\xE4\x41\x41", false},        // a continuation byte missing
    };
    for (const Case& c : cases) EXPECT_EQ(IsWellFormedUtf8(c.bytes), c.wellFormed) << c.bytes;
}

TEST(PreviewText, PlainTextIsUtf8WhenWellFormedElseGbk) {
    EXPECT_EQ(PreviewTextAsWide(WithText(kPreviewPlainText, "会议 line 1")), u"会议 line 1");
    EXPECT_EQ(PreviewTextAsWide(WithText(kPreviewPlainText, "\xBB\xE1\xD2\xE9 line 1")),
              u"会议 line 1");
    EXPECT_EQ(PreviewTextAsWide(WithText(kPreviewPlainText, "plain\r\n")), u"plain\r\n");
}

TEST(PreviewText, Utf16AndUtf8Kinds) {
    EXPECT_EQ(PreviewTextAsWide(WithText(kPreviewUtf16Text, std::string("\x41\x00\x0F\x4E", 4))),
              u"A丏");
    EXPECT_EQ(PreviewTextAsWide(WithText(kPreviewUtf8Text, "\xEF\xBB\xBF经验证")), u"经验证");
    EXPECT_EQ(PreviewTextAsWide(WithText(kPreviewUtf8Text, "经验证")), u"经验证");
    EXPECT_TRUE(PreviewTextAsWide(WithText(kPreviewPicture, "abc")).empty());
}

}  // namespace
}  // namespace kestrel
