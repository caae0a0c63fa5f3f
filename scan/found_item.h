#pragma once
// FoundItem: the record of one thing the deep scan found, and the structure
// codes the classifier gives. The on-disk form (18 packed bytes, or an item
// record of the scan-state file) is written by the code that saves it; in
// memory the payload allocation is held as a pointer next to the two u32
// values, so the record stays valid on 64-bit builds.
#include <cstdint>

namespace kestrel {

enum StructureCode : uint8_t {
    kCodeMbr = 221,
    kCodeEbr = 222,
    kCodeNtfsBoot = 223,
    kCodeFileRecord = 224,
    kCodeIndexBlock = 225,
    kCodeFat16Boot = 226,
    kCodeFat16Table = 227,  // name only, never produced
    kCodeFat32Boot = 228,
    kCodeFat32Table = 229,  // name only, never produced
    kCodeFat32Info = 230,   // name only, never produced
    kCodeFatDir = 231,
    kCodeFatRootDir = 232,
    kCodeExfatBoot = 233,
    kCodeExfatRootDir = 234,
    kCodeExfatDir = 235,
    kCodeGptHeader = 236,
    kCodeNothing = 238,
};

constexpr uint8_t kFirstSeriesKind = 200;
constexpr uint8_t kLastSeriesKind = 208;

struct FoundItem {
    uint8_t type = 0;    // file type id (< 154), structure code or series kind
    uint8_t status = 0;  // analysis status of a signature find; 0 for structures
    uint64_t lba = 0;    // absolute sector where the thing begins
    // Codes 225 and 231: their u32 value; signature finds: low half of the length.
    uint32_t payload = 0;
    // Code 231: the ".." cluster; signature finds: high half of the length.
    uint32_t extra = 0;
    // Owned allocation: a sector copy (221, 222, 223, 226, 228, 233), a file-record
    // summary (224), or a series payload of a loaded scan-state file.
    void* data = nullptr;

    uint64_t FileLength() const { return (uint64_t(extra) << 32) | payload; }
    void SetFileLength(uint64_t len) {
        payload = uint32_t(len);
        extra = uint32_t(len >> 32);
    }
};

inline bool IsStructureCode(uint32_t type) { return type >= 220 && type <= 237; }
inline bool HasSectorCopy(uint32_t type) {
    return type == kCodeMbr || type == kCodeEbr || type == kCodeNtfsBoot ||
           type == kCodeFat16Boot || type == kCodeFat32Boot || type == kCodeExfatBoot;
}

}  // namespace kestrel
