#include "scan/sector_classifier.h"

#include <array>
#include <cstring>

#include "fs/fat_sector_test.h"
#include "fs/ntfs_record_summary.h"
#include "platform/bytes.h"
#include "scan/block_schedule.h"
#include "scan/scan_catalogue.h"
#include "storage/boot_sector.h"
#include "storage/sector_source.h"

namespace kestrel {
namespace {

constexpr uint32_t kFileMagic = 0x454C4946;  // "FILE"
constexpr uint32_t kIndxMagic = 0x58444E49;  // "INDX"
// The largest NTFS index record; walking further cannot stay in one block of
// entries, and an unbounded walk over hostile data would cost O(block) per sector.
constexpr size_t kMaxIndexWalk = 0x10000;

bool IsPartitionTable(ByteView s) {
    for (size_t e = 446; e < 510; e += 16) {
        const uint8_t boot = s.U8(e);
        const uint8_t type = s.U8(e + 4);
        if ((boot == 0 || boot == 0x80) && type >= 1 && type <= 0x1C && s.U32(e + 8) != 0 &&
            s.U32(e + 12) >= 0x4000)
            return true;
    }
    return false;
}

bool IsPlausibleFileRecord(ByteView s) {
    if (s.U16(0x14) != 0x38 || s.U32(0x1C) != 1024) return false;
    const uint32_t used = s.U32(0x18);
    if (used > 1024 || used % 8 != 0) return false;
    const uint32_t first = s.U32(0x38);
    return first == 0x10 || first == 0x20 || first == 0x30 || first == 0x50 || first == 0x80 ||
           first == 0xFFFFFFFF;
}

// An exFAT volume-label entry: at most 15 non-zero characters, zero after them.
bool IsLabelEntry(ByteView e) {
    const uint8_t count = e.U8(1);
    if (count > 15) return false;
    for (size_t i = 0; i < count; ++i)
        if (e.U16(2 + 2 * i) == 0) return false;
    for (size_t i = 2 + 2 * size_t(count); i < 32; ++i)
        if (e.U8(i) != 0) return false;
    return true;
}

bool IsExfatRootDir(ByteView s) {
    const uint8_t t0 = s.U8(0);
    if (t0 != 0x83 && t0 != 0x03) return false;
    if (!IsLabelEntry(s.Sub(0, 32))) return false;
    // The character count must be below 16 and, for a named volume, its
    // characters present: IsLabelEntry checks both.
    if (s.U8(32) != 0x81 || s.U8(64) != 0x82) return false;
    return PassesExfatEntrySetTest(s.data(), 3);
}

constexpr bool IsExfatDirStart(uint8_t t) {
    return t == 0x03 || t == 0x05 || t == 0x40 || t == 0x41 || t == 0x83 || t == 0x85 ||
           t == 0xC0 || t == 0xC1;
}

// The first bytes of the structures tested after the boot signature: "FILE",
// "INDX", the "." entry of a FAT subdirectory and the exFAT entry types a
// directory sector can open with. A FAT root directory starts with its label
// and is told by byte 11 instead; the GPT header only counts at LBA 1.
constexpr std::array<bool, 256> MayStartStructure() {
    std::array<bool, 256> t{};
    for (uint8_t b : {uint8_t('F'), uint8_t('I'), uint8_t('.')}) t[b] = true;
    for (uint32_t b = 0; b < 256; ++b) t[b] = t[b] || IsExfatDirStart(uint8_t(b));
    return t;
}
constexpr std::array<bool, 256> kMayStartStructure = MayStartStructure();

}  // namespace

bool PassesExfatEntrySetTest(const uint8_t* sector, uint32_t first) {
    enum { kNone, kAfterFile, kInSet } state = kNone;
    uint32_t remaining = 0;
    bool complete = false;
    const ByteView s(sector, 512);
    for (uint32_t i = first; i < 16; ++i) {
        const ByteView e = s.Sub(size_t(i) * 32, 32);
        const uint8_t t = e.U8(0);
        switch (t) {
            case 0x00:
                return complete;
            case 0x03:
            case 0x83:
                if (state != kNone || !IsLabelEntry(e)) return false;
                break;
            case 0x05:
            case 0x85:
                if (state != kNone) return false;
                state = kAfterFile;
                remaining = e.U8(1);
                break;
            case 0x40:
            case 0xC0:
                if (state == kInSet) return false;
                if (state == kAfterFile) {
                    // A set without secondaries has no room for its stream
                    // extension; one without a name never completes.
                    if (remaining == 0) return false;
                    --remaining;
                    state = kInSet;
                }
                break;
            case 0x41:
            case 0xC1:
                if (state == kAfterFile) return false;
                if (state == kInSet) {
                    if (remaining == 0) return false;
                    if (--remaining == 0) {
                        complete = true;
                        state = kNone;
                    }
                }
                break;
            default:
                return false;
        }
    }
    return complete;
}

uint32_t ClassifySector(const uint8_t* sector, uint64_t lba) {
    // Most sectors of a disk are file data: one that ends without the boot
    // signature, starts with no byte a structure below can start with, and
    // has no directory attribute where a volume-label entry keeps it cannot
    // pass any test, so it costs a few loads instead of the whole chain.
    if ((sector[510] != 0x55 || sector[511] != 0xAA) && !kMayStartStructure[sector[0]] &&
        sector[11] != 0x08 && lba != 1)
        return kCodeNothing;
    const ByteView s(sector, 512);
    if (s.U8(510) == 0x55 && s.U8(511) == 0xAA) {
        if (IsNtfsBoot(sector)) return kCodeNtfsBoot;
        if (IsFat16Boot(sector)) return kCodeFat16Boot;
        if (IsFat32Boot(sector)) return kCodeFat32Boot;
        if (IsExfatBoot(sector)) return kCodeExfatBoot;
        if (IsPartitionTable(s)) return lba == 0 ? kCodeMbr : kCodeEbr;
        return kCodeNothing;
    }
    const uint32_t magic = s.U32(0);
    if (magic == kFileMagic) return IsPlausibleFileRecord(s) ? kCodeFileRecord : kCodeNothing;
    if (IsFatSubdirSector(s)) return kCodeFatDir;
    if (magic == kIndxMagic) return kCodeIndexBlock;
    if (IsFatRootDirSector(s)) return kCodeFatRootDir;
    if (IsExfatRootDir(s)) return kCodeExfatRootDir;
    if (IsExfatDirStart(s.U8(0)) && PassesExfatEntrySetTest(sector, 0)) return kCodeExfatDir;
    if (lba == 1 && s.Equals(0, "EFI PART", 8)) return kCodeGptHeader;
    return kCodeNothing;
}

bool IndexBlockDirectory(const uint8_t* block, size_t bytes, uint32_t& directoryRecord) {
    if (bytes > kMaxIndexWalk) bytes = kMaxIndexWalk;
    const ByteView v(block, bytes);
    const uint64_t firstEntry = v.U32(0x18);
    if (bytes < 0x18 || firstEntry > bytes - 0x18) return false;
    size_t off = 0x18 + size_t(firstEntry);
    while (v.Has(off, 16)) {
        const uint16_t len = v.U16(off + 8);
        const uint32_t flags = v.U32(off + 12);
        if (flags > 1 || len == 0 || !v.Has(off, len)) return false;
        // Entry header (16 bytes), then the file-name value: name length at
        // 0x40 and namespace at 0x41 of the value.
        if (len >= 16 + 0x42) {
            const uint8_t nameLen = v.U8(off + 16 + 0x40);
            const uint8_t ns = v.U8(off + 16 + 0x41);
            if ((ns == 1 || ns == 3) && nameLen != 0) {
                directoryRecord = v.U32(off + 16);
                return true;
            }
        }
        off += len;
    }
    return false;
}

std::optional<FoundItem> MakeItem(uint32_t code, const ItemContext& ctx) {
    const size_t sectorOffset = size_t(ctx.sectorIndex) * 512;
    if (!ctx.blockData || sectorOffset > ctx.blockBytes || ctx.blockBytes - sectorOffset < 512)
        return std::nullopt;
    const uint8_t* sector = ctx.blockData + sectorOffset;
    FoundItem item;
    item.type = uint8_t(code);
    item.lba = ctx.blockLba + ctx.sectorIndex;
    switch (code) {
        case kCodeMbr:
        case kCodeEbr:
        case kCodeNtfsBoot:
        case kCodeFat16Boot:
        case kCodeFat32Boot:
        case kCodeExfatBoot:
            item.data = CopySectorPayload(sector);
            return item;
        case kCodeFileRecord: {
            uint8_t record[1024];
            if (ctx.blockBytes - sectorOffset >= 1024) {
                std::memcpy(record, sector, 1024);
            } else {
                // The record's second half lies in the next block: read it whole.
                if (!ctx.scanned) return std::nullopt;
                ScopedSource src;
                if (!OpenSourceFromPart(*ctx.scanned, *src) ||
                    !ReadSectors(*src, 2, record, item.lba))
                    return std::nullopt;
            }
            std::optional<FileRecordSummary> s = BuildFileRecordSummary(ByteView(record, 1024));
            if (!s) return std::nullopt;
            item.data = new FileRecordSummary(std::move(*s));
            return item;
        }
        case kCodeIndexBlock: {
            uint32_t dir = 0;
            if (!IndexBlockDirectory(sector, ctx.blockBytes - sectorOffset, dir))
                return std::nullopt;
            item.payload = dir;
            return item;
        }
        case kCodeFatDir: {
            const FatSubdirClusters c = ReadFatSubdirClusters(ByteView(sector, 512));
            item.payload = c.own;
            item.extra = c.parent;
            return item;
        }
        case kCodeGptHeader: {
            // Entries are only worth reading when the read order follows them.
            if (ctx.schedule && ctx.schedule->smartScan && ctx.scanned) {
                uint8_t entries[4 * 512];
                ScopedSource src;
                if (OpenSourceFromPart(*ctx.scanned, *src) && ReadSectors(*src, 4, entries, 2)) {
                    const ByteView v(entries, sizeof entries);
                    for (size_t e = 0; e < 16; ++e) {
                        const uint64_t start = v.U64(e * 128 + 32);
                        if (start != 0) PrioritiseBlock(*ctx.schedule, start);
                    }
                }
            }
            return item;
        }
        case kCodeFatRootDir:
        case kCodeExfatRootDir:
        case kCodeExfatDir:
            return item;
        default:
            return std::nullopt;
    }
}

}  // namespace kestrel
