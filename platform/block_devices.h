#pragma once
// The Linux facts behind the device list: whole disks and their partitions
// from sysfs, the mount table from mountinfo, udev's label links, and the
// free space of a mounted file system. Every path is taken below a root
// folder, so a sysfs-like tree in a test folder stands in for the machine.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

// The folder that plays "/" for /sys, /proc and /dev.
struct SystemRoot {
    std::string path = "/";
    // rel has no leading slash ("sys/block"); the result never has "//".
    std::string Join(std::string_view rel) const;
    // <root>/dev/NAME: where a device node is opened and what is recorded.
    std::string DevicePath(std::string_view name) const { return Join("dev/" + std::string(name)); }
};

enum class BusKind : uint8_t { kUnknown, kVirtual, kUsb, kNvme, kSd, kVirtio, kAta, kScsi };

// The bus of a block device from its sysfs path (the target of
// /sys/block/NAME): a USB bridge in front of a SCSI host is still USB.
BusKind BusFromSysfsPath(std::string_view devicePath);
const char* BusName(BusKind bus);

struct BlockPartition {
    std::string name;       // "sdb1", "nvme0n1p2"
    uint32_t number = 0;    // the partition's own number
    uint64_t startLba = 0;  // 512-byte sectors from the start of the disk
    uint64_t sizeSectors = 0;
    std::string devNumber;  // "major:minor"
};

struct BlockDisk {
    std::string name;  // "sda", "nvme0n1", "loop0"
    uint64_t sizeSectors = 0;
    bool removable = false;
    std::string vendor;  // trimmed; empty when sysfs has none
    std::string model;
    BusKind bus = BusKind::kUnknown;
    std::string devNumber;
    std::vector<BlockPartition> partitions;  // by partition number
};

// The whole disks worth listing, in a stable order (real disks by name with
// numbers compared as numbers, then loop devices). Left out: devices without
// media (size 0), optical drives, ram/zram/device-mapper/md and other virtual
// devices, loop devices without a backing file, eMMC boot and RPMB areas,
// hidden multipath namespaces, and extended-partition containers.
std::vector<BlockDisk> ListBlockDisks(const SystemRoot& root);

// "vendor model" as a device list shows it; either part may be missing.
std::string DiskDescriptionText(const BlockDisk& disk);

struct MountEntry {
    std::string devNumber;  // "major:minor" as the kernel reports it
    std::string mountPoint;
    std::string fsType;
    std::string source;  // "/dev/sdb1", or whatever the file system was mounted from
};

// Lines of /proc/self/mountinfo; malformed lines are skipped. Octal escapes
// (\040 for a blank) are undone in the mount point and the source.
std::vector<MountEntry> ParseMountInfo(std::string_view text);
std::vector<MountEntry> ReadMountTable(const SystemRoot& root);
// The first mount of the device: by major:minor, else by its /dev path
// (file systems such as btrfs report an anonymous device number).
const MountEntry* FindMount(const std::vector<MountEntry>& mounts, std::string_view name,
                            std::string_view devNumber);

// udev's escaping in /dev/disk/by-label names (\x20 for a blank).
std::string UnescapeUdevName(std::string_view name);
// The label udev knows for the device, from the by-label links; empty when none.
std::string LabelFromUdev(const SystemRoot& root, std::string_view name);

// Free bytes of a mounted file system (for the root user: all free blocks).
using FreeSpaceFn = bool (*)(const std::string& mountPoint, uint64_t& freeBytes);
bool StatvfsFreeBytes(const std::string& mountPoint, uint64_t& freeBytes);

}  // namespace kestrel
