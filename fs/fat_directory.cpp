#include "fs/fat_directory.h"

#include <array>

#include "app/guarded_memory.h"
#include "app/packed_time.h"
#include "fs/file_node.h"

namespace kestrel {

uint8_t FatShortNameChecksum(const uint8_t* name11) {
    uint8_t sum = 0;
    for (int i = 0; i < 11; ++i) sum = uint8_t(((sum & 1) << 7) + (sum >> 1) + name11[i]);
    return sum;
}

namespace {

constexpr uint32_t kCharsPerPart = 13;
// Character offsets inside a long-name entry: 5 at 0x01, 6 at 0x0E, 2 at 0x1C.
constexpr std::array<uint8_t, kCharsPerPart> kLongNameCharOffsets = {
    0x01, 0x03, 0x05, 0x07, 0x09, 0x0E, 0x10, 0x12, 0x14, 0x16, 0x18, 0x1C, 0x1E};

void CopyPartChars(ByteView entry, char16_t* dst) {
    for (uint32_t c = 0; c < kCharsPerPart; ++c) dst[c] = entry.U16(kLongNameCharOffsets[c]);
}

// A long name ends at its first NUL; the 0xFFFF padding after it goes too.
WString CutAtNul(const char16_t* chars, size_t count) {
    size_t len = 0;
    while (len < count && chars[len] != 0) ++len;
    return WString(chars, len);
}

bool IsLongNameEntry(ByteView e) { return e.U8(11) == kFatAttrLongName; }

// A live long-name set starting at index first. On success longName holds the
// name and shortIndex the entry it belongs to. On failure shortIndex is the
// entry at which parsing resumes (the entries before it are skipped).
bool AssembleLiveLongName(ByteView dir, size_t first, size_t count, WString& longName,
                          size_t& shortIndex) {
    ByteView head = dir.Sub(first * kFatEntryBytes, kFatEntryBytes);
    const uint8_t seq = head.U8(0);
    const uint32_t parts = seq & 0x3F;
    if ((seq & 0x40) == 0 || parts < 1 || parts > kFatMaxLongNameParts) {
        shortIndex = first + 1;
        return false;
    }
    const uint8_t checksum = head.U8(0x0D);
    std::array<char16_t, kFatMaxLongNameParts * kCharsPerPart> chars{};
    CopyPartChars(head, &chars[(parts - 1) * kCharsPerPart]);
    for (uint32_t part = parts - 1; part >= 1; --part) {
        const size_t k = first + (parts - part);
        ByteView e = dir.Sub(k * kFatEntryBytes, kFatEntryBytes);
        if (k >= count || !IsLongNameEntry(e) || e.U8(0) != part || e.U8(0x0D) != checksum) {
            shortIndex = k;
            return false;
        }
        CopyPartChars(e, &chars[(part - 1) * kCharsPerPart]);
    }
    shortIndex = first + parts;
    if (shortIndex >= count) return false;
    ByteView s = dir.Sub(shortIndex * kFatEntryBytes, kFatEntryBytes);
    const uint8_t b0 = s.U8(0), attr = s.U8(11);
    if (b0 == 0 || b0 == kFatDeletedMark || attr == kFatAttrLongName ||
        (attr & kFatAttrVolumeLabel) != 0)
        return false;
    if (FatShortNameChecksum(s.data()) != checksum) return false;
    longName = CutAtNul(chars.data(), chars.size());
    return !longName.empty();
}

// Byte 0x0C of a short entry: set by Windows and Linux for an all-lower-case
// base name (0x08) or extension (0x10) that needs no long name.
constexpr uint8_t kLowerCaseBase = 0x08, kLowerCaseExt = 0x10;

char16_t ShortNameChar(uint8_t b, bool lower) {
    return char16_t(lower && b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b);
}

WString ShortName(ByteView e) {
    WString name;
    const uint8_t caseBits = e.U8(0x0C);
    for (size_t i = 0; i < 8 && e.U8(i) != ' '; ++i)
        name.push_back(ShortNameChar(e.U8(i), (caseBits & kLowerCaseBase) != 0));
    if (e.U8(8) != ' ') {
        name.push_back(u'.');
        for (size_t i = 8; i < 11 && e.U8(i) != ' '; ++i)
            name.push_back(ShortNameChar(e.U8(i), (caseBits & kLowerCaseExt) != 0));
    }
    return WString(name.c_str());  // a NUL byte inside the name ends it
}

bool IsRecycleBinName(const WString& name) {
    static const char16_t kName[] = u"$RECYCLE.BIN";
    if (name.size() != 12) return false;
    for (size_t i = 0; i < 12; ++i) {
        char16_t c = name[i];
        if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
        if (c != kName[i]) return false;
    }
    return true;
}

void AddEntry(ByteView e, const WString& longName, bool wideClusters,
              std::vector<FatDirEntry>& out) {
    const uint8_t attr = e.U8(11);
    if (attr == 0x00 || attr == kFatAttrVolumeLabel) return;
    FatDirEntry entry;
    entry.attributes = attr;
    entry.deleted = e.U8(0) == kFatDeletedMark;
    if (!longName.empty()) {
        entry.name = longName;
    } else {
        entry.name = ShortName(e);
        if (entry.deleted && !entry.name.empty()) entry.name[0] = u'!';
    }
    if (entry.name.empty() || entry.name == u"." || entry.name == u"..") return;
    if ((attr & kFatAttrSystem) != 0 && IsRecycleBinName(entry.name)) entry.name = u"回收站";
    const uint32_t low = e.U16(0x1A);
    entry.firstCluster = wideClusters ? ((uint32_t(e.U16(0x14)) << 16) | low) & 0x0FFFFFFF : low;
    entry.size = e.U32(0x1C);
    entry.created = PackedTimeFromDos(e.U16(0x10), e.U16(0x0E));
    entry.modified = PackedTimeFromDos(e.U16(0x18), e.U16(0x16));
    out.push_back(std::move(entry));
}

}  // namespace

std::vector<FatDirEntry> ParseFatEntries(ByteView dir, bool wideClusters) {
    std::vector<FatDirEntry> out;
    const size_t count = dir.size() / kFatEntryBytes;
    size_t i = 0;
    while (i < count) {
        ByteView e = dir.Sub(i * kFatEntryBytes, kFatEntryBytes);
        const uint8_t b0 = e.U8(0);
        if (b0 == 0) break;
        if (!IsLongNameEntry(e)) {
            AddEntry(e, WString(), wideClusters, out);
            ++i;
            continue;
        }
        if (b0 != kFatDeletedMark) {
            WString longName;
            size_t shortIndex = 0;
            if (AssembleLiveLongName(dir, i, count, longName, shortIndex)) {
                AddEntry(dir.Sub(shortIndex * kFatEntryBytes, kFatEntryBytes), longName,
                         wideClusters, out);
                i = shortIndex + 1;
            } else {
                i = shortIndex;
            }
            continue;
        }
        // A deleted set has lost its sequence numbers: take the run of deleted
        // long-name entries in reverse, the one nearest the short entry first.
        size_t run = 0;
        while (i + run < count) {
            ByteView r = dir.Sub((i + run) * kFatEntryBytes, kFatEntryBytes);
            if (!IsLongNameEntry(r) || r.U8(0) != kFatDeletedMark) break;
            ++run;
        }
        const size_t shortIndex = i + run;
        ByteView s = dir.Sub(shortIndex * kFatEntryBytes, kFatEntryBytes);
        if (shortIndex >= count || s.U8(0) != kFatDeletedMark) {
            // An orphaned run: its short entry was reused. The entries after
            // it are still good, so parsing goes on there.
            i = shortIndex;
            continue;
        }
        const size_t parts = run < kFatMaxLongNameParts ? run : kFatMaxLongNameParts;
        std::array<char16_t, kFatMaxLongNameParts * kCharsPerPart> chars{};
        for (size_t p = 0; p < parts; ++p)
            CopyPartChars(dir.Sub((shortIndex - 1 - p) * kFatEntryBytes, kFatEntryBytes),
                          &chars[p * kCharsPerPart]);
        AddEntry(s, CutAtNul(chars.data(), parts * kCharsPerPart), wideClusters, out);
        i = shortIndex + 1;
    }
    return out;
}

uint32_t ParseFatDirectory(PartInfo& part, const uint8_t* entries, uint32_t bytes,
                           ProgressSnapshot& progress, uint32_t parentId) {
    const bool wide = part.fsKind == kFsFat32 || part.fsKind == kFsFatDirs;
    uint32_t added = 0;
    for (const FatDirEntry& e : ParseFatEntries(ByteView(entries, bytes), wide)) {
        FileNode node = MakeNode();
        SetNodeName(node, e.name);
        node.parentId = parentId;
        node.firstCluster = e.firstCluster;
        node.size = e.size;
        node.created = e.created;
        node.modified = e.modified;
        const bool dir = e.IsDirectory();
        SetNodeKind(node, (e.deleted ? 0u : 1u) | (dir ? 2u : 0u));
        if (dir) node.typeId = kFatDirTypeId;
        if (AddNode(part, node, false) == 0) {
            GuardedFree(node.name);
            continue;
        }
        CountNodeProgress(node, progress);
        ++added;
    }
    return added;
}

}  // namespace kestrel
