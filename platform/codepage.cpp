#include "platform/codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace kestrel {
namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

}  // namespace

WString WideFromCodePage(std::string_view bytes, const char* charset) {
    WString out;
    Converter cv("UTF-16LE", charset);
    if (!cv.ok()) return Utf16FromUtf8(bytes);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char buf[1024];
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        const size_t rc = iconv(cv.get(), &in, &inLeft, &o, &oLeft);
        const size_t produced = sizeof buf - oLeft;
        for (size_t i = 0; i + 1 < produced; i += 2)
            out += char16_t(uint8_t(buf[i]) | uint8_t(buf[i + 1]) << 8);
        if (rc == size_t(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or a truncated sequence at the end: skip one byte.
            out += char16_t(0xFFFD);
            ++in;
            --inLeft;
            iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

std::string CodePageFromWide(WStringView text, const char* charset) {
    std::string out;
    Converter cv(charset, "UTF-16LE");
    if (!cv.ok()) return Utf8FromWide(text);
    std::string src;
    src.reserve(text.size() * 2);
    for (char16_t c : text) {
        src += char(c & 0xFF);
        src += char(c >> 8);
    }
    char* in = src.data();
    size_t inLeft = src.size();
    char buf[1024];
    while (inLeft > 0) {
        char* o = buf;
        size_t oLeft = sizeof buf;
        const size_t rc = iconv(cv.get(), &in, &inLeft, &o, &oLeft);
        out.append(buf, sizeof buf - oLeft);
        if (rc == size_t(-1)) {
            if (errno == E2BIG) continue;
            // A character the code page lacks (or a lone surrogate): '?' for
            // one UTF-16 unit, or for a whole surrogate pair.
            size_t skip = 2;
            if (inLeft >= 4) {
                const unsigned hi = uint8_t(in[0]) | uint8_t(in[1]) << 8;
                const unsigned lo = uint8_t(in[2]) | uint8_t(in[3]) << 8;
                if (hi >= 0xD800 && hi <= 0xDBFF && lo >= 0xDC00 && lo <= 0xDFFF) skip = 4;
            }
            if (skip > inLeft) skip = inLeft;
            out += '?';
            in += skip;
            inLeft -= skip;
            iconv(cv.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

WString WideFromAnsi(std::string_view bytes) { return WideFromCodePage(bytes, "GBK"); }

std::string AnsiFromWide(WStringView text) { return CodePageFromWide(text, "GBK"); }

}  // namespace kestrel
