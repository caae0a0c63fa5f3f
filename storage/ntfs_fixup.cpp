#include "storage/ntfs_fixup.h"

#include <cstring>

#include "platform/bytes.h"

namespace kestrel {

bool ApplyNtfsFixupWithMagic(uint8_t* record, size_t bytes, const char magic[4]) {
    constexpr size_t kStride = 512;
    if (!record || bytes < kStride || bytes % kStride != 0) return false;
    const ByteView v(record, bytes);
    if (!v.Equals(0, magic, 4)) return false;
    const size_t usaOffset = v.U16(4);
    const size_t usaCount = v.U16(6);  // the sequence number plus one entry per sector
    if (usaCount != bytes / kStride + 1) return false;
    // The array must sit in the first sector after the fixed header fields,
    // clear of that sector's own protected last two bytes.
    if (usaOffset < 8 || usaOffset % 2 != 0 || usaOffset > kStride - 2 ||
        usaCount * 2 > kStride - 2 - usaOffset)
        return false;
    const uint8_t* usa = record + usaOffset;
    for (size_t i = 1; i < usaCount; ++i) {
        uint8_t* tail = record + i * kStride - 2;
        if (tail[0] != usa[0] || tail[1] != usa[1]) return false;
    }
    for (size_t i = 1; i < usaCount; ++i) std::memcpy(record + i * kStride - 2, usa + 2 * i, 2);
    return true;
}

bool ApplyNtfsFixup(uint8_t* record, size_t bytes) {
    return ApplyNtfsFixupWithMagic(record, bytes, "FILE");
}

}  // namespace kestrel
