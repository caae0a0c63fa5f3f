#pragma once
// Volume labels as each file system stores them: the FAT root directory's
// label entry, the exFAT root directory's label entry, and the NTFS
// $Volume record's $VOLUME_NAME attribute. Parse functions work on bytes;
// the Read functions fetch the bytes through a sector source first.
#include <cstddef>
#include <cstdint>

#include "platform/bytes.h"
#include "storage/part_info.h"
#include "storage/sector_source.h"

namespace kestrel {

// The label of a FAT root-directory sector whose first entry is the volume
// label: its 11 name bytes without trailing blanks, decoded from GBK.
bool ParseFatLabelEntry(const uint8_t* sector, WString& label);
// The first label entry (0x83) of an exFAT directory with fewer than 16 characters.
bool ParseExfatLabel(ByteView directory, WString& label);
// The $VOLUME_NAME value of a fixed-up $Volume FILE record; true when not empty.
bool ParseNtfsVolumeName(ByteView record, WString& label);

// Absolute LBA of a FAT volume's root directory from part.bootSector and
// part.fsKind (10 or 11); false when the geometry cannot describe one.
bool FatRootDirLba(const PartInfo& part, uint64_t& lba);

// Each fills part.label and reports whether a label was found.
bool ReadFatLabel(PartInfo& part, SectorSource& src);
bool ReadExfatLabel(PartInfo& part, SectorSource& src);
// Record 3 of the MFT lies six sectors after its first sector (1 KiB records).
bool ReadNtfsVolumeLabel(PartInfo& part, SectorSource& src);
// Opens part's device itself.
bool ReadNtfsVolumeLabel(PartInfo& part);
// The reader of part.fsKind (NTFS, FAT or exFAT); false for other kinds.
bool ReadLabelOfKind(PartInfo& part, SectorSource& src);

}  // namespace kestrel
