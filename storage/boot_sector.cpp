#include "storage/boot_sector.h"

#include <cstring>

#include "platform/bytes.h"

namespace kestrel {

namespace {

ByteView Sector(const uint8_t* sector) { return ByteView(sector, kSectorSize); }

bool HasSignature(ByteView s) { return s.U8(510) == 0x55 && s.U8(511) == 0xAA; }

bool HasJump(ByteView s) { return s.U8(0) == 0xEB || s.U8(2) == 0x90; }

bool ValidBytesPerSector(ByteView s) {
    const uint16_t bps = s.U16(11);
    return bps == 512 || bps == 1024 || bps == 2048 || bps == 4096;
}

bool ValidSectorsPerCluster(ByteView s) {
    const uint8_t spc = s.U8(13);
    return spc != 0 && (spc & (spc - 1)) == 0;  // 1, 2, 4 .. 128
}

bool FixedMediaAndGeometry(ByteView s) {
    return s.U8(21) == 0xF8 && (s.U16(24) == 63 || s.U16(26) == 255);
}

bool ValidFatCount(ByteView s) { return s.U8(16) == 1 || s.U8(16) == 2; }

bool IsFat16Type(uint8_t t) {
    return t == 0x04 || t == 0x06 || t == 0x0E || t == 0x14 || t == 0x16 || t == 0x1E;
}
bool IsFat32Type(uint8_t t) { return t == 0x0B || t == 0x0C || t == 0x1B || t == 0x1C; }

}  // namespace

bool IsNtfsBoot(const uint8_t* sector) {
    const ByteView s = Sector(sector);
    return HasSignature(s) && HasJump(s) && ValidBytesPerSector(s) && ValidSectorsPerCluster(s) &&
           FixedMediaAndGeometry(s) && s.U8(64) == 0xF6;
}

bool IsFat16Boot(const uint8_t* sector) {
    const ByteView s = Sector(sector);
    return HasSignature(s) && HasJump(s) && ValidBytesPerSector(s) && ValidSectorsPerCluster(s) &&
           FixedMediaAndGeometry(s) && ValidFatCount(s) && s.Equals(54, "FAT1", 4) &&
           s.U8(58) == '6';
}

bool IsFat32Boot(const uint8_t* sector) {
    const ByteView s = Sector(sector);
    return HasSignature(s) && s.Equals(82, "FAT3", 4) && s.U8(86) == '2' &&
           (s.U8(0) == 0xEB || s.U8(0) == 0xE9) && ValidBytesPerSector(s) &&
           ValidSectorsPerCluster(s) && ValidFatCount(s) && FixedMediaAndGeometry(s);
}

bool IsExfatBoot(const uint8_t* sector) {
    const ByteView s = Sector(sector);
    return HasSignature(s) && HasJump(s) && HasExfatName(sector) && s.U8(108) == 9 &&
           s.U8(109) <= 16;
}

uint32_t NamedVolumeKind(const uint8_t* sector) {
    const ByteView s = Sector(sector);
    if (!HasSignature(s)) return kFsUnknown;
    if (s.Equals(3, "EXFAT   ", 8))
        return s.U8(108) == 9 && s.U8(109) <= 16 ? kFsExfat : kFsUnknown;
    if (!ValidBytesPerSector(s) || !ValidSectorsPerCluster(s)) return kFsUnknown;
    if (s.Equals(3, "NTFS    ", 8)) return kFsNtfs;
    if (!ValidFatCount(s)) return kFsUnknown;
    if (s.Equals(82, "FAT32   ", 8)) return kFsFat32;
    if (s.Equals(54, "FAT16   ", 8)) return kFsFat16;
    // FAT12 volumes share the FAT16 kind, as a mounted FAT12 volume does.
    if (s.Equals(54, "FAT12   ", 8)) return kFsFat16;
    return kFsUnknown;
}

bool HasExfatName(const uint8_t* sector) { return std::memcmp(sector + 3, "EXFAT", 5) == 0; }

uint32_t FsKindFromPartType(uint8_t partType, const uint8_t* bootSector) {
    if (IsFat16Type(partType)) return kFsFat16;
    if (IsFat32Type(partType)) return kFsFat32;
    if (partType == 0x07) return HasExfatName(bootSector) ? kFsExfat : kFsNtfs;
    if (partType == 0x17) return kFsNtfs;
    return kFsUnknown;
}

void SetSerialFromBoot(PartInfo& part) {
    const ByteView s = Sector(part.bootSector);
    const uint8_t t = part.partType;
    const bool exfatName = HasExfatName(part.bootSector);
    if (IsFat16Type(t))
        part.serial = s.U32(39);
    else if (IsFat32Type(t))
        part.serial = s.U32(67);
    else if (t == 0x07)
        part.serial = exfatName ? s.U32(100) : s.U32(72);
    else if (t == 0x17)
        part.serial = s.U32(72);
    else
        part.serial = part.fsKind == kFsExfat && exfatName ? s.U32(100) : 0;
}

uint32_t IdentifyVolumeFs(SectorSource& src, PartInfo& part, uint64_t baseLba) {
    uint8_t sec[kSectorSize];
    auto read = [&](uint64_t rel) {
        return rel <= UINT64_MAX - baseLba && ReadSectors(src, 1, sec, baseLba + rel);
    };
    auto take = [&](uint32_t kind) {
        std::memcpy(part.bootSector, sec, kSectorSize);
        return kind;
    };
    if (read(0)) {
        if (IsFat16Boot(sec)) return take(kFsFat16);
        if (IsFat32Boot(sec)) return take(kFsFat32);
        if (IsNtfsBoot(sec)) return take(kFsNtfs);
        if (IsExfatBoot(sec)) return take(kFsExfat);
    }
    if (read(6)) {
        if (IsFat32Boot(sec)) return take(kFsFat32);
        if (IsFat16Boot(sec)) return take(kFsFat16);
    }
    // Without a size there is no last sector to look at.
    if (part.sizeSectors != 0 && read(part.sizeSectors - 1) && IsNtfsBoot(sec))
        return take(kFsNtfs);
    if (read(12) && IsExfatBoot(sec)) return take(kFsExfat);
    return kFsUnknown;
}

const char16_t* FsNameForKind(uint32_t fsKind) {
    switch (fsKind) {
        case kFsNtfs:
            return u"NTFS";
        case kFsFat16:
            return u"FAT16";
        case kFsFat32:
            return u"FAT32";
        case kFsExfat:
            return u"exFat";
        default:
            return u"";
    }
}

}  // namespace kestrel
