#include "scan/post_scan_steps.h"

#include <algorithm>

#include "carving/type_catalogue.h"
#include "carving/type_ids.h"
#include "fs/file_node.h"
#include "fs/ntfs_known_extents.h"

namespace kestrel {
namespace {

constexpr uint32_t kSignatureLimit = 154;
// A scan range that begins this close to the disk start counts as the whole
// disk front: partitions of the first 2 GiB are not thrown away.
constexpr uint64_t kRangeFrontSectors = 0x400000;
constexpr size_t kBusyListSize = 9;
constexpr uint32_t kBusyFiles = 2;

bool AllTypesSelected() {
    BuildTypeCatalogue();
    const CFileTypeCatalogue& cat = CFileTypeCatalogue::Instance();
    for (uint32_t t = kFirstFileType; t <= kLastFileType; ++t) {
        const FileTypeInfo* info = cat.GetType(t);
        if (info && info->typeId == t && info->selected == 0) return false;
    }
    return true;
}

bool TypeSelected(uint32_t t) {
    const FileTypeInfo* info = CFileTypeCatalogue::Instance().GetType(t);
    return !info || info->typeId != t || info->selected != 0;
}

void AddExtents(SectorRanges& to, const std::vector<NtfsExtent>& extents) {
    for (const NtfsExtent& e : extents)
        to.Add(e.startLba,
               e.sectors > UINT64_MAX - e.startLba ? UINT64_MAX : e.startLba + e.sectors);
    to.Sort();
}

}  // namespace

void KeepFindsInFreeSpace(std::vector<FoundItem>& items, const FreeClusterMap& freeMap,
                          bool clusterAlign) {
    if (!freeMap.Valid()) return;
    std::erase_if(items, [&](const FoundItem& it) {
        if (it.type >= kSignatureLimit) return false;
        if (!freeMap.IsFreeSector(it.lba)) return true;
        return clusterAlign && !freeMap.IsClusterStart(it.lba);
    });
}

void ApplyScanOptionFilter(std::vector<FoundItem>& items, const ScanOptions& options) {
    const bool ntfs = IsOn(options.analyseNtfs), fat = IsOn(options.analyseFat),
               exfat = IsOn(options.analyseExfat);
    if (ntfs && fat && exfat && AllTypesSelected()) return;
    std::erase_if(items, [&](const FoundItem& it) {
        const uint32_t t = it.type;
        if (t >= kCodeNtfsBoot && t <= kCodeIndexBlock) return !ntfs;
        if (t >= kCodeFat16Boot && t <= kCodeFatRootDir) return !fat;
        if (t >= kCodeExfatBoot && t <= kCodeExfatDir) return !exfat;
        if (t >= kFirstFileType && t <= kLastFileType) return !TypeSelected(t);
        return false;
    });
}

void DropPartitionsOutsideOptions(std::vector<PartInfo>& list, const ScanOptions& options) {
    const uint64_t from = options.scanStart < kRangeFrontSectors ? 0 : options.scanStart;
    const bool bounded =
        options.scanSize != 0 && options.scanSize <= UINT64_MAX - options.scanStart;
    const uint64_t end = options.scanStart + options.scanSize;
    std::erase_if(list, [&](PartInfo& p) {
        bool drop = false;
        switch (p.fsKind) {
            case kFsNtfs:
                drop = !IsOn(options.analyseNtfs);
                break;
            case kFsFat16:
            case kFsFat32:
                drop = !IsOn(options.analyseFat);
                break;
            case kFsExfat:
                drop = !IsOn(options.analyseExfat);
                break;
            default:
                break;
        }
        drop = drop || p.startLba < from || (bounded && p.startLba >= end);
        if (drop) FreeTable(p);
        return drop;
    });
}

void SectorRanges::Add(uint64_t start, uint64_t end) {
    if (start < end) ranges_.push_back({start, end});
}

void SectorRanges::Sort() {
    std::sort(ranges_.begin(), ranges_.end(),
              [](const Range& a, const Range& b) { return a.start < b.start; });
    maxEnd_.resize(ranges_.size());
    uint64_t high = 0;
    for (size_t i = 0; i < ranges_.size(); ++i) maxEnd_[i] = high = std::max(high, ranges_[i].end);
}

bool SectorRanges::Contains(uint64_t lba, bool evenSteps) const {
    size_t i = size_t(std::upper_bound(ranges_.begin(), ranges_.end(), lba,
                                       [](uint64_t l, const Range& r) { return l < r.start; }) -
                      ranges_.begin());
    // Ranges before i start at or below lba; walk back only while one of
    // them can still reach it.
    while (i-- > 0 && maxEnd_[i] > lba) {
        const Range& r = ranges_[i];
        if (lba < r.end && (!evenSteps || (lba - r.start) % 2 == 0)) return true;
    }
    return false;
}

void UsedStructures::AddFatDirectories(const std::vector<uint64_t>& lbas) {
    directories.insert(lbas.begin(), lbas.end());
}

void UsedStructures::TakeNtfsExtents() {
    AddExtents(recordAreas, KnownMftExtents());
    AddExtents(indexAreas, KnownIndexExtents());
}

bool UsedStructures::Contains(const FoundItem& it) const {
    return directories.count(it.lba) != 0 || recordAreas.Contains(it.lba, true) ||
           indexAreas.Contains(it.lba, false);
}

void NeutraliseUsedStructures(std::vector<FoundItem>& items, UsedStructures& used) {
    for (FoundItem& it : items) {
        const uint32_t t = it.type;
        if (t != kCodeFileRecord && t != kCodeIndexBlock && t != kCodeFatDir &&
            t != kCodeFatRootDir)
            continue;
        if (used.Contains(it)) it.type = kCodeNothing;
    }
}

void KeepBusyPartitions(std::vector<PartInfo>& list, int32_t recoverMode) {
    if (list.size() < kBusyListSize) return;
    const uint32_t wanted = recoverMode == 1 ? kDeletedFile : kLiveFile;
    std::erase_if(list, [&](PartInfo& p) {
        uint32_t files = 0;
        for (uint32_t id = 2; id < p.nodeCount && files <= kBusyFiles; ++id) {
            const FileNode* n = GetNode(p, id);
            if (n && NodeKind(*n) == wanted && n->name[0] != u'$') ++files;
        }
        const bool drop = files <= kBusyFiles;
        if (drop) FreeTable(p);
        return drop;
    });
}

}  // namespace kestrel
