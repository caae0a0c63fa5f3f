#include "scan/partition_discovery.h"

#include <cstring>

#include "fs/fat_sector_test.h"
#include "fs/ntfs_record_summary.h"
#include "fs/ntfs_runs.h"
#include "platform/bytes.h"
#include "scan/block_schedule.h"
#include "scan/scan_catalogue.h"
#include "scan/sector_classifier.h"
#include "storage/boot_sector.h"
#include "storage/part_builders.h"
#include "storage/volume_label.h"

namespace kestrel {
namespace {

constexpr uint32_t kAreaCheckSectors = 256;
constexpr uint32_t kAreaCheckRecords = kAreaCheckSectors / 2;
constexpr uint32_t kAreaCheckMinimum = 64;
constexpr uint64_t kMinEbrEntrySectors = 0x4000;
constexpr uint64_t kFat32BackupOffset = 6;
constexpr uint64_t kExfatBackupOffset = 12;

bool ReadOne(SectorSource& src, uint64_t lba, uint8_t* sector) {
    return ReadSectors(src, 1, sector, lba);
}

// The record area of an NTFS volume starting at `start` holds its own first
// records: most of them carry their own number in the header.
bool RecordAreaHoldsItsRecords(const uint8_t* boot, uint64_t start, SectorSource& src) {
    const ByteView b(boot, 512);
    const uint64_t spc = b.U8(13);
    const uint64_t cluster = b.U64(0x30);
    if (spc == 0 || cluster > (uint64_t(1) << 48) / spc) return false;
    const uint64_t offset = cluster * spc;
    if (offset > UINT64_MAX - start) return false;
    std::vector<uint8_t> area(size_t(kAreaCheckSectors) * 512);
    if (!ReadSectors(src, kAreaCheckSectors, area.data(), start + offset)) return false;
    const ByteView v(area.data(), area.size());
    uint32_t own = 0;
    for (uint32_t r = 0; r < kAreaCheckRecords; ++r) {
        const size_t at = size_t(r) * 1024;
        if (v.Equals(at, "FILE", 4) && v.U32(at + 0x2C) == r) ++own;
    }
    return own > kAreaCheckMinimum;
}

bool FatBeginsAt(const uint8_t* boot, uint64_t start, SectorSource& src) {
    const ByteView b(boot, 512);
    const bool fat32 = b.U16(17) == 0;
    const uint64_t reserved = b.U16(14);
    uint64_t fatSize = b.U16(22);
    if (fatSize == 0) fatSize = b.U32(36);
    uint8_t sector[512];
    auto test = [&](uint64_t lba) {
        if (!ReadOne(src, lba, sector)) return false;
        const ByteView s(sector, 512);
        const bool media = fat32 ? s.U32(0) == 0x0FFFFFF8 : s.U16(0) == 0xFFF8;
        return media && IsPlausibleFatSector(s, fat32 ? FatWidth::Fat32 : FatWidth::Fat16);
    };
    if (test(start + reserved)) return true;
    return b.U8(16) == 2 && fatSize != 0 && test(start + reserved + fatSize);
}

bool ExfatBeginsAt(const uint8_t* boot, uint64_t start, SectorSource& src) {
    const ByteView b(boot, 512);
    const uint32_t shift = b.U8(109);
    const uint64_t rootCluster = b.U32(96);
    if (shift > 25 || rootCluster < 2) return false;
    const uint64_t root = start + b.U32(88) + ((rootCluster - 2) << shift);
    uint8_t sector[512];
    if (!ReadOne(src, root, sector) || ClassifySector(sector, root) != kCodeExfatRootDir)
        return false;
    static const uint8_t kMedia[4] = {0xF8, 0xFF, 0xFF, 0xFF};
    return ReadOne(src, start + b.U32(80), sector) && std::memcmp(sector, kMedia, 4) == 0;
}

// The boot-sector copy the record keeps for a volume rebuilt from its
// record area: only the fields the NTFS reader and the label read use.
void WriteAreaBootSector(PartInfo& part, uint32_t spc, uint64_t areaCluster,
                         uint64_t mirrorCluster) {
    uint8_t* b = part.bootSector;
    std::memset(b, 0, 512);
    std::memcpy(b + 3, "NTFS    ", 8);
    b[11] = 0x00;
    b[12] = 0x02;  // 512 bytes per sector
    b[13] = uint8_t(spc);
    for (int i = 0; i < 8; ++i) {
        b[0x30 + i] = uint8_t(areaCluster >> (8 * i));
        b[0x38 + i] = uint8_t(mirrorCluster >> (8 * i));
    }
    b[510] = 0x55;
    b[511] = 0xAA;
}

// First cluster and length of the first extent of a record's $DATA.
bool FirstExtent(const FileRecordSummary& s, uint64_t& cluster, uint64_t& clusters) {
    if (s.runList.empty()) return false;
    const RunList runs = DecodeRunList(s.runList.data(), uint32_t(s.runList.size()));
    if (runs.empty() || runs[0].sparse || runs[0].delta < 0) return false;
    cluster = uint64_t(runs[0].delta);
    clusters = runs[0].clusters;
    return true;
}

struct RecordRun {
    size_t first = 0;  // index into the record items
    size_t count = 0;
};

void NtfsPartitionFromRun(const std::vector<const FoundItem*>& records, const RecordRun& run,
                          SectorSource& src, const PartInfo& device, std::vector<PartInfo>& list) {
    const FoundItem& head = *records[run.first];
    const FileRecordSummary* area = FileRecordOf(head);
    const FileRecordSummary* mirror = FileRecordOf(*records[run.first + 1]);
    if (!area || !mirror) return;
    // Sectors per cluster from the mirror's record: its data is one cluster
    // when clusters are larger than its four records, else four records.
    uint64_t spc = 0;
    uint64_t mirrorCluster = 0, mirrorClusters = 0;
    const bool mirrorExtent = FirstExtent(*mirror, mirrorCluster, mirrorClusters);
    if (mirror->size > 4096) {
        spc = mirror->size / 512;
    } else {
        if (!mirrorExtent || mirrorClusters == 0) return;
        spc = 8 / mirrorClusters;
    }
    if (spc == 0 || spc > 128) return;

    const uint64_t t = spc > 7 ? spc / 2 : 4;
    uint64_t areaCluster = 0, areaClusters = 0;
    if (!FirstExtent(*area, areaCluster, areaClusters)) return;
    uint64_t chosen = 0;
    if (run.count > t) {
        chosen = areaCluster;
    } else {
        if (spc <= 7 && run.count != 4) return;
        if (!mirrorExtent) return;
        chosen = mirrorCluster;
    }
    if (chosen > head.lba / spc) return;
    const uint64_t start = head.lba - spc * chosen;
    if (HasPartitionStart(list, start)) return;

    PartInfo part;
    part.startLba = start;
    part.sizeSectors = kUnknownSizeSectors;
    part.partType = 0x07;
    part.fsKind = kFsNtfs;
    part.fsName = FsNameForKind(kFsNtfs);
    WriteAreaBootSector(part, uint32_t(spc), areaCluster,
                        mirrorExtent ? mirrorCluster : areaCluster);
    TakeDeviceIdentity(device, part);
    ReadNtfsVolumeLabel(part, src);
    list.push_back(part);
}

}  // namespace

bool HasPartitionStart(const std::vector<PartInfo>& list, uint64_t startLba) {
    for (const PartInfo& p : list)
        if (p.startLba == startLba) return true;
    return false;
}

bool PartFromBootRecordItem(const FoundItem& item, SectorSource& src, const PartInfo& device,
                            PartInfo& part) {
    if (!item.data || !HasSectorCopy(item.type)) return false;
    const uint8_t* boot = static_cast<const uint8_t*>(item.data);
    const ByteView b(boot, 512);
    const uint64_t L = item.lba;
    bool found = false;
    switch (item.type) {
        case kCodeNtfsBoot: {
            if (RecordAreaHoldsItsRecords(boot, L, src)) {
                part = BuildPartFromNtfsBoot(boot, L, src);
                found = true;
                break;
            }
            // The backup boot sector lies in the volume's last sector, its
            // total-sectors count after the first.
            const uint64_t S = b.U64(0x28);
            if (S != 0 && S <= L && RecordAreaHoldsItsRecords(boot, L - S, src)) {
                part = BuildPartFromNtfsBoot(boot, L - S, src);
                found = true;
            }
            break;
        }
        case kCodeFat16Boot:
        case kCodeFat32Boot:
            for (uint64_t back : {uint64_t(0), kFat32BackupOffset}) {
                if (back > L || !FatBeginsAt(boot, L - back, src)) continue;
                part = BuildPartFromFatBoot(boot, L - back, src);
                found = true;
                break;
            }
            break;
        case kCodeExfatBoot:
            for (uint64_t back : {uint64_t(0), kExfatBackupOffset}) {
                if (back > L || !ExfatBeginsAt(boot, L - back, src)) continue;
                part = BuildPartFromExfatBoot(boot, L - back, src);
                found = true;
                break;
            }
            break;
        default:
            break;
    }
    if (!found) return false;
    if (part.fsName.empty()) part.fsName = FsNameForKind(part.fsKind);
    TakeDeviceIdentity(device, part);
    return true;
}

void AddPartitionsFromTablesAndBootRecords(const std::vector<FoundItem>& items, SectorSource& src,
                                           const PartInfo& device, std::vector<PartInfo>& list) {
    for (const FoundItem& it : items) {
        if (it.type == kCodeEbr && it.data) {
            const uint8_t* table = static_cast<const uint8_t*>(it.data);
            for (int k = 0; k < 4; ++k) {
                const uint8_t* entry = table + 0x1BE + 16 * k;
                const ByteView e(entry, 16);
                const uint8_t type = e.U8(4);
                const uint8_t boot = e.U8(0);
                const uint64_t rel = e.U32(8);
                if (type < 1 || type > 0x1C || type == 0x05 || type == 0x0F) continue;
                if (rel == 0 || e.U32(12) < kMinEbrEntrySectors) continue;
                if (boot != 0 && boot != 0x80) continue;
                const uint64_t start = it.lba + rel;
                if (HasPartitionStart(list, start)) continue;
                PartInfo part;
                // The entry builder adds in 32 bits; a table beyond 2 TiB
                // would place the partition elsewhere.
                if (!BuildPartFromEntry(entry, it.lba, src, part) || part.startLba != start)
                    continue;
                if (!IsNtfsBoot(part.bootSector) && !IsFat32Boot(part.bootSector) &&
                    !IsFat16Boot(part.bootSector) && !IsExfatBoot(part.bootSector))
                    continue;
                // A type byte that names no readable file system would claim
                // the start and keep the volume's own boot record out.
                if (part.fsKind == kFsUnknown) continue;
                if (part.fsName.empty()) part.fsName = FsNameForKind(part.fsKind);
                TakeDeviceIdentity(device, part);
                list.push_back(part);
            }
            continue;
        }
        if (it.type != kCodeNtfsBoot && it.type != kCodeFat16Boot && it.type != kCodeFat32Boot &&
            it.type != kCodeExfatBoot)
            continue;
        if (HasPartitionStart(list, it.lba)) continue;
        PartInfo part;
        if (PartFromBootRecordItem(it, src, device, part) &&
            !HasPartitionStart(list, part.startLba))
            list.push_back(part);
    }
}

void AddNtfsPartitionsFromRecordRuns(const std::vector<FoundItem>& items, SectorSource& src,
                                     const PartInfo& device, std::vector<PartInfo>& list) {
    std::vector<const FoundItem*> records;
    for (const FoundItem& it : items)
        if (it.type == kCodeFileRecord && FileRecordOf(it)) records.push_back(&it);
    size_t i = 0;
    while (i < records.size()) {
        size_t j = i + 1;
        while (j < records.size() && records[j]->lba == records[j - 1]->lba + 2 &&
               (records[j]->lba >> kScanBlockShift) == (records[i]->lba >> kScanBlockShift))
            ++j;
        const RecordRun run{i, j - i};
        if (run.count > 3 && FileRecordNameStartsWithMft(*records[i]))
            NtfsPartitionFromRun(records, run, src, device, list);
        i = j;
    }
}

}  // namespace kestrel
