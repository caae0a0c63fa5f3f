#include "storage/volume_label.h"

#include <cstring>

#include "app/guarded_memory.h"
#include "platform/codepage.h"
#include "storage/ntfs_fixup.h"

namespace kestrel {

namespace {

constexpr uint8_t kAttrVolumeLabel = 0x08;
constexpr uint8_t kAttrLongName = 0x0F;
constexpr uint32_t kNtfsVolumeName = 0x60;
constexpr size_t kMftRecordBytes = 1024;
constexpr uint32_t kMaxExfatClusterShift = 16;  // 32 MiB clusters of 512-byte sectors

// Frees a guarded buffer on every path.
struct GuardedBuffer {
    explicit GuardedBuffer(uint32_t size, uint16_t site)
        : data(static_cast<uint8_t*>(GuardedAlloc(size, site))), size(size) {}
    ~GuardedBuffer() { GuardedFree(data); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    uint8_t* data;
    uint32_t size;
};

}  // namespace

bool ParseFatLabelEntry(const uint8_t* sector, WString& label) {
    const uint8_t attr = sector[11];
    // A long-name entry carries the label bit too; its bytes are no label.
    if (!(attr & kAttrVolumeLabel) || (attr & kAttrLongName) == kAttrLongName) return false;
    size_t n = 11;
    while (n > 0 && (sector[n - 1] == ' ' || sector[n - 1] == 0)) --n;
    label = WideFromAnsi(std::string_view(reinterpret_cast<const char*>(sector), n));
    return true;
}

bool ParseExfatLabel(ByteView directory, WString& label) {
    for (size_t off = 0; directory.Has(off, 32); off += 32) {
        if (directory.U8(off) != 0x83) continue;
        const uint8_t count = directory.U8(off + 1);
        if (count >= 16) continue;
        label.clear();
        for (uint8_t i = 0; i < count; ++i)
            label.push_back(char16_t(directory.U16(off + 2 + 2 * i)));
        return true;
    }
    return false;
}

bool ParseNtfsVolumeName(ByteView record, WString& label) {
    size_t off = record.U16(0x14);
    // Each attribute is at least 16 bytes long, so the walk ends within the record.
    while (record.Has(off, 16)) {
        const uint32_t type = record.U32(off);
        if (type == 0 || type == 0xFFFFFFFF) break;
        const uint32_t len = record.U32(off + 4);
        if (len < 16 || !record.Has(off, len)) break;
        if (type == kNtfsVolumeName && record.U8(off + 8) == 0) {
            const uint32_t valueLen = record.U32(off + 0x10);
            const uint16_t valueOff = record.U16(off + 0x14);
            if (valueOff > len || valueLen > len - valueOff) return false;
            label.clear();
            for (uint32_t i = 0; i + 1 < valueLen; i += 2) {
                const char16_t c = char16_t(record.U16(off + valueOff + i));
                if (c == 0) break;
                label.push_back(c);
            }
            return !label.empty();
        }
        off += len;
    }
    return false;
}

bool FatRootDirLba(const PartInfo& part, uint64_t& lba) {
    const ByteView b(part.bootSector, sizeof part.bootSector);
    uint64_t fatSize = b.U16(22);
    if (fatSize == 0) fatSize = b.U32(36);
    uint64_t rel = uint64_t(b.U16(14)) + uint64_t(b.U8(16)) * fatSize;
    if (part.fsKind == kFsFat32) {
        const uint32_t rootCluster = b.U32(44);
        if (rootCluster < 2) return false;
        rel += (uint64_t(b.U16(17)) * 32 + 511) / 512;
        rel += uint64_t(b.U8(13)) * (rootCluster - 2);
    }
    if (rel > UINT64_MAX - part.startLba) return false;
    lba = part.startLba + rel;
    return true;
}

bool ReadFatLabel(PartInfo& part, SectorSource& src) {
    uint64_t lba = 0;
    if (!FatRootDirLba(part, lba)) return false;
    uint8_t sec[kSectorSize];
    if (!ReadSectors(src, 1, sec, lba)) return false;
    WString label;
    if (!ParseFatLabelEntry(sec, label)) return false;
    part.label = std::move(label);
    return true;
}

bool ReadExfatLabel(PartInfo& part, SectorSource& src) {
    const ByteView b(part.bootSector, sizeof part.bootSector);
    const uint32_t rootCluster = b.U32(96);
    const uint32_t heapOffset = b.U32(88);
    const uint32_t shift = b.U8(109);
    if (rootCluster < 2 || shift > kMaxExfatClusterShift) return false;
    const uint64_t rel = uint64_t(heapOffset) + (uint64_t(rootCluster - 2) << shift);
    if (rel > UINT64_MAX - part.startLba) return false;
    const uint32_t sectors = uint32_t(1) << shift;
    GuardedBuffer cluster(sectors * kSectorSize, __LINE__);
    if (!ReadSectors(src, sectors, cluster.data, part.startLba + rel)) return false;
    WString label;
    if (!ParseExfatLabel(ByteView(cluster.data, cluster.size), label)) return false;
    part.label = std::move(label);
    return true;
}

bool ReadNtfsVolumeLabel(PartInfo& part, SectorSource& src) {
    const ByteView b(part.bootSector, sizeof part.bootSector);
    const uint64_t mftCluster = b.U64(48);
    const uint64_t spc = b.U8(13);
    if (spc == 0 || part.startLba > UINT64_MAX - 6 ||
        mftCluster > (UINT64_MAX - part.startLba - 6) / spc)
        return false;
    const uint64_t lba = part.startLba + mftCluster * spc + 6;
    uint8_t record[kMftRecordBytes];
    if (!ReadSectors(src, kMftRecordBytes / kSectorSize, record, lba)) return false;
    if (!ApplyNtfsFixup(record, sizeof record)) return false;
    WString label;
    if (!ParseNtfsVolumeName(ByteView(record, sizeof record), label)) return false;
    part.label = std::move(label);
    return true;
}

bool ReadNtfsVolumeLabel(PartInfo& part) {
    ScopedSource src;
    if (!OpenSourceFromPart(part, *src)) return false;
    return ReadNtfsVolumeLabel(part, *src);
}

bool ReadLabelOfKind(PartInfo& part, SectorSource& src) {
    switch (part.fsKind) {
        case kFsNtfs:
            return ReadNtfsVolumeLabel(part, src);
        case kFsFat16:
        case kFsFat32:
            return ReadFatLabel(part, src);
        case kFsExfat:
            return ReadExfatLabel(part, src);
        default:
            return false;
    }
}

}  // namespace kestrel
