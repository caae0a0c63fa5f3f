#include "storage/sector_source.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "app/run_state.h"
#include "storage/fault_map.h"
#include "tests/support/fixture.h"

namespace kestrel {
namespace {

// Every byte of sector n reads (n & 0xFF) ^ 0x5A, so a sector's origin shows in its data.
uint8_t Pattern(uint64_t lba) { return uint8_t((lba & 0xFF) ^ 0x5A); }

std::string WriteImage(const std::string& name, uint64_t sectors) {
    std::string path = test::TempDir("sector_source") + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::vector<uint8_t> sec(kSectorSize);
    for (uint64_t i = 0; i < sectors; ++i) {
        std::fill(sec.begin(), sec.end(), Pattern(i));
        std::fwrite(sec.data(), 1, sec.size(), f);
    }
    std::fclose(f);
    return path;
}

struct ReadStatGuard {
    explicit ReadStatGuard(int32_t mode) {
        kestrel::Run().ReadStatMode = mode;
        kestrel::Run().ReadCallCount = 0;
        kestrel::Run().ReadFailCount = 0;
    }
    ~ReadStatGuard() { kestrel::Run().ReadStatMode = kReadStatOff; }
};

class SectorSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = WriteImage("thousand.img", 1000);
        ASSERT_TRUE(OpenSourcePath(Utf16FromUtf8(path_), *src_));
    }
    std::string path_;
    ScopedSource src_;
};

TEST_F(SectorSourceTest, OpenPathSetsSizeAndLastLba) {
    EXPECT_EQ(src_->byteSize, 1000u * 512);
    EXPECT_EQ(src_->lastLba, 999u);
    EXPECT_EQ(src_->name, Utf16FromUtf8(path_));
    EXPECT_EQ(src_->reopenPath, Utf16FromUtf8(path_));
}

TEST_F(SectorSourceTest, ReadRunningOverTheEndIsClampedAndZeroFilled) {
    std::vector<uint8_t> buf(8 * 512, 0xCC);
    EXPECT_TRUE(ReadSectors(*src_, 8, buf.data(), 996));
    for (int s = 0; s < 4; ++s) EXPECT_EQ(buf[s * 512 + 17], Pattern(996 + s)) << s;
    for (size_t i = 4 * 512; i < buf.size(); ++i) ASSERT_EQ(buf[i], 0) << i;
}

TEST_F(SectorSourceTest, ReadStartingBeyondTheEndIsRefusedUncounted) {
    ReadStatGuard stat(kReadStatExport);
    std::vector<uint8_t> buf(512, 0xCC);
    EXPECT_FALSE(ReadSectors(*src_, 1, buf.data(), 1000));
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(kestrel::Run().ReadCallCount, 0u);
    EXPECT_EQ(kestrel::Run().ReadFailCount, 0u);
}

TEST_F(SectorSourceTest, ReadBytesAtRefusesMoreThan256MiB) {
    uint8_t b = 0;
    EXPECT_FALSE(ReadBytesAt(*src_, 0x10000001, &b, 0));
    std::vector<uint8_t> buf(100);
    EXPECT_TRUE(ReadBytesAt(*src_, 100, buf.data(), 512 * 7 + 3));
    EXPECT_EQ(buf[0], Pattern(7));
}

TEST_F(SectorSourceTest, ShortReadAtTheRealEndFailsWithZeroTail) {
    // The unknown-size marker lets reads run past the image's real end.
    PartInfo part;
    part.devicePath = Utf16FromUtf8(path_);
    part.sizeSectors = kUnknownSizeSectors;
    ScopedSource src;
    ASSERT_TRUE(OpenSourceFromPart(part, *src));
    EXPECT_EQ(src->lastLba, kUnknownSizeSectors);
    std::vector<uint8_t> buf(4 * 512, 0xCC);
    EXPECT_FALSE(ReadSectors(*src, 4, buf.data(), 998));
    EXPECT_EQ(buf[0], Pattern(998));
    EXPECT_EQ(buf[512], Pattern(999));
    EXPECT_EQ(buf[1024], 0);
    EXPECT_FALSE(ReadSectors(*src, 1, buf.data(), kUnknownSizeSectors));
    EXPECT_FALSE(ReadSectors(*src, 1, buf.data(), kUnknownSizeSectors + 1));
}

TEST(SectorSourceOpen, FromPartUsesStartPlusSizeAndDiskDescription) {
    std::string path = WriteImage("part.img", 64);
    PartInfo part;
    part.devicePath = Utf16FromUtf8(path);
    part.diskDesc = u"demo disk";
    part.startLba = 10;
    part.sizeSectors = 20;
    ScopedSource src;
    ASSERT_TRUE(OpenSourceFromPart(part, *src, false));
    EXPECT_EQ(src->lastLba, 29u);
    EXPECT_EQ(src->name, u"demo disk");
    EXPECT_EQ(src->byteSize, 0u);
    uint8_t sec[512];
    EXPECT_TRUE(ReadSectors(*src, 1, sec, 29));
    EXPECT_EQ(sec[0], Pattern(29));
    EXPECT_FALSE(ReadSectors(*src, 1, sec, 30));

    part.devicePath = u"/nonexistent/kestrel.img";
    ScopedSource missing;
    EXPECT_FALSE(OpenSourceFromPart(part, *missing));
    EXPECT_FALSE(OpenSourcePath(part.devicePath, *missing));
}

