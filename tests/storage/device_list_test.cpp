#include "storage/device_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <thread>

#include "app/progress.h"
#include "app/progress_dialog.h"
#include "app/run_state.h"
#include "tests/storage/disk_image.h"
#include "tests/support/fixture.h"

namespace kestrel {
namespace {

// Fixed figures for the fixture's mount points; /mnt/floppy has none.
bool FixtureFreeSpace(const std::string& mountPoint, uint64_t& freeBytes) {
    static const std::map<std::string, uint64_t> kFree = {
        {"/srv/sd", 1u << 20}, {"/media/user/NVMe Data", 2u << 20}, {"/media/stick", 10u << 20}};
    const auto it = kFree.find(mountPoint);
    if (it == kFree.end()) return false;
    freeBytes = it->second;
    return true;
}

TEST(DeviceList, MountedFsNamesInTheFormTheKindTableCompares) {
    const std::vector<uint8_t> fat32 = test::BootFixture("fat32");
    const std::vector<uint8_t> fat16 = test::BootFixture("fat16");
    const std::vector<uint8_t> ntfs = test::BootFixture("ntfs");
    const std::vector<uint8_t> exfat = test::BootFixture("exfat");
    const struct {
        const char* type;
        const uint8_t* boot;
        const char16_t* name;
    } cases[] = {
        {"ntfs", nullptr, u"NTFS"},        {"ntfs3", nullptr, u"NTFS"},
        {"vfat", fat32.data(), u"FAT32"},  {"vfat", fat16.data(), u"FAT"},
        {"msdos", nullptr, u"FAT"},        {"exfat", nullptr, u"exFAT"},
        {"fuseblk", ntfs.data(), u"NTFS"}, {"fuseblk", exfat.data(), u"exFAT"},
        {"fuseblk", nullptr, u"fuseblk"},  {"fuseblk", fat16.data(), u"FAT"},
        {"ext4", ntfs.data(), u"ext4"},    {"btrfs", nullptr, u"btrfs"},
    };
    for (const auto& c : cases) EXPECT_EQ(MountedFsName(c.type, c.boot), c.name) << c.type;
}

TEST(DeviceList, VolumeDisplayNames) {
    EXPECT_EQ(VolumeDisplayName(u"Data", "/mnt/data", u"NTFS"), u"Data (/mnt/data NTFS)");
    EXPECT_EQ(VolumeDisplayName(u"本地磁盘", "sdb1", u"NTFS"), u"本地磁盘 (sdb1 NTFS)");
    EXPECT_EQ(VolumeDisplayName(u"", "sdc5", u""), u"(sdc5)");
    // A label of 32 characters or more is not shown.
    EXPECT_EQ(VolumeDisplayName(WString(32, u'x'), "sdb1", u"FAT"), u"(sdb1 FAT)");
    EXPECT_EQ(VolumeDisplayName(WString(31, u'x'), "sdb1", u"FAT"),
              WString(31, u'x') + u" (sdb1 FAT)");
}

class DeviceListTree : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        config_.root.path = test::FixtureTree("devices/root", "devices_storage");
        config_.freeSpace = FixtureFreeSpace;
    }
    static std::string Dev(const std::string& name) { return config_.root.DevicePath(name); }
    static WString WDev(const std::string& name) { return Utf16FromUtf8(Dev(name)); }
    static DeviceEnumConfig config_;
};
DeviceEnumConfig DeviceListTree::config_;

