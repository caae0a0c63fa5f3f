#pragma once
// Where the records of a committed ZIP fixture lie, so the preview tests can
// damage a chosen one.
#include <cstdint>
#include <vector>

#include "platform/bytes.h"

namespace kestrel::test {

// Offset of the last end-of-central-directory record; 0 when there is none.
inline size_t ZipEndRecordOffset(const std::vector<uint8_t>& zip) {
    const ByteView v(zip.data(), zip.size());
    if (zip.size() < 22) return 0;
    for (size_t pos = zip.size() - 21; pos-- > 0;)
        if (v.U32(pos) == 0x06054B50) return pos;
    return 0;
}

// Start of the central directory, as the end record gives it.
inline size_t ZipCentralDirectoryOffset(const std::vector<uint8_t>& zip) {
    return ByteView(zip.data(), zip.size()).U32(ZipEndRecordOffset(zip) + 16);
}

}  // namespace kestrel::test
