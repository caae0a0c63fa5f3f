#include "platform/block_devices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/fixture.h"

namespace kestrel {
namespace {

TEST(BlockDevices, RootJoinsWithoutDoubleSlashes) {
    EXPECT_EQ(SystemRoot{"/"}.Join("sys/block"), "/sys/block");
    EXPECT_EQ(SystemRoot{""}.Join("/dev/sda"), "/dev/sda");
    EXPECT_EQ(SystemRoot{"/tmp/tree//"}.DevicePath("sdb1"), "/tmp/tree/dev/sdb1");
}

TEST(BlockDevices, BusFromTheDevicePath) {
    const struct {
        const char* path;
        BusKind bus;
    } cases[] = {
        // A USB bridge puts a SCSI host below the USB port: still USB.
        {"../devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0/block/sdb",
         BusKind::kUsb},
        {"../devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0/nvme0n1", BusKind::kNvme},
        {"../devices/platform/fe320000.mmc/mmc_host/mmc1/mmc1:59b4/block/mmcblk0", BusKind::kSd},
        {"../devices/pci0000:00/0000:00:02.0/virtio1/block/vda", BusKind::kVirtio},
        {"../devices/pci0000:00/0000:00:17.0/ata3/host2/target2:0:0/2:0:0:0/block/sdc",
         BusKind::kAta},
        {"../devices/platform/host7/target7:0:0/7:0:0:0/block/sdd", BusKind::kScsi},
        {"../devices/virtual/block/loop0", BusKind::kVirtual},
        // Look-alike words are not buses.
        {"../devices/usbhub/atari/hostname/block/xyz", BusKind::kUnknown},
        {"", BusKind::kUnknown},
    };
    for (const auto& c : cases) EXPECT_EQ(BusFromSysfsPath(c.path), c.bus) << c.path;
}

TEST(BlockDevices, MountInfoFieldsAndEscapes) {
    const std::string text =
        "41 21 259:1 / /media/user/NVMe\\040Data rw,relatime shared:31 master:2 - exfat "
        "/dev/nvme0n1p1 rw\n"
        "43 21 7:0 / /mnt/floppy rw,relatime - vfat /dev/loop0 rw\n"
        "garbage line\n"
        "44 21 8:1 / /cut rw - ext4\n"  // no source: skipped
        "45 21 0:45 /@home /home\\011tab rw - btrfs /dev/sda2 rw\n"
        "46 21 8:3 / /trailing\\ rw - ext4 /dev/sda3 rw";  // no final newline
    const std::vector<MountEntry> m = ParseMountInfo(text);
    ASSERT_EQ(m.size(), 4u);
    EXPECT_EQ(m[0].devNumber, "259:1");
    EXPECT_EQ(m[0].mountPoint, "/media/user/NVMe Data");
    EXPECT_EQ(m[0].fsType, "exfat");
    EXPECT_EQ(m[0].source, "/dev/nvme0n1p1");
    EXPECT_EQ(m[1].mountPoint, "/mnt/floppy");
    EXPECT_EQ(m[2].mountPoint, "/home\ttab");
    EXPECT_EQ(m[3].mountPoint, "/trailing\\");

    EXPECT_EQ(FindMount(m, "loop0", "7:0"), &m[1]);
    // btrfs reports an anonymous device number: the source path finds it.
    EXPECT_EQ(FindMount(m, "sda2", "8:2"), &m[2]);
    EXPECT_EQ(FindMount(m, "sdz1", "65:1"), nullptr);
}

TEST(BlockDevices, UdevNameEscapes) {
    EXPECT_EQ(UnescapeUdevName("USB\\x20STICK"), "USB STICK");
    EXPECT_EQ(UnescapeUdevName("a\\x2fb\\x5C"), "a/b\\");
    EXPECT_EQ(UnescapeUdevName("bad\\xZZ\\x2"), "bad\\xZZ\\x2");
    EXPECT_EQ(UnescapeUdevName("数据盘"), "数据盘");
}

class BlockDevicesTree : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_.path = test::FixtureTree("devices/root", "devices_platform");
    }
    static SystemRoot root_;
};
SystemRoot BlockDevicesTree::root_;

