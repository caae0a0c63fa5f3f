#include "fs/fat_sector_test.h"

namespace kestrel {

bool IsPlausibleFatSector(ByteView sector, FatWidth width) {
    if (!sector.Has(0, 512)) return false;
    uint32_t plausible = 0;
    if (width == FatWidth::Fat32) {
        if (sector.U32(0) != 0x0FFFFFF8) return false;
        for (uint32_t k = 2; k < 128; ++k) {
            const uint32_t e = sector.U32(k * 4);
            if (e == 0 || e == 0x0FFFFFFF || e == k + 1) ++plausible;
        }
        return plausible > 96;
    }
    if (sector.U16(0) != 0xFFF8) return false;
    // End-of-chain marks are not counted here: a FAT16 sector full of them
    // is as likely to be some other table of 0xFFFF words.
    for (uint32_t k = 2; k < 256; ++k) {
        const uint32_t e = sector.U16(k * 2);
        if (e == 0 || e == k + 1) ++plausible;
    }
    return plausible > 192;
}

bool IsFatSubdirSector(ByteView sector) {
    return sector.Equals(0, ".   ", 4) && sector.Equals(32, "..  ", 4);
}

FatSubdirClusters ReadFatSubdirClusters(ByteView sector) {
    FatSubdirClusters c;
    c.own = (uint32_t(sector.U16(0x14)) << 16) | sector.U16(0x1A);
    c.parent = (uint32_t(sector.U16(0x34)) << 16) | sector.U16(0x3A);
    return c;
}

namespace {

// Volume labels are OEM text: printable ASCII, a few control characters, or
// two-byte GBK pairs (a lead byte in the last position may stand alone).
bool IsLabelText(ByteView name) {
    for (size_t i = 0; i < 11; ++i) {
        const uint8_t b = name.U8(i);
        if (b == '\t' || b == '\n' || b == '\r' || (b >= 0x20 && b <= 0x7E)) continue;
        if (b == 0) return false;
        if (i == 10) {
            if (b >= 0x80) continue;
            return false;
        }
        const uint16_t pair = name.U16(i);
        if (pair < 0xA1A1 || pair > 0xFEFE) return false;
        ++i;
    }
    return true;
}

bool AllZero(ByteView v, size_t from, size_t to) {
    for (size_t i = from; i <= to; ++i)
        if (v.U8(i) != 0) return false;
    return true;
}

}  // namespace

bool IsFatRootDirSector(ByteView sector) {
    if (!sector.Has(0, 512)) return false;
    if (sector.U32(16) != 0 || sector.U32(28) != 0) return false;
    if (sector.U8(11) != 0x08) return false;
    if (!AllZero(sector, 13, 21) || !AllZero(sector, 26, 31)) return false;
    return IsLabelText(sector.Sub(0, 11));
}

}  // namespace kestrel
