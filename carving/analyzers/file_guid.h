#pragma once
// GUIDs as ASF and CHM files store them: the first three groups
// little-endian, the last eight bytes as they are.
#include <cstdint>
#include <cstring>

#include "platform/bytes.h"

namespace kestrel {

struct FileGuid {
    uint32_t d1;
    uint16_t d2;
    uint16_t d3;
    uint8_t d4[8];
};

inline bool IsGuidAt(const ByteView& v, size_t off, const FileGuid& g) {
    return v.Has(off, 16) && v.U32(off) == g.d1 && v.U16(off + 4) == g.d2 &&
           v.U16(off + 6) == g.d3 && std::memcmp(v.data() + off + 8, g.d4, 8) == 0;
}

}  // namespace kestrel
