#include "fs/ntfs_mft.h"

#include "fs/ntfs_attributes.h"
#include "storage/ntfs_fixup.h"

namespace kestrel {

bool FixupFileRecord(uint8_t* record) {
    const ByteView v(record, kNtfsRecordBytes);
    const size_t usaOffset = v.U16(0x04);
    const size_t usaCount = v.U16(0x06);
    if (usaOffset > 510 || usaCount * 2 > 510 - usaOffset) return false;
    return ApplyNtfsFixup(record, kNtfsRecordBytes);
}

bool ReadFileRecordAt(SectorSource& src, uint64_t lba, uint8_t* record) {
    if (!ReadSectors(src, 2, record, lba)) return false;
    if (!FixupFileRecord(record)) return false;
    return HasFileSignature(ByteView(record, kNtfsRecordBytes));
}

RunList DataRunsOfRecord(const uint8_t* record, const PartInfo& part) {
    RunList runs;
    ForEachAttribute(ByteView(record, kNtfsRecordBytes), [&](const NtfsAttribute& a) {
        if (a.type != kAttrData) return true;
        const size_t off = a.bytes.U16(0x20);
        if (a.NonResident() && off < a.bytes.size() && a.bytes.size() - off > 2) {
            const ByteView pairs = a.bytes.From(off);
            runs = DecodeRunList(pairs.data(), uint32_t(pairs.size()));
        }
        return false;
    });
    if (!ResolveRuns(part, runs)) runs.clear();
    return runs;
}

RunList ReadMftRecordRuns(SectorSource& src, const PartInfo& part, uint32_t recordIndex) {
    const ByteView boot(part.bootSector, sizeof part.bootSector);
    const uint64_t spc = NtfsSectorsPerCluster(part);
    if (spc == 0) return {};
    uint8_t record[kNtfsRecordBytes];
    for (size_t field : {size_t(0x30), size_t(0x38)}) {
        const uint64_t cluster = boot.U64(field);
        // A cluster number this large cannot lie on any device; the product
        // would wrap.
        if (cluster > (uint64_t(1) << 48)) continue;
        const uint64_t lba = part.startLba + cluster * spc + 2 * uint64_t(recordIndex);
        if (!ReadFileRecordAt(src, lba, record)) continue;
        RunList runs = DataRunsOfRecord(record, part);
        if (!runs.empty()) return runs;
    }
    return {};
}

}  // namespace kestrel
