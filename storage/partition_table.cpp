#include "storage/partition_table.h"

#include <cstdio>
#include <cstring>

namespace kestrel {

bool HasMbrSignature(const uint8_t* sector) { return sector[510] == 0x55 && sector[511] == 0xAA; }

bool IsExtendedType(uint8_t partType) { return partType == 0x05 || partType == 0x0F; }

MbrSlot ParseMbrSlot(const uint8_t* entry) {
    const ByteView e(entry, kMbrEntryBytes);
    MbrSlot s;
    s.type = e.U8(4);
    s.start = e.U32(8);
    s.length = e.U32(12);
    return s;
}

bool ParseGptHeader(const uint8_t* sector, GptHeader& out) {
    const ByteView h(sector, 512);
    if (!h.Equals(0, "EFI PART", 8)) return false;
    const uint32_t headerSize = h.U32(12);
    if (headerSize < 92 || headerSize > 512) return false;
    out.entriesLba = h.U64(72);
    out.entryCount = h.U32(80);
    out.entryBytes = h.U32(84);
    return out.entryBytes >= 128 && out.entryBytes <= 4096 && out.entryBytes % 8 == 0;
}

std::vector<GptPartition> ParseGptEntries(ByteView array, uint32_t entryCount,
                                          uint32_t entryBytes) {
    std::vector<GptPartition> out;
    if (entryBytes < 128) return out;
    for (uint64_t i = 0; i < entryCount; ++i) {
        const ByteView e = array.Sub(size_t(i * entryBytes), entryBytes);
        if (e.empty()) break;                          // the array ends early
        if (e.U64(0) == 0 && e.U64(8) == 0) continue;  // unused slot
        GptPartition p;
        p.firstLba = e.U64(32);
        p.lastLba = e.U64(40);
        std::memcpy(p.typeGuid, e.data(), 16);
        if (p.firstLba <= p.lastLba) out.push_back(p);
    }
    return out;
}

std::string GuidText(const uint8_t g[16]) {
    char text[40];
    std::snprintf(text, sizeof text,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                  g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14],
                  g[15]);
    return text;
}

}  // namespace kestrel
