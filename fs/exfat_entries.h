#pragma once
// exFAT directory entry sets: a file entry (0x85, deleted 0x05), its stream
// extension (0xC0 / 0x40) and its name entries (0xC1 / 0x41). Parsing is pure
// over a byte span of whole 32-byte entries.
#include <cstdint>
#include <vector>

#include "platform/bytes.h"
#include "platform/wide_text.h"

namespace kestrel {

constexpr uint32_t kExfatEntryBytes = 32;
constexpr uint32_t kExfatMaxNameChars = 260;

enum ExfatEntryType : uint8_t {
    kExfatEndOfDirectory = 0x00,
    kExfatFileEntry = 0x85,
    kExfatDeletedFileEntry = 0x05,
    kExfatStreamEntry = 0xC0,
    kExfatDeletedStreamEntry = 0x40,
    kExfatNameEntry = 0xC1,
    kExfatDeletedNameEntry = 0x41,
    kExfatBitmapEntry = 0x81,
};

constexpr uint16_t kExfatAttrDirectory = 0x10;
// Stream extension flag: the data occupies consecutive clusters and the FAT
// holds nothing for it.
constexpr uint8_t kExfatStreamNoFatChain = 0x02;

// One complete entry set.
struct ExfatEntrySet {
    bool live = false;
    uint16_t attributes = 0;
    uint32_t created = 0;   // PackedTime, 0 when the entry holds no date
    uint32_t modified = 0;  // PackedTime
    bool hasStream = false;
    bool noFatChain = false;
    uint32_t firstCluster = 0;
    uint64_t validLength = 0;
    WString name;
    bool IsDirectory() const { return (attributes & kExfatAttrDirectory) != 0; }
};

// The complete entry sets among the first maxEntries entries of a directory
// buffer, in order, up to the end-of-directory entry. A set ends with its
// last expected name entry; a set that is cut off (by the next file entry,
// the end of the directory or the end of the buffer) and a set whose name is
// empty are dropped.
std::vector<ExfatEntrySet> ParseExfatEntrySets(ByteView entries, uint64_t maxEntries);

struct ExfatBitmapLocation {
    uint32_t firstCluster = 0;
    uint64_t dataLength = 0;
};
// The first allocation-bitmap entry (0x81) among the entries of a root
// directory sector.
bool FindExfatBitmapEntry(ByteView rootSector, ExfatBitmapLocation& out);

}  // namespace kestrel
