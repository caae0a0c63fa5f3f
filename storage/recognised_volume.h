#pragma once
// Records for volumes whose file system the system recognises itself from a
// boot sector rather than from a partition type byte or the OS: volumes the
// OS cannot mount ("RAW"), bare volume images and GPT partitions.
#include "storage/part_info.h"
#include "storage/sector_source.h"

namespace kestrel {

// Volumes this small stay unrecognised when the OS cannot mount them.
constexpr uint64_t kMinUnmountableSectors = 0x20000;  // 64 MiB

// From part.fsKind and part.bootSector: the label (read through deviceSrc,
// where part.startLba is absolute), the type byte, the file-system name
// ("NTFS", "FAT16", "FAT32", "exFat") and the serial. No default label.
void FillRecognisedVolume(PartInfo& part, SectorSource& deviceSrc);

// A volume the OS could not mount: above 64 MiB, its boot sector (or a
// backup) is looked for on volumeSrc (sector 0 = the volume's first sector)
// and the record's device is opened to read the label. True when a file
// system was recognised; otherwise part.fsKind stays 0.
bool ReadUnmountableVolume(SectorSource& volumeSrc, PartInfo& part);

}  // namespace kestrel
