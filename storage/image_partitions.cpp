#include "storage/image_partitions.h"

#include <cstdio>
#include <cstring>
#include <set>

#include "app/guarded_memory.h"
#include "storage/boot_sector.h"
#include "storage/part_builders.h"
#include "storage/partition_table.h"
#include "storage/recognised_volume.h"
#include "storage/sector_source.h"

namespace kestrel {

namespace {

constexpr int kMaxExtendedLinks = 128;
constexpr uint64_t kMaxGptArrayBytes = 1 << 20;  // 8192 entries of 128 bytes

struct ImageContext {
    SectorSource& src;
    uint64_t sectors;
    WString path;
    WString fileName;
    std::vector<std::string>* typeTexts;
};

std::string TypeByteText(uint8_t type) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", unsigned(type));
    return text;
}

void AddTypeText(ImageContext& img, std::string text) {
    if (img.typeTexts) img.typeTexts->push_back(std::move(text));
}

WString FileNameOf(const WString& path) {
    const size_t slash = path.find_last_of(u'/');
    return slash == WString::npos ? path : path.substr(slash + 1);
}

void StampImage(PartInfo& part, const ImageContext& img) {
    part.devicePath = img.path;
    part.diskName = img.fileName;
    part.diskDesc = img.fileName;
    part.deviceSectors = img.sectors;
}

// The system's own boot-sector tests first; then, for images made by other
// systems' tools (geometry 0 or 64/32, any media byte), the file system's
// name in the volume's first sector.
uint32_t IdentifyImageVolume(SectorSource& src, PartInfo& part, uint64_t baseLba) {
    const uint32_t kind = IdentifyVolumeFs(src, part, baseLba);
    if (kind != kFsUnknown) return kind;
    uint8_t sec[kSectorSize];
    if (!ReadSectors(src, 1, sec, baseLba)) return kFsUnknown;
    const uint32_t named = NamedVolumeKind(sec);
    if (named != kFsUnknown) std::memcpy(part.bootSector, sec, kSectorSize);
    return named;
}

PartInfo WholeImage(const ImageContext& img) {
    PartInfo part;
    StampImage(part, img);
    part.sizeSectors = img.sectors;
    return part;
}

// A partition-table entry whose start lies inside the image; others are skipped.
bool AddTableEntry(const uint8_t* entry, uint64_t base, ImageContext& img,
                   std::vector<PartInfo>& out) {
    const MbrSlot slot = ParseMbrSlot(entry);
    if (slot.type == 0 || slot.length == 0 || IsExtendedType(slot.type)) return false;
    if (slot.type == kProtectiveMbrType) return false;
    if (base + slot.start >= img.sectors) return false;
    PartInfo part;
    if (!BuildPartFromEntry(entry, base, img.src, part)) return false;
    part.fsName = FsNameForKind(part.fsKind);
    StampImage(part, img);
    AddTypeText(img, TypeByteText(part.partType));
    out.push_back(std::move(part));
    return true;
}

void WalkExtendedChain(uint64_t extStart, ImageContext& img, std::set<uint64_t>& visited,
                       std::vector<PartInfo>& out) {
    uint8_t ebr[kSectorSize];
    uint64_t lba = extStart;
    // A loop or a chain running off the image ends the walk; what was found stays.
    for (int link = 0; link < kMaxExtendedLinks; ++link) {
        if (lba >= img.sectors || !visited.insert(lba).second) return;
        if (!ReadSectors(img.src, 1, ebr, lba) || !HasMbrSignature(ebr)) return;
        AddTableEntry(MbrEntry(ebr, 0), lba, img, out);
        const MbrSlot next = ParseMbrSlot(MbrEntry(ebr, 1));
        if (!IsExtendedType(next.type) || next.start == 0) return;
        lba = extStart + next.start;
    }
}

bool ReadGptAt(uint64_t headerLba, ImageContext& img, std::vector<PartInfo>& out) {
    uint8_t sec[kSectorSize];
    GptHeader h;
    if (!ReadSectors(img.src, 1, sec, headerLba) || !ParseGptHeader(sec, h)) return false;
    const uint64_t bytes = uint64_t(h.entryCount) * h.entryBytes;
    if (bytes == 0 || bytes > kMaxGptArrayBytes) return false;
    const uint32_t arraySectors = uint32_t((bytes + kSectorSize - 1) / kSectorSize);
    if (h.entriesLba < 1 || h.entriesLba >= img.sectors ||
        arraySectors > img.sectors - h.entriesLba)
        return false;
    auto* array = static_cast<uint8_t*>(GuardedAlloc(arraySectors * kSectorSize, __LINE__));
    const bool read = ReadSectors(img.src, arraySectors, array, h.entriesLba);
    std::vector<GptPartition> parts;
    if (read) parts = ParseGptEntries(ByteView(array, size_t(bytes)), h.entryCount, h.entryBytes);
    GuardedFree(array);
    if (!read) return false;
    for (const GptPartition& g : parts) {
        if (g.firstLba >= img.sectors) continue;
        PartInfo part;
        part.entryKind = 2;
        part.startLba = g.firstLba;
        part.sizeSectors = g.lastLba - g.firstLba + 1;
        part.fsKind = IdentifyImageVolume(img.src, part, g.firstLba);
        FillRecognisedVolume(part, img.src);
        if (part.label.empty()) part.label = kDefaultLabel;
        StampImage(part, img);
        AddTypeText(img, GuidText(g.typeGuid));
        out.push_back(std::move(part));
    }
    return true;
}

}  // namespace

