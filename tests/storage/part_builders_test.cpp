#include "storage/part_builders.h"

#include <gtest/gtest.h>

#include "platform/bytes.h"
#include "storage/boot_sector.h"
#include "storage/fault_map.h"
#include "storage/volume_label.h"
#include "tests/storage/disk_image.h"

namespace kestrel {
namespace {

using test::BootFixture;
using test::DiskImage;

constexpr uint64_t kStart = 2048;

// An MBR disk with one bare volume fixture at LBA 2048 and its entry in slot 0.
struct OneVolumeDisk {
    OneVolumeDisk(const std::string& name, const std::string& fixture, uint8_t type,
                  uint64_t sectors, uint8_t bootFlag = 0)
        : img(name, kStart + sectors) {
        img.PlaceVolume(kStart, "storage/" + fixture + ".img.gz");
        img.MbrEntry(0, 0, type, kStart, uint32_t(sectors), bootFlag);
        EXPECT_TRUE(OpenSourcePath(Utf16FromUtf8(img.path()), *src));
    }
    const uint8_t* Entry(int slot = 0) {
        mbr.resize(512);
        EXPECT_TRUE(ReadSectors(*src, 1, mbr.data(), 0));
        return mbr.data() + 446 + 16 * slot;
    }
    DiskImage img;
    ScopedSource src;
    std::vector<uint8_t> mbr;
};

TEST(BuildPartFromEntryTest, RecognisesEachFileSystemWithLabelAndSerial) {
    struct Case {
        const char* fixture;
        uint8_t type;
        uint64_t sectors;
        uint32_t kind;
        const char16_t* label;
        size_t serialAt;
    } cases[] = {
        {"fat16", 0x06, 8192, kFsFat16, u"中文卷", 39},
        {"fat32", 0x0C, 69632, kFsFat32, u"KESTREL32", 67},
        {"ntfs", 0x07, 8192, kFsNtfs, u"恢复测试", 72},
        {"exfat", 0x07, 8192, kFsExfat, u"ExLabel", 100},
    };
    for (const Case& c : cases) {
        OneVolumeDisk disk(std::string("entry_") + c.fixture, c.fixture, c.type, c.sectors, 0x80);
        PartInfo part;
        ASSERT_TRUE(BuildPartFromEntry(disk.Entry(), 0, *disk.src, part)) << c.fixture;
        EXPECT_EQ(part.fsKind, c.kind) << c.fixture;
        EXPECT_EQ(part.label, c.label) << c.fixture;
        EXPECT_EQ(part.isActive, 1u);
        EXPECT_EQ(part.entryKind, 2u);
        EXPECT_EQ(part.partType, c.type);
        EXPECT_EQ(part.startLba, kStart);
        EXPECT_EQ(part.sizeSectors, c.sectors);
        const std::vector<uint8_t> boot = BootFixture(c.fixture);
        EXPECT_TRUE(std::equal(boot.begin(), boot.end(), part.bootSector));
        EXPECT_EQ(part.serial, ByteView(boot.data(), 512).U32(c.serialAt)) << c.fixture;
    }
}

TEST(BuildPartFromEntryTest, ExtendedContainerIsNotRead) {
    OneVolumeDisk disk("entry_ext", "fat16", 0x0F, 8192);
    const uint8_t* entry = disk.Entry();
    FaultMap everything;
    everything.ranges = {{0, UINT64_MAX}};
    disk.src->faults = &everything;
    PartInfo part;
    ASSERT_TRUE(BuildPartFromEntry(entry, 100, *disk.src, part));
    EXPECT_EQ(part.entryKind, 1u);
    EXPECT_EQ(part.startLba, kStart + 100);
    EXPECT_EQ(part.fsKind, kFsUnknown);
    EXPECT_EQ(everything.hits, 0u);
}

TEST(BuildPartFromEntryTest, UnreadableStartFails) {
    OneVolumeDisk disk("entry_far", "fat16", 0x06, 8192);
    uint8_t entry[16] = {};
    entry[4] = 0x06;
    StoreU32(entry + 8, 0xFFFFFF00u);
    StoreU32(entry + 12, 100);
    PartInfo part;
    EXPECT_FALSE(BuildPartFromEntry(entry, 0x1000, *disk.src, part));
    EXPECT_EQ(part.startLba, 0xFFFFFF00ull + 0x1000);  // no 32-bit wrap
}

TEST(BuildPartFromEntryTest, MissingFatLabelGetsDefaultButBootBuilderKeepsEmpty) {
    OneVolumeDisk disk("entry_nolabel", "fat32", 0x0B, 69632);
    // Wipe the label entry at the head of the root directory.
    PartInfo probe;
    const std::vector<uint8_t> boot = BootFixture("fat32");
    std::copy(boot.begin(), boot.end(), probe.bootSector);
    probe.fsKind = kFsFat32;
    probe.startLba = kStart;
    uint64_t root = 0;
    ASSERT_TRUE(FatRootDirLba(probe, root));
    disk.img.Write(root * 512, std::vector<uint8_t>(32, 0));

    PartInfo part;
    ASSERT_TRUE(BuildPartFromEntry(disk.Entry(), 0, *disk.src, part));
    EXPECT_EQ(part.label, kDefaultLabel);

    PartInfo fromBoot = BuildPartFromFatBoot(boot.data(), kStart, *disk.src);
    EXPECT_TRUE(fromBoot.label.empty());
    EXPECT_EQ(fromBoot.fsKind, kFsFat32);
    EXPECT_EQ(fromBoot.partType, 0x0B);
}

TEST(BuildPartFromBootTest, EachBuilderFillsKindSizeAndLabel) {
    OneVolumeDisk fat16("boot_fat16", "fat16", 0x06, 8192);
    PartInfo f16 = BuildPartFromFatBoot(BootFixture("fat16").data(), kStart, *fat16.src);
    EXPECT_EQ(f16.fsKind, kFsFat16);
    EXPECT_EQ(f16.partType, 0x06);
    // Below 32 MiB the total lives in the 16-bit field only.
    EXPECT_EQ(ByteView(f16.bootSector, 512).U32(32), 0u);
    EXPECT_EQ(f16.sizeSectors, ByteView(f16.bootSector, 512).U16(19));
    EXPECT_GT(f16.sizeSectors, 8000u);
    EXPECT_EQ(f16.label, u"中文卷");
    EXPECT_EQ(f16.entryKind, 0u);

    OneVolumeDisk ntfs("boot_ntfs", "ntfs", 0x07, 8192);
    PartInfo n = BuildPartFromNtfsBoot(BootFixture("ntfs").data(), kStart, *ntfs.src);
    EXPECT_EQ(n.fsKind, kFsNtfs);
    EXPECT_EQ(n.partType, 0x07);
    EXPECT_EQ(n.sizeSectors, 8191u);  // the backup boot sector lies outside
    EXPECT_EQ(n.label, u"恢复测试");

    OneVolumeDisk exfat("boot_exfat", "exfat", 0x07, 8192);
    PartInfo x = BuildPartFromExfatBoot(BootFixture("exfat").data(), kStart, *exfat.src);
    EXPECT_EQ(x.fsKind, kFsExfat);
    EXPECT_EQ(x.partType, 0);
    EXPECT_EQ(x.sizeSectors, 0u);
    EXPECT_EQ(x.label, u"ExLabel");

    // The label is read relative to the given start: elsewhere it is absent.
    PartInfo wrong = BuildPartFromNtfsBoot(BootFixture("ntfs").data(), 0, *ntfs.src);
    EXPECT_TRUE(wrong.label.empty());
}

TEST(BuildPartFromDevInfoTest, CopiesTheEntry) {
    DevInfo dev;
    dev.index = 3;
    dev.name = u"Disk A";
    dev.description = u"卷 (D: NTFS)";
    dev.devicePath = u"/dev/sdz";
    dev.volumePath = u"/dev/sdz1";
    dev.isUsb = 1;
    dev.startLba = 2048;
    dev.sizeSectors = 1000;
    dev.deviceSectors = 5000;
    dev.freeSectors = 77;
    dev.partType = 7;
    dev.fsKind = kFsNtfs;
    dev.bootSector[3] = 'N';
    const PartInfo p = BuildPartFromDevInfo(dev);
    EXPECT_EQ(p.diskName, u"Disk A");
    EXPECT_EQ(p.diskDesc, u"卷 (D: NTFS)");
    EXPECT_EQ(p.devicePath, u"/dev/sdz");
    EXPECT_EQ(p.volumePath, u"/dev/sdz1");
    EXPECT_EQ(p.isRemovable, 1u);
    EXPECT_EQ(p.startLba, 2048u);
    EXPECT_EQ(p.sizeSectors, 1000u);
    EXPECT_EQ(p.deviceSectors, 5000u);
    EXPECT_EQ(p.freeSectors, 0u);
    EXPECT_EQ(p.partType, 7);
    EXPECT_EQ(p.fsKind, uint32_t(kFsNtfs));
    EXPECT_EQ(p.bootSector[3], 'N');
    EXPECT_TRUE(p.label.empty() && p.fsName.empty());
    EXPECT_EQ(p.serial, 0u);
}

TEST(VolumeLabelTest, HostileLabelStructures) {
    // FAT: a long-name entry first in the root is not a label.
    uint8_t sec[512] = {};
    std::memcpy(sec, "ABCDEFGHIJK", 11);
    sec[11] = 0x0F;
    WString label;
    EXPECT_FALSE(ParseFatLabelEntry(sec, label));
    sec[11] = 0x08;
    EXPECT_TRUE(ParseFatLabelEntry(sec, label));
    EXPECT_EQ(label, u"ABCDEFGHIJK");

    // exFAT: a count of 16 or more is skipped, the next label entry counts.
    uint8_t dir[96] = {};
    dir[0] = 0x83;
    dir[1] = 16;
    dir[32] = 0x83;
    dir[33] = 2;
    StoreU16(dir + 34, u'O');
    StoreU16(dir + 36, u'K');
    EXPECT_TRUE(ParseExfatLabel(ByteView(dir, sizeof dir), label));
    EXPECT_EQ(label, u"OK");
    EXPECT_FALSE(ParseExfatLabel(ByteView(dir, 32), label));

    // NTFS: an attribute of length 0 ends the walk; a value running past its attribute fails.
    uint8_t rec[1024] = {};
    StoreU16(rec + 0x14, 0x38);
    StoreU32(rec + 0x38, 0x60);
    StoreU32(rec + 0x3C, 0);
    EXPECT_FALSE(ParseNtfsVolumeName(ByteView(rec, sizeof rec), label));
    StoreU32(rec + 0x3C, 0x20);
    StoreU32(rec + 0x38 + 0x10, 0x40);
    StoreU16(rec + 0x38 + 0x14, 0x18);
    EXPECT_FALSE(ParseNtfsVolumeName(ByteView(rec, sizeof rec), label));
    StoreU32(rec + 0x38 + 0x10, 4);
    StoreU16(rec + 0x38 + 0x18, u'恢');
    StoreU16(rec + 0x38 + 0x1A, u'复');
    EXPECT_TRUE(ParseNtfsVolumeName(ByteView(rec, sizeof rec), label));
    EXPECT_EQ(label, u"恢复");
}

TEST(VolumeLabelTest, FatRootDirRejectsRootClusterBelowTwo) {
    PartInfo p;
    const std::vector<uint8_t> boot = BootFixture("fat32");
    std::copy(boot.begin(), boot.end(), p.bootSector);
    p.fsKind = kFsFat32;
    uint64_t lba = 0;
    EXPECT_TRUE(FatRootDirLba(p, lba));
    StoreU32(p.bootSector + 44, 1);
    EXPECT_FALSE(FatRootDirLba(p, lba));
}

}  // namespace
}  // namespace kestrel
