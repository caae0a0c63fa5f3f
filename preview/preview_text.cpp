#include "preview/preview_text.h"

#include <string>

#include "platform/codepage.h"

namespace kestrel {

bool IsWellFormedUtf8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        unsigned char lo = 0x80, hi = 0xBF;  // bounds of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        for (size_t k = 1; k < len; ++k) {
            if (i + k >= n) return true;  // cut at the end of the prefix
            const unsigned char b = p[i + k];
            if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) return false;
        }
        i += len;
    }
    return true;
}

WString PreviewTextAsWide(const PreviewResult& result) {
    const std::string_view bytes(reinterpret_cast<const char*>(result.text.data()),
                                 result.text.size());
    switch (result.kind) {
        case kPreviewPlainText: {
            bool nonAscii = false;
            for (unsigned char c : bytes) nonAscii |= c >= 0x80;
            return nonAscii && IsWellFormedUtf8(bytes) ? Utf16FromUtf8(bytes)
                                                       : WideFromAnsi(bytes);
        }
        case kPreviewUtf16Text: {
            WString wide;
            wide.reserve(bytes.size() / 2);
            for (size_t i = 0; i + 1 < result.text.size(); i += 2)
                wide += char16_t(result.text[i] | result.text[i + 1] << 8);
            return wide;
        }
        case kPreviewUtf8Text:
            return Utf16FromUtf8(bytes.substr(bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0));
        default:
            return WString();
    }
}

}  // namespace kestrel