TEST_F(DeviceListTree, VolumesThenDisksWithKindsLabelsAndFlags) {
    ClearProgress();
    DeviceEnumeration result;
    ASSERT_TRUE(EnumerateDevices(config_, 0, nullptr, result));

    const struct {
        const char* volume;  // null for a disk entry
        const char* disk;
        uint32_t index;
        const char16_t* name;
        const char16_t* description;
        uint64_t start, size, deviceSectors, freeSectors;
        uint32_t fsKind;
        uint8_t partType;
        const char16_t* fsName;
        const char16_t* label;
        uint32_t isUsb;
    } expected[] = {
        {"mmcblk0p1", "mmcblk0", 0, u"SD16G", u"sdcard (/srv/sd ext4)", 2048, 6144, 8192, 2048, 0,
         0, u"ext4", u"sdcard", 0},
        // No udev label link: the label comes from the exFAT root directory.
        {"nvme0n1p1", "nvme0n1", 0, u"Samsung SSD 970 EVO Plus 1TB",
         u"NvmeData (/media/user/NVMe Data exFAT)", 2048, 12288, 16384, 4096, 4, 0x07, u"exFAT",
         u"NvmeData", 0},
        // udev's label wins over the FAT label ("STICK"); the stick is removable.
        {"sdb1", "sdb", 0, u"Kingston DataTraveler 3.0", u"USB STICK (/media/stick FAT32)", 2048,
         69632, 73728, 20480, 11, 0x0B, u"FAT32", u"USB STICK", 1},
        // Not mounted: recognised from its boot sector, label from $Volume.
        {"sdc1", "sdc", 0, u"ATA WDC WD10EZEX-08W", u"数据盘 (sdc1 NTFS)", 2048, 133120, 141312, 0,
         12, 0x07, u"NTFS", u"数据盘", 0},
        // Unformatted and small: no kind, no label, not even the default one.
        {"sdc5", "sdc", 0, u"ATA WDC WD10EZEX-08W", u"(sdc5)", 137216, 2048, 141312, 0, 0, 0, u"",
         u"", 0},
        // A bare volume on a loop device is the whole device; no free-space figure.
        {"loop0", "loop0", 0, nullptr, u"FLOPPY (/mnt/floppy FAT)", 0, 8192, 8192, 0, 10, 0x06,
         u"FAT", u"FLOPPY", 0},
        {nullptr, "mmcblk0", 0, u"SD16G", u"SD16G", 0, 8192, 8192, 0, 0, 0, u"", u"", 0},
        {nullptr, "nvme0n1", 1, u"Samsung SSD 970 EVO Plus 1TB", u"Samsung SSD 970 EVO Plus 1TB", 0,
         16384, 16384, 0, 0, 0, u"", u"", 0},
        {nullptr, "sdb", 2, u"Kingston DataTraveler 3.0", u"Kingston DataTraveler 3.0", 0, 73728,
         73728, 0, 0, 0, u"", u"", 1},
        {nullptr, "sdc", 3, u"ATA WDC WD10EZEX-08W", u"ATA WDC WD10EZEX-08W", 0, 141312, 141312, 0,
         0, 0, u"", u"", 0},
        // sdd (number 4) has no device node; loop0 keeps its number 5.
        {nullptr, "loop0", 5, nullptr, nullptr, 0, 8192, 8192, 0, 0, 0, u"", u"", 0},
    };
    ASSERT_EQ(result.entries.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        const auto& e = expected[i];
        const DeviceEntry& got = result.entries[i];
        const DevInfo& d = got.dev;
        SCOPED_TRACE(e.volume ? e.volume : e.disk);
        // Entries without a vendor or model text are named by their device path.
        const WString diskName = e.name ? WString(e.name) : WDev(e.disk);
        EXPECT_EQ(d.isVolume, e.volume ? 1 : 0);
        EXPECT_EQ(d.index, e.index);
        EXPECT_EQ(d.name, diskName);
        EXPECT_EQ(d.description, e.description ? WString(e.description) : diskName);
        EXPECT_EQ(d.devicePath, WDev(e.disk));
        EXPECT_EQ(d.volumePath, e.volume ? WDev(e.volume) : WString());
        EXPECT_EQ(d.startLba, e.start);
        EXPECT_EQ(d.sizeSectors, e.size);
        EXPECT_EQ(d.deviceSectors, e.deviceSectors);
        EXPECT_EQ(d.freeSectors, e.freeSectors);
        EXPECT_EQ(d.fsKind, e.fsKind);
        EXPECT_EQ(d.partType, e.partType);
        EXPECT_EQ(got.fsName, e.fsName);
        EXPECT_EQ(got.label, e.label);
        EXPECT_EQ(d.isUsb, e.isUsb);
        // Recognised volumes carry their first sector, everything else zeros.
        const std::vector<uint8_t> first =
            e.fsKind ? test::ReadWholeFile(Dev(e.volume)) : std::vector<uint8_t>(512, 0);
        ASSERT_GE(first.size(), 512u);
        EXPECT_EQ(std::memcmp(d.bootSector, first.data(), 512), 0);
    }
    EXPECT_EQ(result.openFailures, std::vector<std::string>{"cannot open " + Dev("sdd") +
                                                            ": No such file or directory"});

    // Only the first volume's snapshot got into the mailbox nobody emptied.
    ProgressSnapshot s;
    ASSERT_TRUE(TakeProgress(s));
    EXPECT_EQ(s.phase, uint32_t(kPhaseEnumerate));
    EXPECT_EQ(s.enumerate.volumesFound, 1u);
    EXPECT_EQ(s.enumerate.driveLetter, 0u);
    EXPECT_EQ(WString(s.enumerate.fsName), u"ext4");
    EXPECT_EQ(WString(s.enumerate.label), u"sdcard");
}

