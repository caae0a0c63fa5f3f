#include "preview/text_test.h"

#include <algorithm>

namespace kestrel {
namespace {

constexpr size_t kExaminedBytes = 1024;

bool IsHighByte(uint8_t b) { return b >= 0xA1 && b <= 0xFE; }

bool IsPlainByte(uint8_t b) {
    return (b >= 0x20 && b <= 0x7E) || b == '\t' || b == '\n' || b == '\r';
}

}  // namespace

bool LooksLikeAnsiText(ByteView data) {
    const ByteView head = data.Sub(0, std::min(data.size(), kExaminedBytes));
    const size_t n = head.size();
    size_t i = 0;
    while (i < n && IsHighByte(head.U8(i))) ++i;
    while (i < n) {
        const uint8_t b = head.U8(i);
        if (IsPlainByte(b) || (i % 512 == 511 && IsHighByte(b))) {
            ++i;
            continue;
        }
        if (i + 1 >= n) return false;
        const uint16_t pair = head.U16(i);
        if (pair < 0xA1A1 || pair > 0xFEFE) return false;
        i += 2;
    }
    return true;
}

}  // namespace kestrel
