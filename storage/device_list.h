#pragma once
// The device list the device page draws: the machine's whole disks (numbered
// 0..9) and the volumes on them, mounted or not, built on a worker thread
// behind the modal progress dialog. A volume is a partition of a listed disk,
// or a listed disk that carries a mounted file system itself; where a drive
// letter would name a volume, its device name does ("sdb1").
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/block_devices.h"
#include "platform/wide_text.h"
#include "storage/dev_info.h"
#include "storage/part_info.h"
#include "storage/sector_source.h"

namespace kestrel {

constexpr uint32_t kMaxListedDisks = 10;

// Where the enumeration looks and how it measures free space; tests point
// the root at a sysfs-like tree and give fixed free-space figures.
struct DeviceEnumConfig {
    SystemRoot root;
    FreeSpaceFn freeSpace = StatvfsFreeBytes;
};
// The settings GetAllPartInfoThread and LoadDevList use.
DeviceEnumConfig& DeviceEnumSettings();

// A volume to look at: where it lies and which listed disk holds it.
struct VolumeCandidate {
    uint32_t diskIndex = 0;
    std::string name;  // device name: "sdb1", or the disk's own name
    uint64_t startLba = 0;
    uint64_t sizeSectors = 0;
    std::string devNumber;
    bool removable = false;
};

// The volumes on the first kMaxListedDisks disks, disk by disk, partitions by number.
std::vector<VolumeCandidate> ListVolumeCandidates(const std::vector<BlockDisk>& disks,
                                                  const std::vector<MountEntry>& mounts);

// The file-system name a mounted volume reports, in the form the kind
// table compares: "NTFS", "FAT", "FAT32", "exFAT"; other types keep their own
// name ("ext4"). boot (512 bytes, may be null) tells FAT from FAT32 and what
// a FUSE mount holds.
WString MountedFsName(const std::string& fsType, const uint8_t* boot);

// "label (place fsName)": the label when it has 1 to 31 characters, the
// mount point or device name, the file-system name.
WString VolumeDisplayName(const WString& label, const std::string& place, const WString& fsName);

// Disks of the list (indices = positions, below kMaxListedDisks) that open;
// each one that does not adds "cannot open PATH: REASON" to failures.
// True when at least one disk was listed.
bool EnumDisks(const DeviceEnumConfig& config, const std::vector<BlockDisk>& blockDisks,
               std::vector<DevInfo>& disks, std::vector<std::string>* failures = nullptr);
bool EnumDisks(std::vector<DevInfo>& disks);

// Fills part for one volume from its own device (<root>/dev/NAME, opened
// here), the disk list and the mount table. False when the device cannot be
// opened (failure then says why); true also when no disk matched.
bool ReadVolumeInfo(const DeviceEnumConfig& config, const std::vector<DevInfo>& disks,
                    const VolumeCandidate& volume, const std::vector<MountEntry>& mounts,
                    PartInfo& part, std::string* failure = nullptr);
// The record of a volume whose device is open as volumeSrc (sector 0 = the
// volume's first sector); mount is null for a volume nobody mounted.
void ReadVolumePartInfo(SectorSource& volumeSrc, const DeviceEnumConfig& config,
                        const VolumeCandidate& volume, const MountEntry* mount,
                        const std::vector<DevInfo>& disks, PartInfo& part);

// One entry of the list with what the device map shows beside the record.
struct DeviceEntry {
    DevInfo dev;
    WString label;
    WString fsName;
};

struct DeviceEnumeration {
    std::vector<DeviceEntry> entries;  // volumes first, then disks
    std::vector<std::string> openFailures;
    bool stopped = false;
};

DevInfo DevInfoFromVolume(const PartInfo& part, const WString& displayName);

// The whole enumeration for a list kind (1 volumes, 2 disks, else both).
// Posts a phase-5 snapshot per volume; status (may be null) at 2 stops it
// before the next volume. False when no disk could be listed or it was stopped.
bool EnumerateDevices(const DeviceEnumConfig& config, int32_t kind, std::atomic<int32_t>* status,
                      DeviceEnumeration& out);

// The worker: param is a std::atomic<int32_t> job status word, set to 3 when
// AllDevInfoList is complete, 2 when no disk could be listed or on a stop.
void GetAllPartInfoThread(void* param);

// Runs the enumeration with DevListKind = kind behind the progress dialog and
// copies AllDevInfoList into out. 1 on success; 0 when a progress dialog is
// already open, no disk could be listed, or the user stopped it.
int LoadDevList(std::vector<DevInfo>& out, int32_t kind);

}  // namespace kestrel
