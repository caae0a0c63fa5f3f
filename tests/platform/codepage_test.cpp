#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace kestrel {
namespace {

TEST(CodePage, GbkRoundTripAndDamage) {
    // "恢复" in GBK is BB D6 B8 B4.
    EXPECT_EQ(AnsiFromWide(u"恢复a"),
              "\xBB\xD6\xB8\xB4"
              "a");
    EXPECT_EQ(WideFromAnsi("\xBB\xD6\xB8\xB4"
                           "a"),
              u"恢复a");
    EXPECT_EQ(WideFromAnsi(""), u"");
    // A truncated double-byte character and a byte that never starts one.
    EXPECT_EQ(WideFromAnsi("a\xBB"), u"a\xFFFD");
    EXPECT_EQ(WideFromAnsi("\xFF"
                           "b"),
              u"\xFFFD"
              u"b");
    // Characters GBK lacks become '?': an emoji (a surrogate pair) and a lone surrogate.
    EXPECT_EQ(AnsiFromWide(u"x\U0001F600y"), "x?y");
    const char16_t lone[] = {u'a', 0xD800, u'b', 0};
    EXPECT_EQ(AnsiFromWide(lone), "a?b");
}

TEST(CodePage, Utf8AndLongTexts) {
    const WString text(5000, u'文');
    EXPECT_EQ(WideFromCodePage(CodePageFromWide(text, "UTF-8"), "UTF-8"), text);
    EXPECT_EQ(AnsiFromWide(text).size(), 10000u);
    EXPECT_EQ(WideFromCodePage("\xE4\xB8\xAD", "UTF-8"), u"中");
}

}  // namespace
}  // namespace kestrel
