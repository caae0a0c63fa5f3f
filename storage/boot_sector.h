#pragma once
// Recognition of NTFS, FAT16, FAT32 and exFAT boot sectors, the partition
// type byte -> file-system kind table, and the volume serial number. The
// tests are pure functions over one 512-byte sector; the deep scan's
// sector classifier runs the same four tests on every sector it reads.
#include <cstdint>

#include "storage/part_info.h"
#include "storage/sector_source.h"

namespace kestrel {

// Each takes exactly 512 bytes.
bool IsNtfsBoot(const uint8_t* sector);
bool IsFat16Boot(const uint8_t* sector);
bool IsFat32Boot(const uint8_t* sector);
bool IsExfatBoot(const uint8_t* sector);

// A looser test for volume images made by other systems' tools, which
// leave the media byte and the disk geometry as they please: the signature,
// a valid sector and cluster size and the file system's own name in the
// boot sector ("NTFS    ", "EXFAT   ", "FAT32   ", "FAT16   ", "FAT12   "). Returns the
// kind or 0. Not for scanning raw sectors: it would take too much for a
// boot sector there.
uint32_t NamedVolumeKind(const uint8_t* sector);

// True when bytes 3..7 of the boot sector read "EXFAT" (the OEM name).
bool HasExfatName(const uint8_t* sector);

// Kind of a partition-table entry from its type byte; type 7 is shared by
// NTFS and exFAT and is told apart by the boot sector's OEM name.
uint32_t FsKindFromPartType(uint8_t partType, const uint8_t* bootSector);

// Serial number from part.bootSector, chosen by part.partType (and fsKind).
void SetSerialFromBoot(PartInfo& part);

// Finds the file system of a volume from its boot sector or one of the
// backups: sector 0, the FAT32 backup at 6, the NTFS backup at the last
// sector (part.sizeSectors - 1), the exFAT backup region at 12. Sector
// numbers are relative to baseLba on src. Returns the kind code and copies
// the sector that passed into part.bootSector, or returns 0 (kFsUnknown).
uint32_t IdentifyVolumeFs(SectorSource& src, PartInfo& part, uint64_t baseLba = 0);

// The file-system name a record gets when the system itself recognised the
// volume: "NTFS", "FAT16", "FAT32", "exFat"; empty for other kinds.
const char16_t* FsNameForKind(uint32_t fsKind);

}  // namespace kestrel
