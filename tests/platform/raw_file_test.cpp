#include "platform/raw_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <vector>

#include "tests/support/fixture.h"

namespace kestrel {
namespace {

std::string MakeFile(const std::string& name, size_t size) {
    const std::string path = test::TempDir("raw_file") + "/" + name;
    std::ofstream out(path, std::ios::binary);
    for (size_t i = 0; i < size; ++i) out.put(char(i * 7 + 3));
    return path;
}

TEST(RawFile, ReadsWithinAndAcrossTheEnd) {
    const std::string path = MakeFile("img.bin", 5000);
    RawFile f;
    ASSERT_TRUE(f.Open(path));
    EXPECT_TRUE(f.IsOpen());
    EXPECT_FALSE(f.IsBlockDevice());
    EXPECT_EQ(f.Size(), 5000u);

    std::vector<uint8_t> buf(4096, 0xEE);
    struct Case {
        uint64_t off;
        size_t n;
        int64_t expected;
    } cases[] = {
        {0, 512, 512},       {4096, 4096, 904}, {4999, 10, 1}, {5000, 10, 0},
        {1ULL << 62, 10, 0}, {~0ULL, 10, 0},    {0, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(f.PRead(buf.data(), c.n, c.off), c.expected) << c.off;
        if (c.expected > 0) {
            EXPECT_EQ(buf[0], uint8_t(c.off * 7 + 3)) << c.off;
        }
    }
    EXPECT_EQ(f.PRead(nullptr, 10, 0), -1);
}

TEST(RawFile, RefusesMissingPathsAndFolders) {
    RawFile f;
    EXPECT_FALSE(f.Open(test::TempDir("raw_file_missing") + "/none"));
    EXPECT_FALSE(f.Open(test::TempDir("raw_file_dir")));
    EXPECT_FALSE(f.IsOpen());
    std::vector<uint8_t> buf(16);
    EXPECT_EQ(f.PRead(buf.data(), 16, 0), -1);
}

TEST(RawFile, OpensReadOnlyAndMoves) {
    const std::string path = MakeFile("ro.bin", 64);
    RawFile f;
    ASSERT_TRUE(f.Open(path));
    EXPECT_LT(::write(f.fd(), "x", 1), 0);  // never writable
    RawFile g(std::move(f));
    EXPECT_FALSE(f.IsOpen());
    EXPECT_EQ(g.Size(), 64u);
    g.Close();
    EXPECT_FALSE(g.IsOpen());
}

TEST(RawFile, BlockDeviceSizeWhenOneIsReadable) {
    RawFile f;
    if (!f.Open("/dev/loop0")) GTEST_SKIP() << "no readable block device";
    EXPECT_TRUE(f.IsBlockDevice());
}

}  // namespace
}  // namespace kestrel
