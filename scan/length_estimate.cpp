#include "scan/length_estimate.h"

#include <algorithm>
#include <memory>

#include "fs/ntfs_mft.h"
#include "fs/ntfs_runs.h"
#include "platform/bytes.h"
#include "storage/sector_source.h"

namespace kestrel {
namespace {

struct FatGeometry {
    uint64_t dataStart = 0;  // absolute LBA of cluster 2
    uint64_t clusters = 0;
    uint64_t clusterSectors = 0;
    uint32_t entryBits = 0;  // 12, 16 or 32
};

bool ReadFatGeometry(const PartInfo& p, FatGeometry& g) {
    const ByteView b(p.bootSector, 512);
    const uint32_t bps = b.U16(11);
    const uint32_t spc = b.U8(13);
    if (bps < 512 || bps % 512 != 0 || bps > 4096 || spc == 0) return false;
    const uint64_t scale = bps / 512;
    const uint64_t reserved = b.U16(14);
    const uint64_t fats = b.U8(16);
    const uint64_t rootSectors = (uint64_t(b.U16(17)) * 32 + bps - 1) / bps;
    uint64_t fatSize = b.U16(22);
    if (fatSize == 0) fatSize = b.U32(36);
    uint64_t total = b.U16(19);
    if (total == 0) total = b.U32(32);
    const uint64_t meta = reserved + fats * fatSize + rootSectors;
    if (fatSize == 0 || meta >= total) return false;
    g.clusterSectors = spc * scale;
    g.dataStart = p.startLba + meta * scale;
    g.clusters = (total - meta) / spc;
    g.entryBits = p.fsKind == kFsFat32 ? 32 : g.clusters < 4085 ? 12 : 16;
    return true;
}

// FAT entry of cluster c; entries the copy does not hold read as free, so
// nothing is taken for in use without the FAT saying so.
uint32_t FatEntry(const PartInfo& p, const FatGeometry& g, uint64_t c) {
    const ByteView fat(p.fsTable, p.fsTableBytes);
    if (g.entryBits == 32) return fat.Has(c * 4, 4) ? fat.U32(c * 4) & 0x0FFFFFFF : 0;
    if (g.entryBits == 16) return fat.Has(c * 2, 2) ? fat.U16(c * 2) : 0;
    const uint64_t off = c + c / 2;
    if (!fat.Has(off, 2)) return 0;
    const uint16_t v = fat.U16(off);
    return (c & 1) ? v >> 4 : v & 0xFFF;
}

bool NtfsClusterSectors(const PartInfo& p, uint64_t& sectors) {
    const ByteView b(p.bootSector, 512);
    const uint32_t bps = b.U16(11);
    const uint8_t raw = b.U8(13);
    if (bps < 512 || bps % 512 != 0 || bps > 4096 || raw == 0) return false;
    // Values above 0x80 encode 2^(256 - value) sectors per cluster.
    const uint64_t spc = raw <= 0x80 ? raw : (raw >= 0xF4 ? uint64_t(1) << (256 - raw) : 0);
    if (spc == 0) return false;
    sectors = spc * (bps / 512);
    return true;
}

// $Bitmap is MFT record 6: one bit per cluster, set when the cluster is in
// use. Sparse runs and unreadable sectors read as zeros (free).
std::shared_ptr<std::vector<uint8_t>> ReadNtfsBitmap(const PartInfo& part, uint64_t spc) {
    const uint64_t totalSectors = ByteView(part.bootSector, 512).U64(0x28);
    const uint64_t clusters = totalSectors / spc + 1;
    if (clusters > (uint64_t(1) << 32)) return nullptr;
    ScopedSource src;
    if (!OpenSourceFromPart(part, *src)) return nullptr;
    const RunList runs = ReadMftRecordRuns(*src, part, 6);
    if (runs.empty()) return nullptr;
    auto bitmap = std::make_shared<std::vector<uint8_t>>(size_t((clusters + 7) / 8), 0);
    const uint64_t wantSectors = (bitmap->size() + 511) / 512;
    std::vector<uint8_t> chunk(1 << 20);
    uint64_t doneSectors = 0;
    for (const RunItem& r : runs) {
        if (doneSectors >= wantSectors) break;
        uint64_t n = r.sectors < wantSectors - doneSectors ? r.sectors : wantSectors - doneSectors;
        for (uint64_t off = 0; off < n;) {
            const uint32_t step =
                uint32_t(n - off < chunk.size() / 512 ? n - off : chunk.size() / 512);
            if (!r.sparse) {
                ReadSectors(*src, step, chunk.data(), r.startLba + off);
                const size_t at = size_t((doneSectors + off) * 512);
                const size_t len = std::min<size_t>(size_t(step) * 512, bitmap->size() - at);
                std::copy(chunk.data(), chunk.data() + len, bitmap->data() + at);
            }
            off += step;
        }
        doneSectors += n;
    }
    return bitmap;
}

}  // namespace

bool ClusterHeapOf(const PartInfo& part, uint64_t& cluster2Lba, uint32_t& sectorsPerCluster) {
    if (part.fsKind == kFsFat16 || part.fsKind == kFsFat32) {
        FatGeometry g;
        if (!ReadFatGeometry(part, g)) return false;
        cluster2Lba = g.dataStart;
        sectorsPerCluster = uint32_t(g.clusterSectors);
        return true;
    }
    if (part.fsKind != kFsExfat) return false;
    const ByteView b(part.bootSector, 512);
    const uint32_t shift = b.U8(109);
    if (b.U8(108) != 9 || shift > 16) return false;
    cluster2Lba = part.startLba + b.U32(88);
    sectorsPerCluster = uint32_t(1) << shift;
    return true;
}

bool FreeClusterMap::ClusterOf(uint64_t lba, uint64_t& cluster) const {
    if (sectorsPerCluster == 0 || lba < firstClusterLba) return false;
    const uint64_t index = (lba - firstClusterLba) / sectorsPerCluster;
    if (index >= clusterCount) return false;
    cluster = firstCluster + index;
    return true;
}

bool FreeClusterMap::IsFreeSector(uint64_t lba) const {
    uint64_t c = 0;
    return Valid() && ClusterOf(lba, c) && isFree(c);
}

bool FreeClusterMap::IsClusterStart(uint64_t lba) const {
    uint64_t c = 0;
    return ClusterOf(lba, c) && (lba - firstClusterLba) % sectorsPerCluster == 0;
}

uint64_t FreeClusterMap::FreeBytesFrom(uint64_t lba) const {
    uint64_t c = 0;
    if (!Valid() || !ClusterOf(lba, c)) return 0;
    const uint64_t last = firstCluster + clusterCount;  // exclusive
    const uint64_t limit = kMaxEstimateSectors / sectorsPerCluster + 1;
    uint64_t n = 0;
    while (c + n < last && n < limit && isFree(c + n)) ++n;
    return n * sectorsPerCluster * 512;
}

FreeClusterMap MakeFreeClusterMap(const PartInfo& part) {
    FreeClusterMap map;
    const PartInfo* p = &part;
    if ((part.fsKind == kFsFat16 || part.fsKind == kFsFat32) && part.fsTable) {
        FatGeometry g;
        if (!ReadFatGeometry(part, g)) return {};
        map.firstClusterLba = g.dataStart;
        map.firstCluster = 2;
        map.clusterCount = g.clusters;
        map.sectorsPerCluster = uint32_t(g.clusterSectors);
        map.isFree = [p, g](uint64_t c) { return FatEntry(*p, g, c) == 0; };
        return map;
    }
    if (part.fsKind == kFsNtfs) {
        uint64_t spc = 0;
        if (!NtfsClusterSectors(part, spc)) return {};
        std::shared_ptr<std::vector<uint8_t>> bitmap;
        if (part.allocMap)
            bitmap = std::make_shared<std::vector<uint8_t>>(part.allocMap,
                                                            part.allocMap + part.allocMapBytes);
        else
            bitmap = ReadNtfsBitmap(part, spc);
        if (!bitmap) return {};
        map.firstClusterLba = part.startLba;
        map.firstCluster = 0;
        map.clusterCount = uint64_t(bitmap->size()) * 8;
        map.sectorsPerCluster = uint32_t(spc);
        map.isFree = [bitmap](uint64_t c) {
            return c / 8 >= bitmap->size() || !((*bitmap)[size_t(c / 8)] & (1u << (c % 8)));
        };
        return map;
    }
    if (part.fsKind == kFsExfat && part.allocMap) {
        // The allocation bitmap holds one bit per cluster of the heap,
        // starting at cluster 2.
        if (!ClusterHeapOf(part, map.firstClusterLba, map.sectorsPerCluster)) return {};
        map.firstCluster = 2;
        map.clusterCount = ByteView(part.bootSector, 512).U32(92);
        map.isFree = [p](uint64_t c) {
            const uint64_t bit = c - 2;
            return !(ByteView(p->allocMap, p->allocMapBytes).U8(size_t(bit / 8)) &
                     (1u << (bit % 8)));
        };
        return map;
    }
    return {};
}

void EstimateFindLengths(std::vector<FoundItem>& items, uint64_t recordEnd,
                         const FreeClusterMap* freeMap) {
    if (items.empty()) return;
    const bool cutAtUsed = freeMap != nullptr && freeMap->Valid();
    // Walking backwards keeps the next boundary at hand: one pass.
    bool haveNext = false;
    uint64_t nextLba = 0;
    for (size_t i = items.size(); i-- > 0;) {
        FoundItem& it = items[i];
        const bool boundary = it.type < 154 || it.type > 220;
        if (it.type < 154 && it.FileLength() == 0 && i + 1 < items.size()) {
            const uint64_t end = haveNext ? nextLba : recordEnd;
            uint64_t sectors = end > it.lba ? end - it.lba : 0;
            if (sectors > kMaxEstimateSectors) sectors = kMaxEstimateSectors;
            uint64_t bytes = sectors * 512;
            if (cutAtUsed && bytes != 0) {
                const uint64_t free = freeMap->FreeBytesFrom(it.lba);
                if (free != 0 && free < bytes) bytes = free;
            }
            it.SetFileLength(bytes);
        }
        if (boundary) {
            haveNext = true;
            nextLba = it.lba;
        }
    }
}

}  // namespace kestrel
