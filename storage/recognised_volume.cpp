#include "storage/recognised_volume.h"

#include <cstring>

#include "storage/boot_sector.h"
#include "storage/volume_label.h"

namespace kestrel {

void FillRecognisedVolume(PartInfo& part, SectorSource& deviceSrc) {
    switch (part.fsKind) {
        case kFsNtfs:
            ReadNtfsVolumeLabel(part, deviceSrc);
            part.partType = 0x07;
            break;
        case kFsFat16:
            ReadFatLabel(part, deviceSrc);
            part.partType = 0x06;
            break;
        case kFsFat32:
            ReadFatLabel(part, deviceSrc);
            part.partType = 0x0B;
            break;
        case kFsExfat:
            ReadExfatLabel(part, deviceSrc);
            part.partType = 0x07;
            break;
        default:
            return;
    }
    part.fsName = FsNameForKind(part.fsKind);
    // The system's own name for a FAT12 volume is "FAT".
    if (part.fsKind == kFsFat16 && std::memcmp(part.bootSector + 54, "FAT12", 5) == 0)
        part.fsName = u"FAT";
    SetSerialFromBoot(part);
}

bool ReadUnmountableVolume(SectorSource& volumeSrc, PartInfo& part) {
    part.fsKind = kFsUnknown;
    if (part.sizeSectors <= kMinUnmountableSectors) return false;
    const uint32_t kind = IdentifyVolumeFs(volumeSrc, part, 0);
    if (kind == kFsUnknown) return false;
    ScopedSource device;
    if (!OpenSourceFromPart(part, *device)) return false;
    part.fsKind = kind;
    FillRecognisedVolume(part, *device);
    return true;
}

}  // namespace kestrel
