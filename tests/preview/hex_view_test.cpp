// The hex pane, compared whole against texts built column by column here.
#include "preview/hex_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace kestrel {
namespace {

void PadTo(std::string& line, size_t width) {
    if (line.size() < width) line.append(width - line.size(), ' ');
}

std::string ExpectedHexView(const std::vector<uint8_t>& data) {
    const size_t n = std::min<size_t>(data.size(), 0x20000);
    if (n == 0) return "";
    std::string header = "Offset";
    for (int i = 0; i < 16; ++i) {
        char cell[8];
        std::snprintf(cell, sizeof cell, i == 8 ? "   %X" : "  %X", i);
        header += cell;
    }
    PadTo(header, 76);
    std::string out = header + "\r\n";
    for (size_t first = 0; first < n; first += 16) {
        char cell[16];
        std::snprintf(cell, sizeof cell, "%06zX", first / 16);
        std::string line = cell;
        std::string chars;
        for (size_t k = 0; k < 16; ++k) {
            if (k == 8) line += " ";
            if (first + k < n) {
                std::snprintf(cell, sizeof cell, " %02X", data[first + k]);
                line += cell;
                const uint8_t b = data[first + k];
                chars += (b >= 0x20 && b < 0x7F) ? char(b) : '.';
            } else {
                line += "   ";
            }
        }
        PadTo(line, 60);
        line += chars;
        PadTo(line, 76);
        if (first + 16 < n) line += "\r\n";
        out += line;
    }
    return out;
}

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> d(size);
    // Walks every byte value, printable and not, in an order that does not
    // repeat line by line.
    for (size_t i = 0; i < size; ++i) d[i] = uint8_t(i * 37 + (i >> 8) * 11 + 0x1E);
    return d;
}

TEST(FormatHexView, MatchesTheLayoutForEveryLineShape) {
    for (size_t size : {size_t(0), size_t(1), size_t(16), size_t(17), size_t(0x20001)}) {
        const std::vector<uint8_t> data = Pattern(size);
        const WString text = FormatHexView(ByteView(data.data(), data.size()));
        const std::string expected = ExpectedHexView(data);
        ASSERT_EQ(text.size(), expected.size()) << size;
        EXPECT_TRUE(text == WString(expected.begin(), expected.end())) << size;
    }
}

TEST(FormatHexView, SeventeenBytesGiveASecondLineNumberedOne) {
    const std::vector<uint8_t> data = {'K',  'e',  's',  't',  'r',  'e',  'l',  0x00, 0x7F,
                                       0xFF, 0x20, 0x7E, 0x09, 0x41, 0x42, 0x43, 0xAB};
    const std::string expected =
        "Offset  0  1  2  3  4  5  6  7   8  9  A  B  C  D  E  F                     \r\n"
        "000000 4B 65 73 74 72 65 6C 00  7F FF 20 7E 09 41 42 43     Kestrel... ~.ABC\r\n"
        "000001 AB                                                   .               ";
    EXPECT_TRUE(FormatHexView(ByteView(data.data(), data.size())) ==
                WString(expected.begin(), expected.end()));
}

}  // namespace
}  // namespace kestrel
