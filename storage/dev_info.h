#pragma once
// DevInfo: one entry of the device list as the device page shows it — a
// physical disk or a volume on one, with what is needed to build its
// partition record (BuildPartFromDevInfo).
#include <cstdint>

#include "platform/wide_text.h"

namespace kestrel {

struct DevInfo {
    uint32_t index = 0;   // disk number for disks, 0 for volumes
    WString name;         // disk description (disks) / containing disk's name (volumes)
    WString description;  // disk description / volume display name
    WString devicePath;   // the disk's device (a volume's containing disk)
    WString volumePath;   // the volume's own device; empty for disks
    uint32_t isUsb = 0;   // USB bus (disks) / removable drive (volumes)
    uint64_t startLba = 0;
    uint64_t sizeSectors = 0;
    uint64_t deviceSectors = 0;
    int32_t isVolume = 0;
    uint32_t reserved = 0;
    uint64_t freeSectors = 0;
    uint8_t partType = 0;
    uint32_t fsKind = 0;
    uint8_t bootSector[512] = {};
};

}  // namespace kestrel
