#pragma once
// The records of a ZIP file as a forward walk meets them, and how far each
// one reaches. Shared by the ZIP analyzer and the document preview, which
// both accept a ZIP only when this walk ends at its end record.
#include <cstdint>

#include "platform/bytes.h"

namespace kestrel {

enum class ZipRecordKind { kLocalHeader, kCentralHeader, kEndOfCentralDirectory, kOther };

struct ZipRecordStep {
    ZipRecordKind kind = ZipRecordKind::kOther;
    // Bytes from the record's first byte to the next record. A local header
    // counts its member data by the compressed size it holds, which is 0 when
    // the sizes follow the data (flag bit 3).
    uint64_t step = 0;
};

constexpr uint32_t kZipLocalHeaderSignature = 0x04034B50;
constexpr uint32_t kZipCentralHeaderSignature = 0x02014B50;
constexpr uint32_t kZipEndOfCentralDirectorySignature = 0x06054B50;
constexpr uint32_t kZipEndOfCentralDirectorySize = 22;

// `record` holds the bytes from the record's first byte on (fields that lie
// outside it read as 0).
inline ZipRecordStep StepZipRecord(const ByteView& record) {
    switch (record.U32(0)) {
        case kZipLocalHeaderSignature:
            return {ZipRecordKind::kLocalHeader,
                    30 + uint64_t(record.U16(26)) + record.U16(28) + record.U32(18)};
        case kZipCentralHeaderSignature:
            return {ZipRecordKind::kCentralHeader,
                    46 + uint64_t(record.U16(28)) + record.U16(30) + record.U16(32)};
        case kZipEndOfCentralDirectorySignature:
            return {ZipRecordKind::kEndOfCentralDirectory,
                    kZipEndOfCentralDirectorySize + uint64_t(record.U16(20))};
        default:
            return {};
    }
}

}  // namespace kestrel
