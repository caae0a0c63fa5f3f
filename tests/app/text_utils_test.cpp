#include "app/text_utils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/packed_time.h"
#include "tests/support/fixture.h"

namespace kestrel {
namespace {

TEST(TextUtils, SizeTexts) {
    struct Case {
        uint64_t value;
        const char16_t* bytes;
        const char16_t* sectors;
    } cases[] = {
        {0, u"0.00 KB", u"0.00 MB"},
        {1023, u"1.00 KB", u"0.00 MB"},  // 0.999 rounds; 1023 sectors are < 1 MiB
        {1536, u"1.50 KB", u"0.00 MB"},
        {(1ULL << 20) - 1, u"1024.00 KB", u"511.00 MB"},
        {1ULL << 20, u"1.00 MB", u"512.00 MB"},
        {0x1FFFFF, u"2.00 MB", u"1023.00 MB"},
        {0x200000, u"2.00 MB", u"1.00 GB"},
        {(1ULL << 30) - 1, u"1024.00 MB", u"512.00 GB"},
        {1ULL << 30, u"1.00 GB", u"512.00 GB"},
        {(1ULL << 31) - 1, u"2.00 GB", u"1024.00 GB"},
        {1ULL << 31, u"2.00 GB", u"1.00 TB"},
        {(1ULL << 40) - 1, u"1024.00 GB", u"512.00 TB"},
        {1ULL << 40, u"1.00 TB", u"512.00 TB"},
        {~0ULL, u"16777216.00 TB", u"8589934592.00 TB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatByteSize(c.value), c.bytes) << c.value;
        EXPECT_EQ(FormatSectorSize(c.value), c.sectors) << c.value;
    }
}

TEST(TextUtils, PackedTimeTexts) {
    EXPECT_EQ(FormatPackedTime(0), u"1900-01-01  00:00");
    EXPECT_EQ(FormatPackedTime(PackTime({2019, 3, 7, 9, 5, 1})), u"2019-03-07  09:05:01");
    EXPECT_EQ(FormatPackedTime(PackTime({2043, 12, 31, 23, 59, 59})), u"2043-12-31  23:59:59");
    int64_t t;
    EXPECT_FALSE(PackedTimeToFileTime(0, t));
}

TEST(TextUtils, NameCharacters) {
    struct Case {
        char16_t c;
        bool valid;
    } cases[] = {
        {0, false},      {31, false},     {u' ', true},   {u'a', true},    {u'~', true},
        {0x7F, false},   {0xE9, false},   {u'"', false},  {u'*', false},   {u'/', false},
        {u':', false},   {u'<', false},   {u'>', false},  {u'?', false},   {u'\\', false},
        {u'|', false},   {0x4E00, true},  {0x9FA5, true}, {0x9FA6, false}, {0x4DFF, false},
        {0xD800, false}, {0xFFFD, false}, {u'.', true},   {u'-', true},
    };
    for (const Case& c : cases) EXPECT_EQ(IsValidNameChar(c.c), c.valid) << int(c.c);
}

bool AllDigits(const WString& s) {
    for (char16_t c : s)
        if (c < u'0' || c > u'9') return false;
    return !s.empty();
}

TEST(TextUtils, SanitizeLastComponent) {
    struct Case {
        const char16_t* in;
        bool ok;
        const char16_t* prefix;  // kept unchanged
        size_t replaced;         // characters of the tail that must be digits
    } cases[] = {
        {u"abc", false, u"", 0},
        {u"/a/", false, u"", 0},
        {u"/a/b?", false, u"", 0},         // last '/' too early
        {u"/tmp/x/", true, u"/tmp/x", 0},  // one trailing '/' dropped
        {u"/tmp/ab?", true, u"/tmp/ab", 1},
        {u"/tmp/ok/名字é*", true, u"/tmp/ok/名字", 2},
        {u"/mnt/data/\x01\x02", true, u"/mnt/data/", 2},
    };
    for (const Case& c : cases) {
        WString p = c.in;
        EXPECT_EQ(SanitizeLastComponent(p), c.ok) << Utf8FromWide(c.in);
        if (!c.ok) continue;
        const WString prefix = c.prefix;
        ASSERT_EQ(p.compare(0, prefix.size(), prefix), 0) << Utf8FromWide(p);
        if (c.replaced) {
            EXPECT_TRUE(AllDigits(p.substr(p.size() - c.replaced))) << Utf8FromWide(p);
            EXPECT_EQ(p.size(), WString(c.in).size());
        }
    }
}

TEST(TextUtils, EnsureDirectoryFallsBackToASanitizedName) {
    const std::string root = test::TempDir("ensure_dir");
    WString plain = WideFromUtf8(root + "/plain");
    EXPECT_TRUE(EnsureDirectory(plain));
    EXPECT_TRUE(EnsureDirectory(plain));  // exists already
    EXPECT_EQ(plain, WideFromUtf8(root + "/plain"));

    // 130 x U+00E9 is 260 bytes of UTF-8, beyond the 255-byte name limit; the
    // sanitized name (130 digits) fits.
    WString longName = WideFromUtf8(root + "/") + WString(130, char16_t(0xE9));
    EXPECT_TRUE(EnsureDirectory(longName));
    EXPECT_TRUE(AllDigits(longName.substr(longName.size() - 130)));
    struct stat st;
    EXPECT_EQ(::stat(Utf8FromWide(longName).c_str(), &st), 0);

    WString noParent = WideFromUtf8(root + "/missing/child");
    EXPECT_FALSE(EnsureDirectory(noParent));
    EXPECT_EQ(noParent, WideFromUtf8(root + "/missing/child"));
}

TEST(TextUtils, ExeFolderAndUtf8) {
    const std::string folder = GetExeFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(::access((folder + "kestrel_app_tests").c_str(), X_OK), 0);
    EXPECT_EQ(WideFromUtf8("恢复\xff"), u"恢复\xfffd");
}

}  // namespace
}  // namespace kestrel
