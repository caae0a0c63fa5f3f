#include "storage/device_list.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "app/progress.h"
#include "app/progress_dialog.h"
#include "app/run_state.h"
#include "storage/boot_sector.h"
#include "storage/part_builders.h"
#include "storage/recognised_volume.h"
#include "storage/volume_label.h"

namespace kestrel {

namespace {

constexpr size_t kMaxLabelChars = 64;
constexpr size_t kMaxDisplayLabelChars = 31;

std::string OpenFailure(const std::string& path, int err) {
    return "cannot open " + path + ": " + std::strerror(err);
}

// Kind and type byte of a mounted volume, by its file-system name exactly.
void KindFromFsName(const WString& fsName, PartInfo& part) {
    struct Row {
        const char16_t* name;
        uint32_t kind;
        uint8_t type;
    };
    static const Row kRows[] = {
        {u"NTFS", kFsNtfs, 0x07},
        {u"FAT", kFsFat16, 0x06},
        {u"FAT32", kFsFat32, 0x0B},
        {u"exFAT", kFsExfat, 0x07},
    };
    part.fsKind = kFsUnknown;
    part.partType = 0;
    for (const Row& r : kRows) {
        if (fsName == r.name) {
            part.fsKind = r.kind;
            part.partType = r.type;
            return;
        }
    }
}

// The label the file system itself stores, read through the volume's own
// device (sector 0 there is the volume's first sector).
WString LabelFromVolume(const PartInfo& part, SectorSource& volumeSrc) {
    PartInfo probe;
    probe.fsKind = part.fsKind;
    probe.startLba = 0;
    probe.sizeSectors = part.sizeSectors;
    std::memcpy(probe.bootSector, part.bootSector, sizeof probe.bootSector);
    ReadLabelOfKind(probe, volumeSrc);
    return probe.label;
}

void ReadMountedVolume(SectorSource& volumeSrc, const DeviceEnumConfig& config,
                       const VolumeCandidate& volume, const MountEntry& mount, PartInfo& part) {
    uint8_t sector0[kSectorSize];
    const bool haveBoot = ReadSectors(volumeSrc, 1, sector0, 0);
    part.fsName = MountedFsName(mount.fsType, haveBoot ? sector0 : nullptr);
    KindFromFsName(part.fsName, part);
    if (part.fsKind != kFsUnknown) {
        if (haveBoot) {
            std::memcpy(part.bootSector, sector0, sizeof part.bootSector);
        } else if (IdentifyVolumeFs(volumeSrc, part, 0) != part.fsKind) {
            part.fsKind = kFsUnknown;
            part.partType = 0;
            std::memset(part.bootSector, 0, sizeof part.bootSector);
        }
    }
    part.label = Utf16FromUtf8(LabelFromUdev(config.root, volume.name));
    if (part.label.empty()) part.label = LabelFromVolume(part, volumeSrc);
    if (part.label.size() > kMaxLabelChars) part.label.resize(kMaxLabelChars);
    if (part.label.empty()) part.label = kDefaultLabel;
    if (part.fsKind != kFsUnknown) SetSerialFromBoot(part);
}

const DevInfo* FindDisk(const std::vector<DevInfo>& disks, uint32_t index) {
    for (const DevInfo& d : disks)
        if (d.index == index) return &d;
    return nullptr;
}

// Texts longer than the snapshot's field are cut; the field stays terminated.
template <size_t N>
void CopyText(char16_t (&field)[N], const WString& text) {
    field[text.copy(field, N - 1)] = 0;
}

void PostVolumeProgress(uint32_t found, const PartInfo& part) {
    ProgressSnapshot s;
    s.phase = kPhaseEnumerate;
    s.enumerate.volumesFound = found;
    // Linux volumes have no drive letter; the dialog's letter line stays empty.
    s.enumerate.driveLetter = 0;
    CopyText(s.enumerate.fsName, part.fsName);
    CopyText(s.enumerate.label, part.label);
    PostProgress(s);
}

bool StopRequested(const std::atomic<int32_t>* status) { return status && status->load() == 2; }

}  // namespace

DeviceEnumConfig& DeviceEnumSettings() {
    static DeviceEnumConfig config;
    return config;
}

std::vector<VolumeCandidate> ListVolumeCandidates(const std::vector<BlockDisk>& disks,
                                                  const std::vector<MountEntry>& mounts) {
    std::vector<VolumeCandidate> volumes;
    for (size_t i = 0; i < disks.size() && i < kMaxListedDisks; ++i) {
        const BlockDisk& d = disks[i];
        auto add = [&](const std::string& name, uint64_t start, uint64_t size,
                       const std::string& devNumber) {
            VolumeCandidate v;
            v.diskIndex = uint32_t(i);
            v.name = name;
            v.startLba = start;
            v.sizeSectors = size;
            v.devNumber = devNumber;
            v.removable = d.removable;
            volumes.push_back(std::move(v));
        };
        for (const BlockPartition& p : d.partitions)
            add(p.name, p.startLba, p.sizeSectors, p.devNumber);
        // A stick formatted without a partition table, a loop-mounted image or
        // a virtual disk holding the root file system is a volume itself.
        if (d.partitions.empty() && FindMount(mounts, d.name, d.devNumber))
            add(d.name, 0, d.sizeSectors, d.devNumber);
    }
    return volumes;
}

WString MountedFsName(const std::string& fsType, const uint8_t* boot) {
    if (fsType == "ntfs" || fsType == "ntfs3") return u"NTFS";
    if (fsType == "exfat") return u"exFAT";
    if (fsType == "vfat" || fsType == "msdos" || fsType == "fat") {
        const bool fat32 = boot && (IsFat32Boot(boot) || NamedVolumeKind(boot) == kFsFat32);
        return fat32 ? u"FAT32" : u"FAT";
    }
    // ntfs-3g and exfat-fuse mount as "fuseblk": the boot sector says which.
    if (boot && (fsType == "fuseblk" || fsType.rfind("fuse.", 0) == 0)) {
        switch (NamedVolumeKind(boot)) {
            case kFsNtfs:
                return u"NTFS";
            case kFsExfat:
                return u"exFAT";
            case kFsFat32:
                return u"FAT32";
            case kFsFat16:
                return u"FAT";
            default:
                break;
        }
    }
    return Utf16FromUtf8(fsType);
}

WString VolumeDisplayName(const WString& label, const std::string& place, const WString& fsName) {
    WString name;
    if (!label.empty() && label.size() <= kMaxDisplayLabelChars) name = label + u" ";
    name += u"(" + Utf16FromUtf8(place);
    if (!fsName.empty()) name += u" " + fsName;
    name += u")";
    return name;
}

bool EnumDisks(const DeviceEnumConfig& config, const std::vector<BlockDisk>& blockDisks,
               std::vector<DevInfo>& disks, std::vector<std::string>* failures) {
    disks.clear();
    for (size_t i = 0; i < blockDisks.size() && i < kMaxListedDisks; ++i) {
        const BlockDisk& b = blockDisks[i];
        const std::string path = config.root.DevicePath(b.name);
        ScopedSource src;
        if (!OpenSourcePath(Utf16FromUtf8(path), *src)) {
            const int err = errno;
            if (failures) failures->push_back(OpenFailure(path, err));
            continue;
        }
        const uint64_t sectors = QuerySourceSize(*src) / kSectorSize;
        if (sectors == 0) continue;
        DevInfo d;
        d.index = uint32_t(i);
        const std::string text = DiskDescriptionText(b);
        d.description = Utf16FromUtf8(text.empty() ? path : text);
        d.name = d.description;
        d.devicePath = Utf16FromUtf8(path);
        d.sizeSectors = d.deviceSectors = sectors;
        d.isUsb = b.bus == BusKind::kUsb ? 1 : 0;
        disks.push_back(std::move(d));
    }
    return !disks.empty();
}

bool EnumDisks(std::vector<DevInfo>& disks) {
    const DeviceEnumConfig& config = DeviceEnumSettings();
    return EnumDisks(config, ListBlockDisks(config.root), disks);
}

void ReadVolumePartInfo(SectorSource& volumeSrc, const DeviceEnumConfig& config,
                        const VolumeCandidate& volume, const MountEntry* mount,
                        const std::vector<DevInfo>& disks, PartInfo& part) {
    part = PartInfo();
    part.volumePath = Utf16FromUtf8(config.root.DevicePath(volume.name));
    part.startLba = volume.startLba;
    part.sizeSectors = volume.sizeSectors;
    uint64_t freeBytes = 0;
    if (mount && config.freeSpace && config.freeSpace(mount->mountPoint, freeBytes))
        part.freeSectors = freeBytes / kSectorSize;
    const DevInfo* disk = FindDisk(disks, volume.diskIndex);
    if (!disk) return;
    part.diskName = disk->name;
    part.devicePath = disk->devicePath;
    part.diskDesc = disk->description;
    part.deviceSectors = disk->deviceSectors;
    part.isRemovable = volume.removable ? 1 : 0;
    if (mount)
        ReadMountedVolume(volumeSrc, config, volume, *mount, part);
    else
        ReadUnmountableVolume(volumeSrc, part);
}

bool ReadVolumeInfo(const DeviceEnumConfig& config, const std::vector<DevInfo>& disks,
                    const VolumeCandidate& volume, const std::vector<MountEntry>& mounts,
                    PartInfo& part, std::string* failure) {
    const std::string path = config.root.DevicePath(volume.name);
    ScopedSource src;
    if (!OpenSourcePath(Utf16FromUtf8(path), *src)) {
        const int err = errno;
        if (failure) *failure = OpenFailure(path, err);
        return false;
    }
    const MountEntry* mount = FindMount(mounts, volume.name, volume.devNumber);
    ReadVolumePartInfo(*src, config, volume, mount, disks, part);
    return true;
}

DevInfo DevInfoFromVolume(const PartInfo& part, const WString& displayName) {
    DevInfo d;
    d.index = 0;
    d.name = part.diskName;
    d.description = displayName;
    d.devicePath = part.devicePath;
    d.volumePath = part.volumePath;
    d.isUsb = part.isRemovable;
    d.startLba = part.startLba;
    d.sizeSectors = part.sizeSectors;
    d.deviceSectors = part.deviceSectors;
    d.isVolume = 1;
    d.freeSectors = part.freeSectors;
    d.partType = part.partType;
    d.fsKind = part.fsKind;
    std::memcpy(d.bootSector, part.bootSector, sizeof d.bootSector);
    return d;
}

bool EnumerateDevices(const DeviceEnumConfig& config, int32_t kind, std::atomic<int32_t>* status,
                      DeviceEnumeration& out) {
    out = DeviceEnumeration();
    const std::vector<BlockDisk> blockDisks = ListBlockDisks(config.root);
    std::vector<DevInfo> disks;
    if (!EnumDisks(config, blockDisks, disks, &out.openFailures)) return false;
    if (kind != 2) {
        const std::vector<MountEntry> mounts = ReadMountTable(config.root);
        uint32_t found = 0;
        for (const VolumeCandidate& v : ListVolumeCandidates(blockDisks, mounts)) {
            if (StopRequested(status)) {
                out.stopped = true;
                return false;
            }
            PartInfo part;
            std::string failure;
            if (!ReadVolumeInfo(config, disks, v, mounts, part, &failure)) {
                // A whole disk mounted as a volume fails twice; say it once.
                if (std::find(out.openFailures.begin(), out.openFailures.end(), failure) ==
                    out.openFailures.end())
                    out.openFailures.push_back(failure);
                continue;
            }
            const MountEntry* mount = FindMount(mounts, v.name, v.devNumber);
            const WString display =
                VolumeDisplayName(part.label, mount ? mount->mountPoint : v.name, part.fsName);
            out.entries.push_back({DevInfoFromVolume(part, display), part.label, part.fsName});
            PostVolumeProgress(++found, part);
        }
    }
    if (kind != 1) {
        for (const DevInfo& d : disks) out.entries.push_back({d, WString(), WString()});
    }
    return true;
}

void GetAllPartInfoThread(void* param) {
    auto* status = static_cast<std::atomic<int32_t>*>(param);
    ThreadBegin("GetAllPartInfoThread");
    RunState& run = Run();
    run.AllDevInfoList.clear();
    DeviceEnumeration result;
    if (EnumerateDevices(DeviceEnumSettings(), run.DevListKind, status, result)) {
        for (DeviceEntry& e : result.entries) run.AllDevInfoList.push_back(std::move(e.dev));
        // A stop pressed meanwhile wins: the run then counts as stopped.
        int32_t running = 0;
        status->compare_exchange_strong(running, 3);
    } else {
        status->store(2);
    }
    ThreadEnd("GetAllPartInfoThread");
}

int LoadDevList(std::vector<DevInfo>& out, int32_t kind) {
    std::atomic<int32_t> status{0};
    if (!OpenProgressDialog(status)) return 0;
    Run().DevListKind = kind;
    // The dialog closes only when the worker's status is final, so the worker
    // is done with status and the list before this frame goes away...
    struct Job {
        std::atomic<int32_t>* status;
        std::atomic<bool> finished{false};
    };
    Job job{&status};
    auto worker = [](void* p) {
        Job* j = static_cast<Job*>(p);
        GetAllPartInfoThread(j->status);
        j->finished.store(true);
    };
    StartWorker(worker, &job);
    RunProgressDialog(status);
    // ...except after a stop, which closes it while the worker still runs.
    while (!job.finished.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (status.load() != 3) return 0;
    out = Run().AllDevInfoList;
    return 1;
}

}  // namespace kestrel
