#include "storage/recognised_volume.h"

#include <gtest/gtest.h>

#include "storage/boot_sector.h"
#include "tests/storage/disk_image.h"

namespace kestrel {
namespace {

// An NTFS volume whose first sector is wiped, with an intact boot sector as
// its last sector, as the OS would see it unmountable.
struct WipedNtfsVolume {
    explicit WipedNtfsVolume(uint64_t sectors) : img("raw_ntfs", sectors) {
        img.PlaceVolume(0, "storage/ntfs.img.gz");
        img.Write(0, std::vector<uint8_t>(512, 0));
        img.Write((sectors - 1) * 512, test::BootFixture("ntfs"));
        part.devicePath = Utf16FromUtf8(img.path());
        part.sizeSectors = sectors;
        EXPECT_TRUE(OpenSourcePath(part.devicePath, *volume));
    }
    test::DiskImage img;
    PartInfo part;
    ScopedSource volume;
};

TEST(UnmountableVolumeTest, LargeRawVolumeFoundByItsNtfsBackup) {
    WipedNtfsVolume v(kMinUnmountableSectors + 1);
    ASSERT_TRUE(ReadUnmountableVolume(*v.volume, v.part));
    EXPECT_EQ(v.part.fsKind, uint32_t(kFsNtfs));
    EXPECT_EQ(v.part.partType, 0x07);
    EXPECT_EQ(v.part.fsName, u"NTFS");
    EXPECT_EQ(v.part.label, u"恢复测试");
    const std::vector<uint8_t> boot = test::BootFixture("ntfs");
    EXPECT_TRUE(std::equal(boot.begin(), boot.end(), v.part.bootSector));
    EXPECT_NE(v.part.serial, 0u);
}

TEST(UnmountableVolumeTest, SmallRawVolumeStaysUnknown) {
    WipedNtfsVolume v(kMinUnmountableSectors);
    EXPECT_FALSE(ReadUnmountableVolume(*v.volume, v.part));
    EXPECT_EQ(v.part.fsKind, uint32_t(kFsUnknown));
    EXPECT_TRUE(v.part.fsName.empty());
}

TEST(UnmountableVolumeTest, UnopenableDeviceLeavesKindZero) {
    WipedNtfsVolume v(kMinUnmountableSectors + 1);
    v.part.devicePath = u"/nonexistent/disk";
    EXPECT_FALSE(ReadUnmountableVolume(*v.volume, v.part));
    EXPECT_EQ(v.part.fsKind, uint32_t(kFsUnknown));
}

TEST(RecognisedVolumeTest, NoDefaultLabel) {
    test::DiskImage img("nolabel_exfat", 8192);
    img.PlaceVolume(0, "storage/exfat.img.gz");
    ScopedSource src;
    ASSERT_TRUE(OpenSourcePath(Utf16FromUtf8(img.path()), *src));
    PartInfo part;
    part.sizeSectors = 8192;
    part.fsKind = IdentifyVolumeFs(*src, part);
    ASSERT_EQ(part.fsKind, uint32_t(kFsExfat));
    // Point the root directory at an empty cluster: no label entry there.
    part.bootSector[96] = 200;
    FillRecognisedVolume(part, *src);
    EXPECT_TRUE(part.label.empty());
    EXPECT_EQ(part.fsName, u"exFat");
    EXPECT_EQ(part.partType, 0x07);
}

}  // namespace
}  // namespace kestrel