TEST_F(DeviceListTree, ListKindsSelectVolumesOrDisks) {
    DeviceEnumeration volumes, disks;
    ASSERT_TRUE(EnumerateDevices(config_, 1, nullptr, volumes));
    ASSERT_TRUE(EnumerateDevices(config_, 2, nullptr, disks));
    EXPECT_EQ(volumes.entries.size(), 6u);
    for (const DeviceEntry& e : volumes.entries) EXPECT_EQ(e.dev.isVolume, 1);
    ASSERT_EQ(disks.entries.size(), 5u);
    for (const DeviceEntry& e : disks.entries) {
        EXPECT_EQ(e.dev.isVolume, 0);
        EXPECT_EQ(e.dev.sizeSectors, e.dev.deviceSectors);
    }
}

TEST_F(DeviceListTree, StopBeforeTheFirstVolume) {
    std::atomic<int32_t> status{2};
    DeviceEnumeration result;
    EXPECT_FALSE(EnumerateDevices(config_, 0, &status, result));
    EXPECT_TRUE(result.stopped);
    EXPECT_TRUE(result.entries.empty());
}

TEST_F(DeviceListTree, VolumeOnADiskThatIsNotListedKeepsOnlyItsExtents) {
    const std::vector<MountEntry> mounts = ReadMountTable(config_.root);
    VolumeCandidate stick{7, "sdb1", 2048, 69632, "8:17", true};
    PartInfo part;
    ASSERT_TRUE(ReadVolumeInfo(config_, {}, stick, mounts, part));
    EXPECT_EQ(part.volumePath, WDev("sdb1"));
    EXPECT_EQ(part.startLba, 2048u);
    EXPECT_EQ(part.sizeSectors, 69632u);
    EXPECT_EQ(part.freeSectors, 20480u);
    EXPECT_TRUE(part.devicePath.empty());
    EXPECT_EQ(part.isRemovable, 0u);
    EXPECT_EQ(part.fsKind, 0u);

    VolumeCandidate missing{0, "sdd1", 0, 100, "8:49", false};
    std::string failure;
    EXPECT_FALSE(ReadVolumeInfo(config_, {}, missing, mounts, part, &failure));
    EXPECT_EQ(failure, "cannot open " + Dev("sdd1") + ": No such file or directory");
}

// A dialog that presses its stop button as soon as it opens.
class StoppingDialog : public IProgressDialog {
public:
    void RunModal(std::atomic<int32_t>& status) override { status.store(2); }
};

class DeviceLoader : public DeviceListTree {
protected:
    void SetUp() override {
        saved_ = DeviceEnumSettings();
        DeviceEnumSettings() = config_;
    }
    void TearDown() override {
        DeviceEnumSettings() = saved_;
        SetProgressDialog(nullptr);
    }
    DeviceEnumConfig saved_;
};

TEST_F(DeviceLoader, LoadsTheListBehindTheDialog) {
    std::vector<DevInfo> list;
    ASSERT_EQ(LoadDevList(list, 2), 1);
    EXPECT_EQ(kestrel::Run().DevListKind, 2);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[2].devicePath, WDev("sdb"));
    EXPECT_EQ(list[2].isUsb, 1u);
    EXPECT_EQ(kestrel::Run().LiveThreadCount.load(), 0);

    ASSERT_EQ(LoadDevList(list, 1), 1);
    ASSERT_EQ(list.size(), 6u);
    EXPECT_EQ(list.front().volumePath, WDev("mmcblk0p1"));
}

TEST_F(DeviceLoader, FailsWhenStoppedNoDiskOrADialogIsOpen) {
    std::vector<DevInfo> list(1);
    StoppingDialog stopper;
    SetProgressDialog(&stopper);
    EXPECT_EQ(LoadDevList(list, 0), 0);
    SetProgressDialog(nullptr);
    EXPECT_EQ(list.size(), 1u);

    std::atomic<int32_t> other{0};
    ASSERT_TRUE(OpenProgressDialog(other));
    EXPECT_EQ(LoadDevList(list, 0), 0);
    other.store(3);
    RunProgressDialog(other);

    // No disk at all: the worker reports failure itself.
    DeviceEnumSettings().root.path = test::TempDir("devices_none");
    std::atomic<int32_t> status{0};
    GetAllPartInfoThread(&status);
    EXPECT_EQ(status.load(), 2);
    EXPECT_TRUE(kestrel::Run().AllDevInfoList.empty());
    EXPECT_EQ(LoadDevList(list, 0), 0);
    EXPECT_EQ(list.size(), 1u);
}

}  // namespace
}  // namespace kestrel
