// OLE2 compound documents (Word, Excel, PowerPoint, Visio, Project): the FAT
// gives the length, the directory's stream names give the application.
#include <cstring>
#include <vector>

#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"

namespace kestrel {
namespace {

constexpr uint32_t kSectorSize = 512;
constexpr uint64_t kMaxSectorPosition = 0x8000000;  // 128 MiB
constexpr size_t kMaxFatEntries = 1024000;
constexpr size_t kMaxListEntries = 1023999;
constexpr size_t kMaxDirectoryLinks = 4095999;
constexpr uint32_t kFreeSector = 0xFFFFFFFF;

struct Ole2Parse {
    const ByteView& v;
    PrefixStep outcome = PrefixStep::kRejected;

    // Byte position of sector n; checks the 128 MiB limit, and whether the
    // sector lies within the bytes read.
    bool Locate(int64_t n, size_t& pos) {
        if (n < 0) return Fail(PrefixStep::kRejected);
        const uint64_t p = uint64_t(n + 1) * kSectorSize;
        if (p > kMaxSectorPosition) return Fail(PrefixStep::kRejected);
        if (!v.Has(size_t(p), kSectorSize)) return Fail(PrefixStep::kNeedMore);
        pos = size_t(p);
        return true;
    }
    bool Fail(PrefixStep s) {
        outcome = s;
        return false;
    }
};

uint32_t StreamType(const ByteView& entry) {
    const uint16_t nameSize = entry.U16(64);
    if (nameSize < 1 || nameSize > 32) return 0;
    size_t chars = 0;
    while (chars < 32 && entry.U16(chars * 2) != 0) ++chars;
    if (nameSize != 2 * (chars + 1)) return 0;
    char name[33] = {};
    for (size_t i = 0; i < chars; ++i) {
        const uint16_t c = entry.U16(i * 2);
        if (c < 0x20 || c > 0x7E) return 0;
        name[i] = char(c);
    }
    static constexpr struct {
        const char* name;
        uint32_t type;
    } kStreams[] = {{"WordDocument", 36}, {"Workbook", 87},      {"Book", 87},
                    {"Props", 91},        {"VisioDocument", 96}, {"PowerPoint Document", 90},
                    {"Pictures", 90}};
    for (const auto& s : kStreams) {
        if (std::strcmp(name, s.name) == 0) return s.type;
    }
    return 0;
}

PrefixStep ParseOle2(SignatureFind& find, const ByteView& v) {
    static constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (v.size() < kSectorSize || !v.Equals(0, kSignature, 8)) return PrefixStep::kRejected;
    Ole2Parse p{v};

    // The sectors that hold the FAT: 109 in the header, the rest in the
    // extension chain. Each may appear once.
    std::vector<uint32_t> list;
    std::vector<bool> seen(kMaxSectorPosition / kSectorSize, false);
    auto add = [&](uint32_t n) {
        size_t pos = 0;
        if (!p.Locate(int32_t(n), pos)) return false;
        if (seen[n]) return p.Fail(PrefixStep::kRejected);
        seen[n] = true;
        list.push_back(n);
        if (list.size() > kMaxListEntries) return p.Fail(PrefixStep::kRejected);
        return true;
    };
    for (size_t i = 0; i < 109; ++i) {
        const uint32_t n = v.U32(76 + 4 * i);
        if (int32_t(n) < 0) break;
        if (!add(n)) return p.outcome;
    }
    const uint32_t extensionCount = v.U32(72);
    uint32_t extension = v.U32(68);
    // Every extension sector is a distinct sector below 128 MiB, so no more
    // of them can exist than that space holds.
    if (extensionCount > kMaxSectorPosition / kSectorSize) return PrefixStep::kRejected;
    for (uint32_t e = 0; e < extensionCount; ++e) {
        size_t pos = 0;
        if (!p.Locate(int32_t(extension), pos)) return p.outcome;
        for (size_t i = 0; i < 127; ++i) {
            const uint32_t n = v.U32(pos + 4 * i);
            if (n == kFreeSector) continue;
            if (!add(n)) return p.outcome;
        }
        extension = v.U32(pos + 4 * 127);
    }

    if (list.size() != v.U32(44) || list.size() * 128 > kMaxFatEntries)
        return PrefixStep::kRejected;
    const size_t entryCount = list.size() * 128;
    std::vector<uint32_t> fat;
    fat.reserve(entryCount);
    for (uint32_t n : list) {
        size_t pos = 0;
        if (!p.Locate(int32_t(n), pos)) return p.outcome;
        for (size_t i = 0; i < 128; ++i) {
            const uint32_t entry = v.U32(pos + 4 * i);
            if (int32_t(entry) < -4) return PrefixStep::kRejected;
            if (int32_t(entry) > 0 && entry > entryCount + 1) return PrefixStep::kRejected;
            fat.push_back(entry);
        }
    }
    size_t last = fat.size();
    while (last > 0 && fat[last - 1] == kFreeSector) --last;
    if (last == 0) return PrefixStep::kRejected;
    const uint64_t length = uint64_t(last + 1) * kSectorSize;

    // The directory chain; more links than the FAT has entries means a loop.
    std::vector<size_t> directory;
    uint32_t sector = v.U32(48);
    while (int32_t(sector) >= 0) {
        if (sector >= entryCount || directory.size() >= entryCount ||
            directory.size() >= kMaxDirectoryLinks)
            return PrefixStep::kRejected;
        size_t pos = 0;
        if (!p.Locate(int32_t(sector), pos)) return p.outcome;
        directory.push_back(pos);
        sector = fat[sector];
    }
    if (directory.empty()) return PrefixStep::kRejected;
    static constexpr char16_t kRoot[] = u"Root Entry";
    const ByteView root = v.Sub(directory[0], 128);
    if (root.U16(64) != 22) return PrefixStep::kRejected;
    for (size_t i = 0; i < 10; ++i) {
        if (root.U16(2 * i) != kRoot[i]) return PrefixStep::kRejected;
    }
    for (size_t pos : directory) {
        for (size_t e = 0; e < kSectorSize / 128; ++e) {
            const uint32_t type = StreamType(v.Sub(pos + 128 * e, 128));
            if (type != 0) {
                find.typeId = type;
                find.length = length;
                return PrefixStep::kComplete;
            }
        }
    }
    return PrefixStep::kRejected;
}

}  // namespace

uint32_t AnalyzeOle2(SignatureFind& find, const FindBuffer& buffer) {
    return AnalyzeGrowingPrefix(find, buffer,
                                [&find](const ByteView& v) { return ParseOle2(find, v); });
}

}  // namespace kestrel