std::vector<PartInfo> ListImagePartitions(const WString& imagePath,
                                          std::vector<std::string>* typeTexts) {
    std::vector<PartInfo> out;
    if (typeTexts) typeTexts->clear();
    ScopedSource src;
    if (!OpenSourcePath(imagePath, *src) || src->byteSize < kSectorSize) return out;
    ImageContext img{*src, src->byteSize / kSectorSize, imagePath, FileNameOf(imagePath),
                     typeTexts};

    uint8_t sec0[kSectorSize];
    if (!ReadSectors(*src, 1, sec0, 0)) return out;

    out.push_back(WholeImage(img));
    PartInfo& whole = out.front();
    const bool bareVolume = IsFat16Boot(sec0) || IsFat32Boot(sec0) || IsNtfsBoot(sec0) ||
                            IsExfatBoot(sec0) || NamedVolumeKind(sec0) != kFsUnknown;
    if (bareVolume || !HasMbrSignature(sec0)) {
        // A bare volume, or a volume whose first sector is damaged but has a
        // backup boot sector: the whole image is that volume.
        whole.fsKind = IdentifyImageVolume(*src, whole, 0);
        FillRecognisedVolume(whole, *src);
        AddTypeText(img, TypeByteText(whole.partType));
        return out;
    }
    std::memcpy(whole.bootSector, sec0, kSectorSize);
    AddTypeText(img, TypeByteText(0));

    bool protective = false;
    for (int i = 0; i < 4; ++i)
        if (ParseMbrSlot(MbrEntry(sec0, i)).type == kProtectiveMbrType) protective = true;
    if (protective) {
        // The backup header at the last sector serves when the primary is gone.
        if (ReadGptAt(1, img, out) || ReadGptAt(img.sectors - 1, img, out)) return out;
    }

    std::set<uint64_t> visited{0};
    for (int i = 0; i < 4; ++i) AddTableEntry(MbrEntry(sec0, i), 0, img, out);
    for (int i = 0; i < 4; ++i) {
        const MbrSlot slot = ParseMbrSlot(MbrEntry(sec0, i));
        if (IsExtendedType(slot.type) && slot.start != 0)
            WalkExtendedChain(slot.start, img, visited, out);
    }
    return out;
}

bool IsBareVolumeListing(const std::vector<PartInfo>& parts) {
    return parts.size() == 1 && parts[0].fsKind != kFsUnknown;
}

bool FindImagePartition(const WString& imagePath, uint32_t number, PartInfo& out) {
    std::vector<PartInfo> parts = ListImagePartitions(imagePath);
    if (number == 1 && IsBareVolumeListing(parts)) number = 0;
    if (number >= parts.size()) return false;
    out = std::move(parts[number]);
    return true;
}

}  // namespace kestrel
