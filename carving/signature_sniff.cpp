// The per-sector signature test, run for every sector of a deep scan: a fixed
// chain of comparisons on the first 49 bytes of a sector, where the first
// test that matches wins. Almost every sector of a disk is file data that
// matches nothing, so the chain is not walked test by test: each rule names
// the first bytes it can match at all, and a table built at compile time
// lists, for each first byte, the rules that can match in chain order. A
// sector then costs its few candidate rules instead of 51 comparisons, and
// the winner is the one the plain chain would pick.
#include <algorithm>
#include <array>
#include <cstring>

#include "carving/signature_find.h"
#include "carving/type_ids.h"

namespace kestrel {
namespace {

// The lengths are compile-time constants, so the compiler turns each
// comparison into a load or two instead of a call.
template <size_t N>
bool At(const uint8_t* s, size_t off, const char (&text)[N]) {
    return std::memcmp(s + off, text, N - 1) == 0;
}

template <size_t N>
bool AtBytes(const uint8_t* s, size_t off, const uint8_t (&bytes)[N]) {
    return std::memcmp(s + off, bytes, N) == 0;
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

using SniffTest = uint32_t (*)(const uint8_t* s);

// One test of the chain. `first` lists every first byte with which the test
// can match (nullptr: it does not look at the first byte alone); a test
// that cannot match answers NO_TYPE and the chain goes on.
struct SniffRule {
    const char* first;
    size_t firstCount;
    SniffTest test;
};

template <size_t N>
constexpr SniffRule Rule(const char (&first)[N], SniffTest test) {
    return {first, N - 1, test};
}
constexpr SniffRule AnyFirst(SniffTest test) { return {nullptr, 0, test}; }

// The chain, in the order in which its tests decide. No test looks past the
// first 49 bytes of the sector.
constexpr SniffRule kRules[] = {
    Rule("\xD0", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}) ? 36 : NO_TYPE;
    }),
    Rule("P", [](const uint8_t* s) -> uint32_t {
        return At(s, 0, "PK\x03\x04") && At(s, 38, "_Types].xml") ? 37 : NO_TYPE;
    }),
    AnyFirst([](const uint8_t* s) -> uint32_t { return At(s, 4, "Standard J") ? 77 : NO_TYPE; }),
    Rule("\x00", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0x00, 0x01, 0x00, 0x00}) && At(s, 4, "Standard ACE DB") ? 78
                                                                                       : NO_TYPE;
    }),
    Rule("I", [](const uint8_t* s) -> uint32_t {
        return At(s, 0, "ITSF") && s[8] == 0x60 ? 39 : NO_TYPE;
    }),
    Rule("%", [](const uint8_t* s) -> uint32_t { return At(s, 0, "%PDF-1.") ? 40 : NO_TYPE; }),
    Rule("\x3F\x4C", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0x3F, 0x5F, 0x03, 0x00}) || AtBytes(s, 0, {0x4C, 0x4E, 0x02, 0x00})
                   ? 41
                   : NO_TYPE;
    }),
    Rule("\x01", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0x01, 0xC3, 0x5B, 0x50}) ? 42 : NO_TYPE;
    }),
    Rule("\xEF"
         "MF",
         [](const uint8_t* s) -> uint32_t {
             return At(s, 0, "\xEF\xBB\xBFMIME-") || At(s, 0, "MIME-Ver") || At(s, 0, "From:")
                        ? 43
                        : NO_TYPE;
         }),
    Rule("\x89", [](const uint8_t* s) -> uint32_t {
        return At(s, 0, "\x89PNG\r\n\x1A\n") ? 44 : NO_TYPE;
    }),
    Rule("G", [](const uint8_t* s) -> uint32_t {
        return At(s, 0, "GIF8") && (s[4] == '7' || s[4] == '9') && s[5] == 'a' ? 45 : NO_TYPE;
    }),
    Rule("\x1A", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0x1A, 0x45, 0xDF, 0xA3}) ? 86 : NO_TYPE;
    }),
    Rule("MI", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {'M', 'S', 'C', 'F', 0, 0, 0, 0}) || At(s, 0, "ISc(") ? 84 : NO_TYPE;
    }),
    Rule("M", [](const uint8_t* s) -> uint32_t { return At(s, 0, "MCVL") ? 145 : NO_TYPE; }),
    AnyFirst([](const uint8_t* s) -> uint32_t {
        return At(s, 3, "{\\rtf1") || At(s, 0, "{\\rtf1") ? 153 : NO_TYPE;
    }),
    Rule("\xFF", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0xFF, 0xD8, 0xFF}) &&
                       OneOf(s[3], {0xDB, 0xE0, 0xE1, 0xEB, 0xEE, 0xFE, 0xC4, 0xE9})
                   ? 46
                   : NO_TYPE;
    }),
    Rule("\x00\x01", [](const uint8_t* s) -> uint32_t {
        return (s[0] == 0x00 || s[0] == 0x01) && AtBytes(s, 4, {0x47, 0x40, 0x00, 0x10})
                   ? 88
                   : NO_TYPE;
    }),
    Rule("\x47", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0x47, 0x48, 0x10, 0x11, 0x00, 0x00, 0x01}) ? 143 : NO_TYPE;
    }),
    Rule("8", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {'8', 'B', 'P', 'S', 0x00, 0x01, 0x00, 0x00}) ? 47 : NO_TYPE;
    }),
    Rule("%", [](const uint8_t* s) -> uint32_t { return At(s, 0, "%!PS-Ado") ? 83 : NO_TYPE; }),
    Rule("B", [](const uint8_t* s) -> uint32_t {
        return s[0] == 'B' && s[1] == 'M' && s[7] == 0 && s[9] == 0 && s[15] == 0 &&
                       OneOf(s[14], {0x0C, 0x28, 0x6C, 0x7C})
                   ? 48
                   : NO_TYPE;
    }),
    Rule("IM", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {'I', 'I', 0x2A, 0x00}) || AtBytes(s, 0, {'M', 'M', 0x00, 0x2A}) ||
                       At(s, 0, "IIRO") || AtBytes(s, 0, {'I', 'I', 'U', 0x00})
                   ? 49
                   : NO_TYPE;
    }),
    Rule("F", [](const uint8_t* s) -> uint32_t { return At(s, 0, "FUJIFILM") ? 144 : NO_TYPE; }),
    AnyFirst([](const uint8_t* s) -> uint32_t { return At(s, 8, "WAVEfmt") ? 53 : NO_TYPE; }),
    Rule("I", [](const uint8_t* s) -> uint32_t {
        return At(s, 0, "ID3") && (s[3] == 2 || s[3] == 3 || s[3] == 4) ? 54 : NO_TYPE;
    }),
    Rule("M", [](const uint8_t* s) -> uint32_t { return At(s, 0, "MThd") ? 57 : NO_TYPE; }),
    Rule("\x30", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11}) ? 108 : NO_TYPE;
    }),
    Rule("\xFF", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0xFF, 0xFA, 0x90, 0x40}) || AtBytes(s, 0, {0xFF, 0xE3, 0x20, 0xC0})
                   ? 59
                   : NO_TYPE;
    }),
    Rule("O", [](const uint8_t* s) -> uint32_t { return At(s, 0, "OggS") ? 55 : NO_TYPE; }),
    Rule("M", [](const uint8_t* s) -> uint32_t { return At(s, 0, "MAC ") ? 56 : NO_TYPE; }),
    Rule("\x37", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0x37, 0x7A, 0xBC, 0xAF, 0x27}) ? 60 : NO_TYPE;
    }),
    Rule("P", [](const uint8_t* s) -> uint32_t {
        return At(s, 0, "PK\x03\x04") || At(s, 0, "PK00") || At(s, 0, "PK\x05\x06") ? 61 : NO_TYPE;
    }),
    Rule("R", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00}) ? 62 : NO_TYPE;
    }),
    Rule("\x5F", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0x5F, 0x27, 0xA8, 0x89}) ? 63 : NO_TYPE;
    }),
    Rule("F", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {'F', 'L', 'V', 0x01}) ? 64 : NO_TYPE;
    }),
    Rule("\x2E", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0x2E, 0x72, 0x61, 0x3F}) ? 65 : NO_TYPE;
    }),
    Rule(".", [](const uint8_t* s) -> uint32_t { return At(s, 0, ".RMF") ? 66 : NO_TYPE; }),
    Rule("R", [](const uint8_t* s) -> uint32_t {
        return At(s, 0, "RIFF") && At(s, 12, "anih") ? 85 : NO_TYPE;
    }),
    AnyFirst([](const uint8_t* s) -> uint32_t {
        return At(s, 4, "ftyp") ? QuickTimeBrand(s) : NO_TYPE;
    }),
    Rule("\x00", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0x00, 0x00, 0x01, 0xBA}) &&
                       (AtBytes(s, 4, {0x21, 0x00, 0x01, 0x00}) ||
                        AtBytes(s, 4, {0x44, 0x00, 0x04, 0x00}))
                   ? 82
                   : NO_TYPE;
    }),
    Rule("R", [](const uint8_t* s) -> uint32_t {
        return At(s, 0, "RIFF") && At(s, 8, "AVI ") ? 73 : NO_TYPE;
    }),
    Rule("A", [](const uint8_t* s) -> uint32_t { return At(s, 0, "AC10") ? 75 : NO_TYPE; }),
    Rule("M", [](const uint8_t* s) -> uint32_t {
        if (At(s, 0, "Micr")) {
            if (At(s, 28, "orks")) return 80;
            if (At(s, 24, "Solu")) return 81;
        }
        return NO_TYPE;
    }),
    Rule("\xEF", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0xEF, 0xBB, 0xBF, 0x0D}) && At(s, 28, " Sol") ? 81 : NO_TYPE;
    }),
    Rule("<", [](const uint8_t* s) -> uint32_t { return At(s, 0, "<Ui xmln") ? 152 : NO_TYPE; }),
    Rule("<l", [](const uint8_t* s) -> uint32_t {
        return At(s, 0, "<?xm") || At(s, 0, "l ve") ? 79 : NO_TYPE;
    }),
    Rule("<", [](const uint8_t* s) -> uint32_t { return At(s, 0, "<HEAD>") ? 79 : NO_TYPE; }),
    Rule("<", [](const uint8_t* s) -> uint32_t { return At(s, 0, "<script") ? 79 : NO_TYPE; }),
    Rule("\xFF\xEF", [](const uint8_t* s) -> uint32_t {
        return AtBytes(s, 0, {0xFF, 0xFE, 0x3C, 0x00}) || AtBytes(s, 0, {0xEF, 0xBB, 0xBF, 0x3C})
                   ? 79
                   : NO_TYPE;
    }),
    Rule("\r\n<", [](const uint8_t* s) -> uint32_t {
        return (s[0] == '\r' || s[0] == '\n' || s[0] == '<') && IsMarkupAfterBreaks(s) ? 79
                                                                                        : NO_TYPE;
    }),
};
constexpr size_t kRuleCount = sizeof kRules / sizeof kRules[0];
static_assert(kRuleCount < 0xFF, "rule indexes are bytes; 0xFF ends a list");

