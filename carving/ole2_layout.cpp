#include "carving/ole2_layout.h"

namespace kestrel {
namespace {

constexpr uint64_t kMaxSectorPosition = 0x8000000;  // 128 MiB
constexpr size_t kMaxFatEntries = 1024000;
constexpr size_t kMaxListEntries = 1023999;
constexpr size_t kHeaderListEntries = 109;
constexpr size_t kExtensionEntries = 127;
constexpr size_t kEntriesPerSector = kOle2SectorSize / 4;

// The sectors that hold the FAT: 109 in the header, the rest in the
// extension chain. Each may appear once.
Ole2Status ReadFatSectorList(const ByteView& v, std::vector<uint32_t>& list) {
    std::vector<bool> seen(kMaxSectorPosition / kOle2SectorSize, false);
    auto add = [&](uint32_t n) {
        size_t pos = 0;
        const Ole2Status s = LocateOle2Sector(v, int32_t(n), pos);
        if (s != Ole2Status::kOk) return s;
        if (seen[n]) return Ole2Status::kRejected;
        seen[n] = true;
        list.push_back(n);
        return list.size() > kMaxListEntries ? Ole2Status::kRejected : Ole2Status::kOk;
    };
    for (size_t i = 0; i < kHeaderListEntries; ++i) {
        const uint32_t n = v.U32(76 + 4 * i);
        if (int32_t(n) < 0) break;
        const Ole2Status s = add(n);
        if (s != Ole2Status::kOk) return s;
    }
    const uint32_t extensionCount = v.U32(72);
    uint32_t extension = v.U32(68);
    // Every extension sector is a distinct sector below 128 MiB, so no more
    // of them can exist than that space holds.
    if (extensionCount > kMaxSectorPosition / kOle2SectorSize) return Ole2Status::kRejected;
    for (uint32_t e = 0; e < extensionCount; ++e) {
        size_t pos = 0;
        const Ole2Status located = LocateOle2Sector(v, int32_t(extension), pos);
        if (located != Ole2Status::kOk) return located;
        for (size_t i = 0; i < kExtensionEntries; ++i) {
            const uint32_t n = v.U32(pos + 4 * i);
            if (n == kOle2FreeSector) continue;
            const Ole2Status s = add(n);
            if (s != Ole2Status::kOk) return s;
        }
        extension = v.U32(pos + 4 * kExtensionEntries);
    }
    return Ole2Status::kOk;
}

}  // namespace

bool HasOle2Signature(const ByteView& v) {
    static constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    return v.Equals(0, kSignature, sizeof kSignature);
}

Ole2Status LocateOle2Sector(const ByteView& v, int64_t n, size_t& pos) {
    if (n < 0) return Ole2Status::kRejected;
    const uint64_t p = uint64_t(n + 1) * kOle2SectorSize;
    if (p > kMaxSectorPosition) return Ole2Status::kRejected;
    if (!v.Has(size_t(p), kOle2SectorSize)) return Ole2Status::kNeedMore;
    pos = size_t(p);
    return Ole2Status::kOk;
}

Ole2Status ReadOle2Fat(const ByteView& v, std::vector<uint32_t>& fat) {
    std::vector<uint32_t> list;
    const Ole2Status listed = ReadFatSectorList(v, list);
    if (listed != Ole2Status::kOk) return listed;
    if (list.size() != v.U32(44) || list.size() * kEntriesPerSector > kMaxFatEntries)
        return Ole2Status::kRejected;
    const size_t entryCount = list.size() * kEntriesPerSector;
    fat.clear();
    fat.reserve(entryCount);
    for (uint32_t n : list) {
        size_t pos = 0;
        const Ole2Status located = LocateOle2Sector(v, int32_t(n), pos);
        if (located != Ole2Status::kOk) return located;
        for (size_t i = 0; i < kEntriesPerSector; ++i) {
            const uint32_t entry = v.U32(pos + 4 * i);
            if (int32_t(entry) < -4) return Ole2Status::kRejected;
            if (int32_t(entry) > 0 && entry > entryCount + 1) return Ole2Status::kRejected;
            fat.push_back(entry);
        }
    }
    return Ole2Status::kOk;
}

Ole2Status WalkOle2Chain(const ByteView& v, const std::vector<uint32_t>& fat, uint32_t first,
                         std::vector<size_t>& positions) {
    positions.clear();
    for (uint32_t sector = first; int32_t(sector) >= 0; sector = fat[sector]) {
        if (sector >= fat.size() || positions.size() >= fat.size() ||
            positions.size() >= kOle2MaxChainLinks)
            return Ole2Status::kRejected;
        size_t pos = 0;
        const Ole2Status located = LocateOle2Sector(v, int32_t(sector), pos);
        if (located != Ole2Status::kOk) return located;
        positions.push_back(pos);
    }
    return Ole2Status::kOk;
}

bool IsOle2RootEntry(const ByteView& entry) {
    static constexpr char16_t kRoot[] = u"Root Entry";
    if (entry.U16(64) != 22) return false;
    for (size_t i = 0; i < 10; ++i) {
        if (entry.U16(2 * i) != kRoot[i]) return false;
    }
    return true;
}

std::string Ole2EntryName(const ByteView& entry) {
    const uint16_t nameSize = entry.U16(64);
    if (nameSize < 1 || nameSize > 32) return {};
    size_t chars = 0;
    while (chars < 32 && entry.U16(chars * 2) != 0) ++chars;
    if (nameSize != 2 * (chars + 1)) return {};
    std::string name;
    for (size_t i = 0; i < chars; ++i) {
        const uint16_t c = entry.U16(i * 2);
        if (c < 0x20 || c > 0x7E) return {};
        name.push_back(char(c));
    }
    return name;
}

}  // namespace kestrel
