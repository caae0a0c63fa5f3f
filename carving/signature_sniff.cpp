// The per-sector signature test: a fixed chain of comparisons on the first
// 49 bytes of a sector, run for every sector of a deep scan, so it allocates
// nothing and searches no table.
#include <cstring>

#include "carving/signature_find.h"
#include "carving/type_ids.h"
#include "platform/bytes.h"

namespace kestrel {
namespace {

// The sniff never looks past this many bytes of the sector.
constexpr size_t kSniffBytes = 49;

bool At(const uint8_t* s, size_t off, const char* text) {
    return std::memcmp(s + off, text, std::strlen(text)) == 0;
}

bool AtBytes(const uint8_t* s, size_t off, std::initializer_list<uint8_t> bytes) {
    size_t i = off;
    for (uint8_t b : bytes) {
        if (s[i++] != b) return false;
    }
    return true;
}

bool OneOf(uint8_t v, std::initializer_list<uint8_t> set) {
    for (uint8_t b : set) {
        if (v == b) return true;
    }
    return false;
}

uint32_t QuickTimeBrand(const uint8_t* s) {
    if (At(s, 8, "M4A ")) return 69;
    if (At(s, 8, "3gp")) return 68;
    if (At(s, 8, "M4V ")) return 71;
    if (At(s, 8, "isom") || At(s, 8, "mmp4")) return 72;
    return 67;
}

// After up to ten leading line breaks, a markup start names an HTML-like page.
bool IsMarkupAfterBreaks(const uint8_t* s) {
    size_t i = 0;
    while (i < 10 && (s[i] == '\r' || s[i] == '\n')) ++i;
    if (s[i] != '<') return false;
    const uint8_t* p = s + i;
    if (At(p, 0, "<html") || At(p, 0, "<HTML")) return true;
    if (At(p, 0, "<!doctyp") || At(p, 0, "<!DOCTYP")) return true;
    if (At(p, 0, "<!--")) return true;
    if (At(p, 0, "<?xml") && p[5] == 0) return true;
    return At(p, 0, "<xs:schema");
}

uint32_t SniffType(const uint8_t* s) {
    ByteView v(s, kSniffBytes);
    uint32_t w0 = v.U32(0);
    uint32_t w1 = v.U32(4);
    if ((w0 == 0 && w1 == 0) || (w0 == 0x7F7F7F7F && w1 == 0x7F7F7F7F)) return NO_TYPE;

    if (AtBytes(s, 0, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1})) return 36;
    if (At(s, 0, "PK\x03\x04") && At(s, 38, "_Types].xml")) return 37;
    if (At(s, 4, "Standard J")) return 77;
    if (AtBytes(s, 0, {0x00, 0x01, 0x00, 0x00}) && At(s, 4, "Standard ACE DB")) return 78;
    if (At(s, 0, "ITSF") && s[8] == 0x60) return 39;
    if (At(s, 0, "%PDF-1.")) return 40;
    if (AtBytes(s, 0, {0x3F, 0x5F, 0x03, 0x00}) || AtBytes(s, 0, {0x4C, 0x4E, 0x02, 0x00}))
        return 41;
    if (AtBytes(s, 0, {0x01, 0xC3, 0x5B, 0x50})) return 42;
    if (At(s, 0, "\xEF\xBB\xBFMIME-") || At(s, 0, "MIME-Ver") || At(s, 0, "From:")) return 43;
    if (At(s, 0, "\x89PNG\r\n\x1A\n")) return 44;
    if (At(s, 0, "GIF8") && (s[4] == '7' || s[4] == '9') && s[5] == 'a') return 45;
    if (AtBytes(s, 0, {0x1A, 0x45, 0xDF, 0xA3})) return 86;
    if (AtBytes(s, 0, {'M', 'S', 'C', 'F', 0, 0, 0, 0}) || At(s, 0, "ISc(")) return 84;
    if (At(s, 0, "MCVL")) return 145;
    if (At(s, 3, "{\\rtf1") || At(s, 0, "{\\rtf1")) return 153;
    if (AtBytes(s, 0, {0xFF, 0xD8, 0xFF}) &&
        OneOf(s[3], {0xDB, 0xE0, 0xE1, 0xEB, 0xEE, 0xFE, 0xC4, 0xE9}))
        return 46;
    if ((s[0] == 0x00 || s[0] == 0x01) && AtBytes(s, 4, {0x47, 0x40, 0x00, 0x10})) return 88;
    if (AtBytes(s, 0, {0x47, 0x48, 0x10, 0x11, 0x00, 0x00, 0x01})) return 143;
    if (AtBytes(s, 0, {'8', 'B', 'P', 'S', 0x00, 0x01, 0x00, 0x00})) return 47;
    if (At(s, 0, "%!PS-Ado")) return 83;
    if (s[0] == 'B' && s[1] == 'M' && s[7] == 0 && s[9] == 0 && s[15] == 0 &&
        OneOf(s[14], {0x0C, 0x28, 0x6C, 0x7C}))
        return 48;
    if (AtBytes(s, 0, {'I', 'I', 0x2A, 0x00}) || AtBytes(s, 0, {'M', 'M', 0x00, 0x2A}) ||
        At(s, 0, "IIRO") || AtBytes(s, 0, {'I', 'I', 'U', 0x00}))
        return 49;
    if (At(s, 0, "FUJIFILM")) return 144;
    if (At(s, 8, "WAVEfmt")) return 53;
    if (At(s, 0, "ID3") && (s[3] == 2 || s[3] == 3 || s[3] == 4)) return 54;
    if (At(s, 0, "MThd")) return 57;
    if (AtBytes(s, 0, {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11})) return 108;
    if (AtBytes(s, 0, {0xFF, 0xFA, 0x90, 0x40}) || AtBytes(s, 0, {0xFF, 0xE3, 0x20, 0xC0}))
        return 59;
    if (At(s, 0, "OggS")) return 55;
    if (At(s, 0, "MAC ")) return 56;
    if (AtBytes(s, 0, {0x37, 0x7A, 0xBC, 0xAF, 0x27})) return 60;
    if (At(s, 0, "PK\x03\x04") || At(s, 0, "PK00") || At(s, 0, "PK\x05\x06")) return 61;
    if (AtBytes(s, 0, {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00})) return 62;
    if (AtBytes(s, 0, {0x5F, 0x27, 0xA8, 0x89})) return 63;
    if (AtBytes(s, 0, {'F', 'L', 'V', 0x01})) return 64;
    if (AtBytes(s, 0, {0x2E, 0x72, 0x61, 0x3F})) return 65;
    if (At(s, 0, ".RMF")) return 66;
    if (At(s, 0, "RIFF") && At(s, 12, "anih")) return 85;
    if (At(s, 4, "ftyp")) return QuickTimeBrand(s);
    if (AtBytes(s, 0, {0x00, 0x00, 0x01, 0xBA}) &&
        (AtBytes(s, 4, {0x21, 0x00, 0x01, 0x00}) || AtBytes(s, 4, {0x44, 0x00, 0x04, 0x00})))
        return 82;
    if (At(s, 0, "RIFF") && At(s, 8, "AVI ")) return 73;
    if (At(s, 0, "AC10")) return 75;
    if (At(s, 0, "Micr")) {
        if (At(s, 28, "orks")) return 80;
        if (At(s, 24, "Solu")) return 81;
    }
    if (AtBytes(s, 0, {0xEF, 0xBB, 0xBF, 0x0D}) && At(s, 28, " Sol")) return 81;
    if (At(s, 0, "<Ui xmln")) return 152;
    if (At(s, 0, "<?xm") || At(s, 0, "l ve")) return 79;
    if (At(s, 0, "<HEAD>")) return 79;
    if (At(s, 0, "<script")) return 79;
    if (AtBytes(s, 0, {0xFF, 0xFE, 0x3C, 0x00}) || AtBytes(s, 0, {0xEF, 0xBB, 0xBF, 0x3C}))
        return 79;
    if ((s[0] == '\r' || s[0] == '\n' || s[0] == '<') && IsMarkupAfterBreaks(s)) return 79;
    return NO_TYPE;
}

}  // namespace

bool SniffFileSignature(const uint8_t* sector, uint32_t& typeId) {
    typeId = NO_TYPE;
    if (!sector) return false;
    typeId = SniffType(sector);
    return typeId != NO_TYPE;
}

}  // namespace kestrel
