#include "fs/ntfs_record_summary.h"

#include <array>
#include <cstring>

#include "fs/ntfs_attributes.h"
#include "fs/ntfs_mft.h"

namespace kestrel {

std::optional<FileRecordSummary> BuildFileRecordSummary(ByteView raw) {
    if (raw.size() < kNtfsRecordBytes) return std::nullopt;
    std::array<uint8_t, kNtfsRecordBytes> copy;
    std::memcpy(copy.data(), raw.data(), copy.size());
    if (!FixupFileRecord(copy.data())) return std::nullopt;
    const ByteView rec(copy.data(), copy.size());
    if (!HasFileSignature(rec)) return std::nullopt;

    FileRecordSummary s;
    s.flags = uint8_t(RecordFlags(rec) & 3);
    s.recordNumber = RecordNumber(rec);

    bool sawStandardInfo = false;
    bool haveName = false;
    bool sawDataAfterName = false;
    ForEachAttribute(rec, [&](const NtfsAttribute& a) {
        if (!sawStandardInfo) {
            // Anything before $STANDARD_INFORMATION is skipped; without one
            // the record is not summarised.
            sawStandardInfo = a.type == kAttrStandardInformation;
            return true;
        }
        if (a.type == kAttrIndexAllocation) s.flags |= kSummaryIndexAllocation;
        if (a.type == kAttrFileName && !haveName) {
            const NtfsFileName fn = ReadFileNameAttribute(a);
            if (!fn.valid) return true;
            s.parentRecord = fn.parentRecord;
            if (fn.nameSpace == kNameDos || fn.nameSpace > kNameWin32AndDos) return true;
            if (fn.length == 0) return true;
            s.name.resize(fn.length);
            for (size_t i = 0; i < fn.length; ++i) s.name[i] = char16_t(fn.chars.U16(2 * i));
            haveName = true;
            return true;
        }
        if (a.type == kAttrData && haveName && !sawDataAfterName) {
            sawDataAfterName = true;
            if (a.NonResident()) {
                s.size = a.bytes.U64(0x30);
                s.allocatedSize = a.bytes.U64(0x28);
                if (s.size > s.allocatedSize && (s.size >> 32) != 0) s.size &= 0xFFFFFFFFu;
                const ByteView pairs = a.MappingPairs();
                if (pairs.size() > 0 && pairs.size() < kNtfsRecordBytes)
                    s.runList.assign(pairs.data(), pairs.data() + pairs.size());
            } else {
                s.flags |= kSummaryResidentData;
                const uint32_t len = a.bytes.U32(0x10);
                const uint16_t valOff = a.bytes.U16(0x14);
                s.size = (len == 0 || len > 1023 || valOff >= kNtfsRecordBytes) ? 0 : len;
            }
        }
        return true;
    });
    if (!sawStandardInfo || !haveName) return std::nullopt;
    return s;
}

}  // namespace kestrel
