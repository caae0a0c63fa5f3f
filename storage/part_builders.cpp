#include "storage/part_builders.h"

#include <cstring>

#include "platform/bytes.h"
#include "storage/boot_sector.h"
#include "storage/volume_label.h"

namespace kestrel {

PartInfo BuildPartFromDevInfo(const DevInfo& dev) {
    PartInfo part;
    part.startLba = dev.startLba;
    part.sizeSectors = dev.sizeSectors;
    part.deviceSectors = dev.deviceSectors;
    part.devicePath = dev.devicePath;
    part.volumePath = dev.volumePath;
    part.isRemovable = dev.isUsb;
    part.partType = dev.partType;
    part.fsKind = dev.fsKind;
    std::memcpy(part.bootSector, dev.bootSector, sizeof part.bootSector);
    part.diskName = dev.name;
    part.diskDesc = dev.description;
    return part;
}

void TakeDeviceIdentity(const PartInfo& device, PartInfo& part) {
    part.devicePath = device.devicePath;
    part.diskName = device.diskName;
    part.diskDesc = device.diskDesc;
    part.deviceSectors = device.deviceSectors;
    part.isRemovable = device.isRemovable;
}

PartInfo RecordOnDevice(const PartInfo& device) {
    PartInfo part;
    TakeDeviceIdentity(device, part);
    return part;
}

PartInfo WithoutTables(const PartInfo& part) {
    PartInfo copy = part;
    copy.nodes = nullptr;
    copy.nodeCapacity = copy.nodeCount = copy.listedTotal = copy.linkedCount = 0;
    copy.fsTable = copy.allocMap = nullptr;
    copy.fsTableBytes = copy.allocMapBytes = 0;
    return copy;
}

bool BuildPartFromEntry(const uint8_t* entry, uint64_t baseLba, SectorSource& src, PartInfo& part) {
    const ByteView e(entry, 16);
    part.isActive = e.U8(0) == 0x80 ? 1 : 0;
    part.partType = e.U8(4);
    part.entryKind = part.partType == 0x05 || part.partType == 0x0F ? 1 : 2;
    // In 64 bits: an extended chain near the 2 TiB limit must not wrap back
    // to the start of the disk.
    part.startLba = uint64_t(e.U32(8)) + baseLba;
    part.sizeSectors = e.U32(12);
    if (part.entryKind == 1) return true;  // a container has no boot sector of its own

    if (!ReadSectors(src, 1, part.bootSector, part.startLba)) return false;
    part.fsKind = FsKindFromPartType(part.partType, part.bootSector);
    SetSerialFromBoot(part);
    ReadLabelOfKind(part, src);
    if (part.label.empty()) part.label = kDefaultLabel;
    return true;
}

PartInfo BuildPartFromNtfsBoot(const uint8_t* boot, uint64_t startLba, SectorSource& src) {
    PartInfo part;
    part.startLba = startLba;
    part.sizeSectors = ByteView(boot, kSectorSize).U64(40);
    std::memcpy(part.bootSector, boot, kSectorSize);
    part.partType = 0x07;
    part.fsKind = kFsNtfs;
    ReadNtfsVolumeLabel(part, src);
    return part;
}

PartInfo BuildPartFromFatBoot(const uint8_t* boot, uint64_t startLba, SectorSource& src) {
    PartInfo part;
    const ByteView b(boot, kSectorSize);
    part.startLba = startLba;
    // Volumes below 32 MiB keep their size in the 16-bit field and 0 in the 32-bit one.
    part.sizeSectors = b.U32(32) != 0 ? b.U32(32) : b.U16(19);
    std::memcpy(part.bootSector, boot, kSectorSize);
    if (b.U16(17) > 0) {
        part.partType = 0x06;
        part.fsKind = kFsFat16;
    } else {
        part.partType = 0x0B;
        part.fsKind = kFsFat32;
    }
    ReadFatLabel(part, src);
    return part;
}

PartInfo BuildPartFromExfatBoot(const uint8_t* boot, uint64_t startLba, SectorSource& src) {
    PartInfo part;
    part.startLba = startLba;
    std::memcpy(part.bootSector, boot, kSectorSize);
    ReadExfatLabel(part, src);
    part.fsKind = kFsExfat;
    return part;
}

}  // namespace kestrel
