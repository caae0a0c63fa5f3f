#pragma once
// The on-disk partition tables: the MBR and the extended boot records of
// its extended chain, and the GUID partition table. Pure parsing of one
// sector or one entry array; image_partitions walks them on a source.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"

namespace kestrel {

constexpr size_t kMbrTableOffset = 446;
constexpr size_t kMbrEntryBytes = 16;
constexpr uint8_t kProtectiveMbrType = 0xEE;

// 0x55 0xAA at the end of the sector.
bool HasMbrSignature(const uint8_t* sector);
// Types 0x05 and 0x0F mark the container of the logical partitions.
bool IsExtendedType(uint8_t partType);
// The 16 bytes of table slot 0..3.
inline const uint8_t* MbrEntry(const uint8_t* sector, int slot) {
    return sector + kMbrTableOffset + kMbrEntryBytes * size_t(slot);
}

struct MbrSlot {
    uint8_t type = 0;
    uint32_t start = 0;  // relative to the table's base
    uint32_t length = 0;
};
MbrSlot ParseMbrSlot(const uint8_t* entry);

struct GptHeader {
    uint64_t entriesLba = 0;
    uint32_t entryCount = 0;
    uint32_t entryBytes = 0;
};
// "EFI PART", a sane header size and an entry size of 128..4096 bytes, a
// multiple of 8. The entry count is not bounded here.
bool ParseGptHeader(const uint8_t* sector, GptHeader& out);

struct GptPartition {
    uint64_t firstLba = 0;
    uint64_t lastLba = 0;  // inclusive
    uint8_t typeGuid[16] = {};
};
// The usual text form of a GUID as stored on disk (first three fields
// little-endian): "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7".
std::string GuidText(const uint8_t guid[16]);
// The used entries (non-zero type GUID, first <= last) of an entry array.
std::vector<GptPartition> ParseGptEntries(ByteView array, uint32_t entryCount, uint32_t entryBytes);

}  // namespace kestrel
