#include "platform/wide_text.h"

#include <cstdint>

namespace kestrel {

std::string Utf8FromWide(WStringView text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // lone surrogate
        }
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | (c >> 18));
            out += char(0x80 | ((c >> 12) & 0x3F));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

WString Utf16FromUtf8(std::string_view s) {
    WString out;
    out.reserve(s.size());
    size_t i = 0;
    while (i < s.size()) {
        uint8_t b = uint8_t(s[i]);
        uint32_t c;
        size_t n;
        if (b < 0x80) { c = b; n = 1; }
        else if ((b & 0xE0) == 0xC0) { c = b & 0x1F; n = 2; }
        else if ((b & 0xF0) == 0xE0) { c = b & 0x0F; n = 3; }
        else if ((b & 0xF8) == 0xF0) { c = b & 0x07; n = 4; }
        else { out += u'\uFFFD'; ++i; continue; }
        if (i + n > s.size()) { out += u'\uFFFD'; break; }
        bool ok = true;
        for (size_t k = 1; k < n; ++k) {
            uint8_t cb = uint8_t(s[i + k]);
            if ((cb & 0xC0) != 0x80) { ok = false; break; }
            c = (c << 6) | (cb & 0x3F);
        }
        // Reject overlong forms, surrogates and values past U+10FFFF.
        static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (!ok || c < kMin[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += char16_t(0xD800 + (c >> 10));
            out += char16_t(0xDC00 + (c & 0x3FF));
        } else {
            out += char16_t(c);
        }
        i += n;
    }
    return out;
}

size_t WideLength(const char16_t* text, size_t maxLen) {
    if (!text) return 0;
    size_t n = 0;
    while (n < maxLen && text[n]) ++n;
    return n;
}

}  // namespace kestrel
