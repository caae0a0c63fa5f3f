#include "fs/fat_sector_test.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace kestrel {
namespace {

std::vector<uint8_t> Fat32Sector(uint32_t plausibleFrom2) {
    std::vector<uint8_t> s(512, 0);
    StoreU32(&s[0], 0x0FFFFFF8);
    StoreU32(&s[4], 0xFFFFFFFF);
    // Entries 2..127: the first plausibleFrom2 are chains (k -> k + 1), the rest junk.
    for (uint32_t k = 2; k < 128; ++k)
        StoreU32(&s[k * 4], k - 2 < plausibleFrom2 ? k + 1 : 0x12345);
    return s;
}

std::vector<uint8_t> Fat16Sector(uint32_t plausibleFrom2, uint16_t filler) {
    std::vector<uint8_t> s(512, 0);
    StoreU16(&s[0], 0xFFF8);
    StoreU16(&s[2], 0xFFFF);
    for (uint32_t k = 2; k < 256; ++k)
        StoreU16(&s[k * 2], uint16_t(k - 2 < plausibleFrom2 ? 0 : filler));
    return s;
}

TEST(FatSectorTest, FatTableThresholds) {
    EXPECT_TRUE(IsPlausibleFatSector(ByteView(Fat32Sector(126).data(), 512), FatWidth::Fat32));
    EXPECT_TRUE(IsPlausibleFatSector(ByteView(Fat32Sector(97).data(), 512), FatWidth::Fat32));
    EXPECT_FALSE(IsPlausibleFatSector(ByteView(Fat32Sector(96).data(), 512), FatWidth::Fat32));
    auto badMedia = Fat32Sector(126);
    badMedia[0] = 0xF0;
    EXPECT_FALSE(IsPlausibleFatSector(ByteView(badMedia.data(), 512), FatWidth::Fat32));

    EXPECT_TRUE(
        IsPlausibleFatSector(ByteView(Fat16Sector(193, 0x77).data(), 512), FatWidth::Fat16));
    EXPECT_FALSE(
        IsPlausibleFatSector(ByteView(Fat16Sector(192, 0x77).data(), 512), FatWidth::Fat16));
    // FAT16 end-of-chain marks do not count as plausible.
    EXPECT_FALSE(
        IsPlausibleFatSector(ByteView(Fat16Sector(0, 0xFFFF).data(), 512), FatWidth::Fat16));
    // The wrong width, and a short buffer, fail.
    EXPECT_FALSE(IsPlausibleFatSector(ByteView(Fat16Sector(254, 0).data(), 512), FatWidth::Fat32));
    EXPECT_FALSE(IsPlausibleFatSector(ByteView(Fat32Sector(126).data(), 511), FatWidth::Fat32));
}

TEST(FatSectorTest, SubdirectorySector) {
    std::vector<uint8_t> s(512, 0);
    std::memcpy(&s[0], ".          ", 11);
    std::memcpy(&s[32], "..         ", 11);
    StoreU16(&s[0x14], 0x0001);
    StoreU16(&s[0x1A], 0x2345);
    StoreU16(&s[0x3A], 0x0007);
    EXPECT_TRUE(IsFatSubdirSector(ByteView(s.data(), 512)));
    const FatSubdirClusters c = ReadFatSubdirClusters(ByteView(s.data(), 512));
    EXPECT_EQ(c.own, 0x12345u);
    EXPECT_EQ(c.parent, 7u);
    s[33] = ' ';
    EXPECT_FALSE(IsFatSubdirSector(ByteView(s.data(), 512)));
    EXPECT_FALSE(IsFatSubdirSector(ByteView(s.data(), 20)));
}

TEST(FatSectorTest, RootDirectorySector) {
    struct Case {
        const char* label;
        bool expected;
    } cases[] = {
        {"KESTREL    ", true},
        {"\xCA\xFD\xBE\xDD      \xB1", true},  // GBK pair, then a lone lead byte at the end
        {"BAD\x01NAME   ", false},
        {"\xCA\x20        ", false},  // a lead byte followed by a blank is no pair
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> s(512, 0);
        std::memcpy(&s[0], c.label, 11);
        s[11] = 0x08;
        EXPECT_EQ(IsFatRootDirSector(ByteView(s.data(), 512)), c.expected) << c.label;
    }
    std::vector<uint8_t> s(512, 0);
    std::memcpy(&s[0], "KESTREL    ", 11);
    s[11] = 0x08;
    s[0x1A] = 2;  // a label owns no cluster
    EXPECT_FALSE(IsFatRootDirSector(ByteView(s.data(), 512)));
}

}  // namespace
}  // namespace kestrel
