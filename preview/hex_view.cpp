#include "preview/hex_view.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace kestrel {
namespace {

constexpr size_t kLineChars = 78;
constexpr size_t kTextColumn = 60;
constexpr char kHeaderLine[] =
    "Offset  0  1  2  3  4  5  6  7   8  9  A  B  C  D  E  F                     \r\n";
static_assert(sizeof kHeaderLine - 1 == kLineChars);

constexpr char kHexDigits[] = "0123456789ABCDEF";

// The hex pair of byte k of a line: the second half is one column further
// right so the two groups of eight stand apart.
size_t HexColumn(size_t k) { return k < 8 ? 7 + 3 * k : 8 + 3 * k; }

}  // namespace

WString FormatHexView(ByteView data) {
    const size_t n = std::min(data.size(), kHexViewLimit);
    if (n == 0) return WString();
    const size_t lines = (n + 15) / 16;
    std::string text(kHeaderLine);
    text.reserve(kLineChars * (lines + 1));
    char row[kLineChars];
    for (size_t line = 0; line < lines; ++line) {
        std::memset(row, ' ', sizeof row);
        // The line number, not the byte offset: 0x20000 bytes need only four
        // of the six digits.
        for (size_t d = 0; d < 6; ++d) row[5 - d] = kHexDigits[(line >> (4 * d)) & 0xF];
        const size_t first = line * 16;
        const size_t count = std::min<size_t>(16, n - first);
        for (size_t k = 0; k < count; ++k) {
            const uint8_t b = data.data()[first + k];
            row[HexColumn(k)] = kHexDigits[b >> 4];
            row[HexColumn(k) + 1] = kHexDigits[b & 0xF];
            row[kTextColumn + k] = (b >= 0x20 && b <= 0x7E) ? char(b) : '.';
        }
        row[kLineChars - 2] = '\r';
        row[kLineChars - 1] = '\n';
        text.append(row, line + 1 == lines ? kLineChars - 2 : kLineChars);
    }
    // Every character is ASCII, so widening each one is the code-page conversion.
    return WString(text.begin(), text.end());
}

}  // namespace kestrel
