#include "fs/exfat_entries.h"

#include <algorithm>

#include "app/packed_time.h"

namespace kestrel {

namespace {

// A date word of 0 has no day or month: the entry holds no time.
uint32_t EntryTime(ByteView e, size_t off) {
    const uint16_t time = e.U16(off);
    const uint16_t date = e.U16(off + 2);
    return date == 0 ? 0 : PackedTimeFromDos(date, time);
}

struct OpenSet {
    bool active = false;
    uint32_t expected = 0;  // secondary entries still expected
    uint8_t nameLength = 0;
    bool nameEnded = false;
    ExfatEntrySet set;
};

void AppendNameChars(OpenSet& open, ByteView e) {
    for (size_t k = 0; k < 15 && !open.nameEnded; ++k) {
        const char16_t c = char16_t(e.U16(2 + 2 * k));
        if (c == 0 || open.set.name.size() >= kExfatMaxNameChars) {
            open.nameEnded = true;
            break;
        }
        open.set.name.push_back(c);
    }
}

}  // namespace

std::vector<ExfatEntrySet> ParseExfatEntrySets(ByteView entries, uint64_t maxEntries) {
    std::vector<ExfatEntrySet> sets;
    const uint64_t count = std::min<uint64_t>(maxEntries, entries.size() / kExfatEntryBytes);
    OpenSet open;
    for (uint64_t i = 0; i < count; ++i) {
        const ByteView e = entries.Sub(size_t(i) * kExfatEntryBytes, kExfatEntryBytes);
        const uint8_t type = e.U8(0);
        if (type == kExfatEndOfDirectory) break;
        switch (type) {
            case kExfatFileEntry:
            case kExfatDeletedFileEntry:
                open = OpenSet{};
                open.active = true;
                open.expected = e.U8(1);
                open.set.live = type == kExfatFileEntry;
                open.set.attributes = e.U16(4);
                open.set.created = EntryTime(e, 8);
                open.set.modified = EntryTime(e, 12);
                break;
            case kExfatStreamEntry:
            case kExfatDeletedStreamEntry:
                if (!open.active) break;
                open.set.hasStream = true;
                open.set.noFatChain = (e.U8(1) & kExfatStreamNoFatChain) != 0;
                open.nameLength = e.U8(3);
                open.set.validLength = e.U64(8);
                open.set.firstCluster = e.U32(0x14);
                if (open.expected > 0) --open.expected;
                break;
            case kExfatNameEntry:
            case kExfatDeletedNameEntry: {
                if (!open.active) break;
                AppendNameChars(open, e);
                if (open.expected > 1) {
                    --open.expected;
                    break;
                }
                // The last expected name entry completes the set.
                open.active = false;
                ExfatEntrySet& s = open.set;
                // The stream's name length is exact; characters past it are padding.
                if (open.nameLength != 0 && s.name.size() > open.nameLength)
                    s.name.resize(open.nameLength);
                if (!s.name.empty()) sets.push_back(std::move(s));
                break;
            }
            default:
                break;
        }
    }
    return sets;
}

bool FindExfatBitmapEntry(ByteView rootSector, ExfatBitmapLocation& out) {
    for (size_t off = 0; rootSector.Has(off, kExfatEntryBytes); off += kExfatEntryBytes) {
        if (rootSector.U8(off) != kExfatBitmapEntry) continue;
        out.firstCluster = rootSector.U32(off + 0x14);
        out.dataLength = rootSector.U64(off + 0x18);
        return true;
    }
    return false;
}

}  // namespace kestrel
