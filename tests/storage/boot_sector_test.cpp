#include "storage/boot_sector.h"

#include <gtest/gtest.h>

#include "platform/bytes.h"
#include "tests/storage/disk_image.h"

namespace kestrel {
namespace {

using test::BootFixture;

struct Verdicts {
    bool ntfs, fat16, fat32, exfat;
};

Verdicts Judge(const std::vector<uint8_t>& s) {
    return {IsNtfsBoot(s.data()), IsFat16Boot(s.data()), IsFat32Boot(s.data()),
            IsExfatBoot(s.data())};
}

TEST(BootSectorTest, RealBootSectorsPassOnlyTheirOwnTest) {
    struct Case {
        const char* name;
        Verdicts want;
    } cases[] = {
        {"ntfs", {true, false, false, false}},
        {"fat16", {false, true, false, false}},
        {"fat32", {false, false, true, false}},
        {"exfat", {false, false, false, true}},
    };
    for (const Case& c : cases) {
        const Verdicts got = Judge(BootFixture(c.name));
        EXPECT_EQ(got.ntfs, c.want.ntfs) << c.name;
        EXPECT_EQ(got.fat16, c.want.fat16) << c.name;
        EXPECT_EQ(got.fat32, c.want.fat32) << c.name;
        EXPECT_EQ(got.exfat, c.want.exfat) << c.name;
    }
    std::vector<uint8_t> zero(512);
    const Verdicts none = Judge(zero);
    EXPECT_FALSE(none.ntfs || none.fat16 || none.fat32 || none.exfat);
}

// One field of a good boot sector changed: does its test still pass?
TEST(BootSectorTest, CorruptionTable) {
    struct Case {
        const char* fixture;
        size_t offset;
        std::vector<uint8_t> bytes;
        bool (*test)(const uint8_t*);
        bool pass;
    } cases[] = {
        {"ntfs", 510, {0x55, 0xAB}, IsNtfsBoot, false},
        {"ntfs", 0, {0xE9}, IsNtfsBoot, true},  // byte 2 is still 0x90
        {"ntfs", 0, {0xE9, 0x52, 0x00}, IsNtfsBoot, false},
        {"ntfs", 11, {0x00, 0x03}, IsNtfsBoot, false},  // 768 bytes per sector
        {"ntfs", 11, {0x00, 0x10}, IsNtfsBoot, true},   // 4096
        {"ntfs", 13, {3}, IsNtfsBoot, false},
        {"ntfs", 13, {0}, IsNtfsBoot, false},
        {"ntfs", 13, {128}, IsNtfsBoot, true},
        {"ntfs", 21, {0xF0}, IsNtfsBoot, false},
        {"ntfs", 24, {32, 0, 255, 0}, IsNtfsBoot, true},  // heads 255 suffices
        {"ntfs", 24, {63, 0, 16, 0}, IsNtfsBoot, true},   // or 63 sectors per track
        {"ntfs", 24, {32, 0, 64, 0}, IsNtfsBoot, false},
        {"ntfs", 64, {0xF7}, IsNtfsBoot, false},
        {"fat16", 16, {3}, IsFat16Boot, false},
        {"fat16", 16, {1}, IsFat16Boot, true},
        {"fat16", 58, {'2'}, IsFat16Boot, false},  // "FAT12"
        {"fat16", 54, {'f'}, IsFat16Boot, false},
        {"fat16", 21, {0xF0}, IsFat16Boot, false},  // floppy media byte
        {"fat32", 0, {0xE9}, IsFat32Boot, true},
        {"fat32", 0, {0x00}, IsFat32Boot, false},  // byte 2 0x90 does not help FAT32
        {"fat32", 86, {'3'}, IsFat32Boot, false},
        {"fat32", 16, {0}, IsFat32Boot, false},
        {"fat32", 13, {6}, IsFat32Boot, false},
        {"exfat", 3, {'N'}, IsExfatBoot, false},
        {"exfat", 108, {12}, IsExfatBoot, false},  // 4096-byte sectors are not read
        {"exfat", 109, {16}, IsExfatBoot, true},
        {"exfat", 109, {17}, IsExfatBoot, false},
        {"exfat", 511, {0}, IsExfatBoot, false},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> s = BootFixture(c.fixture);
        std::copy(c.bytes.begin(), c.bytes.end(), s.begin() + c.offset);
        EXPECT_EQ(c.test(s.data()), c.pass) << c.fixture << " @" << c.offset;
    }
}

TEST(BootSectorTest, TypeByteToKind) {
    const std::vector<uint8_t> ntfs = BootFixture("ntfs"), exfat = BootFixture("exfat");
    struct Case {
        uint8_t type;
        bool exfatBoot;
        uint32_t kind;
    } cases[] = {
        {0x04, false, kFsFat16},   {0x06, false, kFsFat16},  {0x0E, false, kFsFat16},
        {0x14, false, kFsFat16},   {0x16, false, kFsFat16},  {0x1E, false, kFsFat16},
        {0x0B, false, kFsFat32},   {0x0C, false, kFsFat32},  {0x1B, false, kFsFat32},
        {0x1C, false, kFsFat32},   {0x07, false, kFsNtfs},   {0x07, true, kFsExfat},
        {0x17, false, kFsNtfs},    {0x17, true, kFsNtfs},    {0x83, false, kFsUnknown},
        {0x05, false, kFsUnknown}, {0x00, true, kFsUnknown},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FsKindFromPartType(c.type, (c.exfatBoot ? exfat : ntfs).data()), c.kind)
            << int(c.type);
}

TEST(BootSectorTest, SerialComesFromTheFieldOfTheType) {
    const std::vector<uint8_t> fat16 = BootFixture("fat16"), fat32 = BootFixture("fat32"),
                               ntfs = BootFixture("ntfs"), exfat = BootFixture("exfat");
    struct Case {
        const std::vector<uint8_t>* boot;
        uint8_t type;
        uint32_t kind;
        size_t at;
    } cases[] = {
        {&fat16, 0x06, kFsFat16, 39},  {&fat16, 0x0E, kFsFat16, 39}, {&fat32, 0x0C, kFsFat32, 67},
        {&ntfs, 0x07, kFsNtfs, 72},    {&ntfs, 0x17, kFsNtfs, 72},   {&exfat, 0x07, kFsExfat, 100},
        {&exfat, 0x00, kFsExfat, 100},  // records built from an exFAT boot sector have no type
    };
    for (const Case& c : cases) {
        PartInfo p;
        std::copy(c.boot->begin(), c.boot->end(), p.bootSector);
        p.partType = c.type;
        p.fsKind = c.kind;
        SetSerialFromBoot(p);
        EXPECT_EQ(p.serial, ByteView(c.boot->data(), 512).U32(c.at)) << int(c.type);
        EXPECT_NE(p.serial, 0u);
    }
    PartInfo other;
    std::copy(ntfs.begin(), ntfs.end(), other.bootSector);
    other.partType = 0x83;
    other.serial = 7;
    SetSerialFromBoot(other);
    EXPECT_EQ(other.serial, 0u);
}

class IdentifyVolumeFsTest : public ::testing::Test {
protected:
    uint32_t Identify(test::DiskImage& img, PartInfo& part, uint64_t base = 0) {
        ScopedSource src;
        EXPECT_TRUE(OpenSourcePath(Utf16FromUtf8(img.path()), *src));
        return IdentifyVolumeFs(*src, part, base);
    }
};

TEST_F(IdentifyVolumeFsTest, PrimaryBootSectors) {
    for (const char* name : {"fat16", "fat32", "ntfs", "exfat"}) {
        test::DiskImage img(std::string("id_") + name, 64);
        const std::vector<uint8_t> boot = BootFixture(name);
        img.Write(0, boot);
        PartInfo part;
        part.sizeSectors = 64;
        const uint32_t kind = Identify(img, part);
        EXPECT_NE(kind, kFsUnknown) << name;
        EXPECT_TRUE(std::equal(boot.begin(), boot.end(), part.bootSector)) << name;
    }
}

TEST_F(IdentifyVolumeFsTest, BackupsWhenSectorZeroIsWiped) {
    struct Case {
        const char* fixture;
        uint64_t at;
        uint32_t kind;
    } cases[] = {
        {"fat32", 6, kFsFat32},
        {"fat16", 6, kFsFat16},
        {"ntfs", 199, kFsNtfs},
        {"exfat", 12, kFsExfat},
    };
    for (const Case& c : cases) {
        test::DiskImage img(std::string("backup_") + c.fixture, 400);
        img.Write(0, std::vector<uint8_t>(512, 0xFF));
        img.Write((100 + c.at) * 512, BootFixture(c.fixture));
        PartInfo part;
        part.sizeSectors = 200;
        EXPECT_EQ(Identify(img, part, 100), c.kind) << c.fixture;
    }
}

TEST_F(IdentifyVolumeFsTest, NothingFoundAndBackupOutsideTheVolume) {
    test::DiskImage img("id_none", 400);
    // An NTFS boot sector one past the volume's end is not its backup.
    img.Write(300 * 512, BootFixture("ntfs"));
    PartInfo part;
    part.sizeSectors = 300;
    EXPECT_EQ(Identify(img, part), kFsUnknown);
    part.sizeSectors = 0;  // no size: no last sector to look at
    EXPECT_EQ(Identify(img, part), kFsUnknown);
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// Boot sectors as other systems' tools write them on plain files: geometry
// 0/0 or 64/32 and any media byte. The strict tests refuse them; the named
// test used for volume images accepts them, and nothing less.
TEST(BootSectorTest, NamedVolumeKindForForeignGeometry) {
    struct Case {
        const char* fixture;
        uint32_t kind;
    } cases[] = {{"ntfs", kFsNtfs}, {"fat16", kFsFat16}, {"fat32", kFsFat32}, {"exfat", kFsExfat}};
    for (const Case& c : cases) {
        std::vector<uint8_t> s = test::BootFixture(c.fixture);
        EXPECT_EQ(NamedVolumeKind(s.data()), c.kind) << c.fixture;
        if (c.kind != kFsExfat) {
            StoreU16(s.data() + 24, 32);
            StoreU16(s.data() + 26, 64);
            s[21] = 0xF0;
            EXPECT_FALSE(IsNtfsBoot(s.data()) || IsFat16Boot(s.data()) || IsFat32Boot(s.data()));
        }
        EXPECT_EQ(NamedVolumeKind(s.data()), c.kind) << c.fixture;
        std::vector<uint8_t> bad = s;
        bad[13] = 3;  // sectors per cluster
        EXPECT_EQ(NamedVolumeKind(bad.data()), c.kind == kFsExfat ? c.kind : kFsUnknown);
        bad = s;
        bad[511] = 0;
        EXPECT_EQ(NamedVolumeKind(bad.data()), kFsUnknown) << c.fixture;
    }
    // A FAT12 volume is read as kind 10, as the system does for a mounted one.
    std::vector<uint8_t> fat12 = test::BootFixture("fat16");
    fat12[58] = '2';
    EXPECT_EQ(NamedVolumeKind(fat12.data()), kFsFat16);
    fat12[57] = 'X';
    EXPECT_EQ(NamedVolumeKind(fat12.data()), kFsUnknown);
}

}  // namespace
}  // namespace kestrel
