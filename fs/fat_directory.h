#pragma once
// FAT directory entries: 8.3 entries, long-name sets (live and deleted),
// deletion marks, attributes, times and first clusters. Parsing is pure over
// a byte span; ParseFatDirectory turns the result into nodes.
#include <cstdint>
#include <vector>

#include "app/progress.h"
#include "platform/bytes.h"
#include "platform/wide_text.h"
#include "storage/part_info.h"

namespace kestrel {

enum FatAttribute : uint8_t {
    kFatAttrReadOnly = 0x01,
    kFatAttrHidden = 0x02,
    kFatAttrSystem = 0x04,
    kFatAttrVolumeLabel = 0x08,
    kFatAttrDirectory = 0x10,
    kFatAttrArchive = 0x20,
    kFatAttrLongName = 0x0F,
};

constexpr uint8_t kFatDeletedMark = 0xE5;
constexpr uint32_t kFatEntryBytes = 32;
constexpr uint32_t kFatMaxLongNameParts = 20;
constexpr uint8_t kFatDirTypeId = 231;

// One entry that becomes a node.
struct FatDirEntry {
    WString name;
    uint8_t attributes = 0;
    bool deleted = false;
    uint32_t firstCluster = 0;
    uint32_t size = 0;
    uint32_t created = 0;   // PackedTime
    uint32_t modified = 0;  // PackedTime
    bool IsDirectory() const { return (attributes & kFatAttrDirectory) != 0; }
};

// Checksum of an 11-byte short name that long-name entries carry.
uint8_t FatShortNameChecksum(const uint8_t* name11);

// The entries of one directory buffer that make nodes, in order. wideClusters:
// the first cluster includes the high 16 bits (FAT32 and found FAT directories).
std::vector<FatDirEntry> ParseFatEntries(ByteView entries, bool wideClusters);

// Adds a node (linkNow false) for every entry of the buffer under parentId and
// counts it in the phase-1 snapshot. Returns the number of nodes added.
uint32_t ParseFatDirectory(PartInfo& part, const uint8_t* entries, uint32_t bytes,
                           ProgressSnapshot& progress, uint32_t parentId);

}  // namespace kestrel
