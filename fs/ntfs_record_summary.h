#pragma once
// The summary the deep scan keeps for every NTFS FILE record it finds loose on
// the disk: enough to regroup orphan records into MFT runs and to work out a
// partition's geometry later, without keeping the 1 KiB record itself.
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/bytes.h"
#include "platform/wide_text.h"

namespace kestrel {

enum FileRecordSummaryFlag : uint8_t {
    kSummaryInUse = 1 << 0,
    kSummaryDirectory = 1 << 1,
    kSummaryResidentData = 1 << 2,
    kSummaryIndexAllocation = 1 << 3,
};

struct FileRecordSummary {
    uint32_t parentRecord = 0;     // low 32 bits of the parent reference
    uint32_t recordNumber = 0;     // from the record header
    WString name;                  // at most 255 characters, never empty
    std::vector<uint8_t> runList;  // mapping pairs of the first $DATA, 1..1023 bytes or none
    uint64_t size = 0;
    uint64_t allocatedSize = 0;
    uint8_t flags = 0;  // FileRecordSummaryFlag bits
};

// Builds the summary from a 1024-byte record as it lies on the disk (the
// update-sequence fix-up is applied to a private copy). Absent when the record
// is not a FILE record, its fix-up does not match, it has no
// $STANDARD_INFORMATION before the end of its attributes, or no usable name.
std::optional<FileRecordSummary> BuildFileRecordSummary(ByteView record);

}  // namespace kestrel
