#include "storage/ansi_text.h"

#include <iconv.h>

#include <cerrno>

namespace kestrel {

WString WideFromAnsiBytes(const uint8_t* bytes, size_t count) {
    WString out;
    if (!bytes || count == 0) return out;
    iconv_t cd = iconv_open("UTF-16LE", "GBK");
    if (cd == iconv_t(-1)) {
        // Without the converter keep the ASCII part readable.
        for (size_t i = 0; i < count; ++i) out.push_back(bytes[i] < 0x80 ? bytes[i] : u'\uFFFD');
        return out;
    }
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
    size_t inLeft = count;
    while (inLeft > 0) {
        char16_t buf[64];
        char* o = reinterpret_cast<char*>(buf);
        size_t oLeft = sizeof buf;
        const size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        const size_t produced = (sizeof buf - oLeft) / 2;
        for (size_t i = 0; i < produced; ++i) {
            const uint8_t* b = reinterpret_cast<const uint8_t*>(buf + i);
            out.push_back(char16_t(b[0] | (b[1] << 8)));
        }
        if (r == size_t(-1) && errno != E2BIG) {
            // Invalid or truncated sequence: one replacement, then go on after the byte.
            out.push_back(u'\uFFFD');
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    iconv_close(cd);
    return out;
}

}  // namespace kestrel