constexpr bool RuleTakes(const SniffRule& r, uint8_t first) {
    if (!r.first) return true;
    for (size_t i = 0; i < r.firstCount; ++i)
        if (uint8_t(r.first[i]) == first) return true;
    return false;
}

constexpr size_t CandidateCount(uint8_t first) {
    size_t n = 0;
    for (const SniffRule& r : kRules) n += RuleTakes(r, first) ? 1 : 0;
    return n;
}

constexpr size_t MostCandidates() {
    size_t most = 0;
    for (size_t b = 0; b < 256; ++b) most = std::max(most, CandidateCount(uint8_t(b)));
    return most;
}

// Each list ends with 0xFF; the longest are those for 'M' (the rules that
// take any first byte are on every list).
constexpr size_t kMaxCandidates = 16;
static_assert(MostCandidates() < kMaxCandidates, "a candidate list needs room for its end mark");
using CandidateList = std::array<uint8_t, kMaxCandidates>;

constexpr std::array<CandidateList, 256> BuildCandidates() {
    std::array<CandidateList, 256> table{};
    for (size_t b = 0; b < 256; ++b) {
        size_t n = 0;
        for (size_t r = 0; r < kRuleCount; ++r)
            if (RuleTakes(kRules[r], uint8_t(b))) table[b][n++] = uint8_t(r);
        table[b][n] = 0xFF;
    }
    return table;
}
constexpr std::array<CandidateList, 256> kCandidates = BuildCandidates();

uint32_t SniffType(const uint8_t* s) {
    uint32_t w0, w1;
    std::memcpy(&w0, s, 4);
    std::memcpy(&w1, s + 4, 4);
    // The WAVE test looks past the first two words: these fillers must not reach it.
    if ((w0 == 0 && w1 == 0) || (w0 == 0x7F7F7F7F && w1 == 0x7F7F7F7F)) return NO_TYPE;
    for (const uint8_t r : kCandidates[s[0]]) {
        if (r == 0xFF) break;
        const uint32_t type = kRules[r].test(s);
        if (type != NO_TYPE) return type;
    }
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
