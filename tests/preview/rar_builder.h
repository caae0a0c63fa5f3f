#pragma once
// RAR 1.5-4.x archives built block by block for the listing tests. No RAR
// writer is packaged in Debian main, so the tests make their own: marker
// block, archive header, one file block per member (with its packed bytes)
// and the end-of-archive block, each header with its CRC16.
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"

namespace kestrel::test {

struct RarMember {
    std::string name;  // bytes as stored (ANSI, or ANSI NUL Unicode with 0x200)
    uint32_t packed = 0;
    uint32_t unpacked = 0;
    uint32_t dosTime = 0;  // date in the high, time in the low word
    uint16_t flags = 0;    // 0x100: 64-bit sizes follow; 0x200: Unicode name
};

constexpr uint32_t DosTime(unsigned year, unsigned month, unsigned day, unsigned hour,
                           unsigned minute) {
    return (year - 1980) << 25 | month << 21 | day << 16 | hour << 11 | minute << 5;
}

// Blocks and where each starts, so tests can damage a chosen one.
struct RarArchive {
    std::vector<uint8_t> bytes;
    std::vector<size_t> blockStarts;
};

inline void AppendRarBlock(RarArchive& rar, std::vector<uint8_t> header) {
    StoreU16(header.data() + 5, uint16_t(header.size()));
    const uLong crc = crc32(0, header.data() + 2, uInt(header.size() - 2));
    StoreU16(header.data(), uint16_t(crc));
    rar.blockStarts.push_back(rar.bytes.size());
    rar.bytes.insert(rar.bytes.end(), header.begin(), header.end());
}

inline RarArchive BuildRar(const std::vector<RarMember>& members, bool endBlock = true) {
    RarArchive rar;
    const uint8_t marker[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
    rar.blockStarts.push_back(0);
    rar.bytes.assign(std::begin(marker), std::end(marker));
    AppendRarBlock(rar, std::vector<uint8_t>{0, 0, 0x73, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    for (const RarMember& m : members) {
        const bool large = m.flags & 0x100;
        std::vector<uint8_t> h(32 + (large ? 8 : 0) + m.name.size());
        h[2] = 0x74;
        StoreU16(h.data() + 3, uint16_t(0x8000 | m.flags));
        StoreU32(h.data() + 7, m.packed);
        StoreU32(h.data() + 11, m.unpacked);
        h[15] = 2;  // written on Windows
        StoreU32(h.data() + 20, m.dosTime);
        h[24] = 29;
        h[25] = 0x33;
        StoreU16(h.data() + 26, uint16_t(m.name.size()));
        StoreU32(h.data() + 28, 0x20);
        // With 64-bit sizes the high halves come before the name.
        std::copy(m.name.begin(), m.name.end(), h.begin() + 32 + (large ? 8 : 0));
        AppendRarBlock(rar, std::move(h));
        rar.bytes.insert(rar.bytes.end(), m.packed, uint8_t(0xA5));
    }
    if (endBlock) AppendRarBlock(rar, std::vector<uint8_t>{0, 0, 0x7B, 0x00, 0x40, 0, 0});
    return rar;
}

}  // namespace kestrel::test