TEST(SectorSourceAccounting, ScanModeCountsOnlyFullBlocksExportCountsAll) {
    // 16384 + 100 sectors: one full 8 MiB block, then a clamped tail.
    std::string path = WriteImage("block.img", 16384 + 100);
    ScopedSource src;
    ASSERT_TRUE(OpenSourcePath(Utf16FromUtf8(path), *src));
    std::vector<uint8_t> buf(16384 * 512);
    {
        ReadStatGuard stat(kReadStatScan);
        EXPECT_TRUE(ReadSectors(*src, 16384, buf.data(), 0));
        EXPECT_TRUE(ReadSectors(*src, 16384, buf.data(), 16384));  // clamped to 100
        EXPECT_TRUE(ReadSectors(*src, 8, buf.data(), 0));
        EXPECT_EQ(kestrel::Run().ReadCallCount, 1u);
        EXPECT_EQ(kestrel::Run().ReadFailCount, 0u);
    }
    {
        ReadStatGuard stat(kReadStatExport);
        EXPECT_TRUE(ReadSectors(*src, 16384, buf.data(), 16384));
        EXPECT_TRUE(ReadSectors(*src, 8, buf.data(), 0));
        EXPECT_EQ(kestrel::Run().ReadCallCount, 2u);
    }
    {
        ReadStatGuard stat(kReadStatOff);
        EXPECT_TRUE(ReadSectors(*src, 8, buf.data(), 0));
        EXPECT_EQ(kestrel::Run().ReadCallCount, 0u);
    }
}

TEST_F(SectorSourceTest, TransientFailureIsHiddenByTheReopen) {
    FaultMap faults;
    faults.ranges = {{512 * 100, 512 * 101}};
    faults.failFirstAttempts = 1;
    src_->faults = &faults;
    ReadStatGuard stat(kReadStatExport);
    std::vector<uint8_t> buf(4 * 512);
    EXPECT_TRUE(ReadSectors(*src_, 4, buf.data(), 98));
    EXPECT_EQ(buf[2 * 512], Pattern(100));
    EXPECT_EQ(faults.hits, 2u);
    EXPECT_GE(src_->fd, 0);
    EXPECT_EQ(kestrel::Run().ReadCallCount, 1u);
    EXPECT_EQ(kestrel::Run().ReadFailCount, 0u);
}

TEST_F(SectorSourceTest, PersistentFailureZeroFillsAndCounts) {
    FaultMap faults;
    faults.ranges = {{512 * 100 + 10, 512 * 100 + 11}, {512 * 500, 512 * 600}};
    src_->faults = &faults;
    ReadStatGuard stat(kReadStatExport);
    std::vector<uint8_t> buf(4 * 512, 0xCC);
    EXPECT_FALSE(ReadSectors(*src_, 4, buf.data(), 99));
    for (uint8_t b : buf) ASSERT_EQ(b, 0);
    EXPECT_EQ(faults.hits, 2u);  // the read and its one retry
    // Neighbouring reads that do not touch a range still work.
    EXPECT_TRUE(ReadSectors(*src_, 1, buf.data(), 101));
    buf.resize(100 * 512);
    EXPECT_TRUE(ReadSectors(*src_, 100, buf.data(), 400));
    EXPECT_FALSE(ReadSectors(*src_, 1, buf.data(), 599));
    EXPECT_EQ(kestrel::Run().ReadCallCount, 4u);
    EXPECT_EQ(kestrel::Run().ReadFailCount, 2u);
}

TEST_F(SectorSourceTest, FailedReopenLeavesSourceUnusable) {
    FaultMap faults;
    faults.ranges = {{0, 512}};
    src_->faults = &faults;
    src_->reopenPath = u"/nonexistent/gone.img";
    uint8_t sec[512];
    EXPECT_FALSE(ReadSectors(*src_, 1, sec, 0));
    EXPECT_LT(src_->fd, 0);
    EXPECT_FALSE(ReadSectors(*src_, 1, sec, 5));
}

TEST(FaultMapTest, OverlapEdges) {
    FaultMap m;
    m.ranges = {{100, 200}, {300, 301}};
    struct Case {
        uint64_t off, len;
        bool hit;
    } cases[] = {
        {0, 100, false},  {0, 101, true},     {199, 1, true},  {200, 100, false},
        {200, 101, true}, {301, 1000, false}, {150, 0, false}, {UINT64_MAX - 5, 10, false},
    };
    for (const Case& c : cases) EXPECT_EQ(m.Overlaps(c.off, c.len), c.hit) << c.off << "+" << c.len;
}

}  // namespace
}  // namespace kestrel