TEST_F(BlockDevicesTree, ListsDisksInOrderAndLeavesOutTheRest) {
    const std::vector<BlockDisk> disks = ListBlockDisks(root_);
    std::vector<std::string> names;
    for (const BlockDisk& d : disks) names.push_back(d.name);
    // Not listed: sr0, mmcblk0boot0, ram0, zram0, dm-0 and loop1 (no backing file).
    EXPECT_EQ(names,
              (std::vector<std::string>{"mmcblk0", "nvme0n1", "sdb", "sdc", "sdd", "loop0"}));
    ASSERT_EQ(disks.size(), 6u);

    const struct {
        BusKind bus;
        bool removable;
        const char* description;
        uint64_t sectors;
        const char* devNumber;
    } expected[] = {
        {BusKind::kSd, false, "SD16G", 8192, "179:0"},
        {BusKind::kNvme, false, "Samsung SSD 970 EVO Plus 1TB", 16384, "259:0"},
        {BusKind::kUsb, true, "Kingston DataTraveler 3.0", 73728, "8:16"},
        {BusKind::kAta, false, "ATA WDC WD10EZEX-08W", 141312, "8:32"},
        {BusKind::kScsi, false, "Msft Virtual Disk", 2048, "8:48"},
        {BusKind::kVirtual, false, "", 8192, "7:0"},
    };
    for (size_t i = 0; i < disks.size(); ++i) {
        SCOPED_TRACE(disks[i].name);
        EXPECT_EQ(disks[i].bus, expected[i].bus);
        EXPECT_EQ(disks[i].removable, expected[i].removable);
        EXPECT_EQ(DiskDescriptionText(disks[i]), expected[i].description);
        EXPECT_EQ(disks[i].sizeSectors, expected[i].sectors);
        EXPECT_EQ(disks[i].devNumber, expected[i].devNumber);
    }

    // The extended container (1 KiB) is no volume; partitions come by number.
    const std::vector<BlockPartition>& sdc = disks[3].partitions;
    ASSERT_EQ(sdc.size(), 2u);
    EXPECT_EQ(sdc[0].name, "sdc1");
    EXPECT_EQ(sdc[0].startLba, 2048u);
    EXPECT_EQ(sdc[0].sizeSectors, 133120u);
    EXPECT_EQ(sdc[0].devNumber, "8:33");
    EXPECT_EQ(sdc[1].name, "sdc5");
    EXPECT_EQ(sdc[1].number, 5u);
    EXPECT_EQ(sdc[1].startLba, 137216u);
    EXPECT_TRUE(disks[5].partitions.empty());
}

TEST_F(BlockDevicesTree, MountTableAndUdevLabels) {
    const std::vector<MountEntry> mounts = ReadMountTable(root_);
    ASSERT_EQ(mounts.size(), 7u);
    const MountEntry* stick = FindMount(mounts, "sdb1", "8:17");
    ASSERT_NE(stick, nullptr);
    EXPECT_EQ(stick->mountPoint, "/media/stick");
    EXPECT_EQ(stick->fsType, "vfat");

    EXPECT_EQ(LabelFromUdev(root_, "sdb1"), "USB STICK");
    EXPECT_EQ(LabelFromUdev(root_, "sdc1"), "数据盘");
    EXPECT_EQ(LabelFromUdev(root_, "nvme0n1p1"), "");
}

TEST(BlockDevices, MissingTreeListsNothing) {
    const SystemRoot nowhere{test::TempDir("devices_empty")};
    EXPECT_TRUE(ListBlockDisks(nowhere).empty());
    EXPECT_TRUE(ReadMountTable(nowhere).empty());
    EXPECT_EQ(LabelFromUdev(nowhere, "sda1"), "");
}

}  // namespace
}  // namespace kestrel
