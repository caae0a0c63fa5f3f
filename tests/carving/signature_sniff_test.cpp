#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "carving/signature_find.h"
#include "carving/type_ids.h"

namespace kestrel {
namespace {

struct SniffCase {
    const char* name;
    std::vector<std::pair<size_t, std::string>> bytes;  // (offset, bytes) pokes into a zero sector
    uint32_t expected;
};

std::vector<uint8_t> Sector(const SniffCase& c, uint8_t fill = 0) {
    std::vector<uint8_t> s(512, fill);
    for (const auto& [off, text] : c.bytes) std::memcpy(s.data() + off, text.data(), text.size());
    return s;
}

std::string B(std::initializer_list<int> v) {
    std::string s;
    for (int b : v) s.push_back(char(b));
    return s;
}

// One row per test of the chain, plus the near misses that must fall through.
const SniffCase kCases[] = {
    {"ole2", {{0, B({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1})}}, 36},
    {"ooxml", {{0, "PK\x03\x04"}, {38, "_Types].xml"}}, 37},
    {"zip plain local header", {{0, "PK\x03\x04"}, {30, "word/document.xml"}}, 61},
    {"zip spanned", {{0, "PK00PK\x03\x04"}}, 61},
    {"zip empty", {{0, "PK\x05\x06"}}, 61},
    {"mdb", {{0, B({0, 1, 0, 0})}, {4, "Standard Jet DB"}}, 77},
    {"accdb", {{0, B({0, 1, 0, 0})}, {4, "Standard ACE DB"}}, 78},
    {"chm", {{0, "ITSF"}, {8, "\x60"}}, 39},
    {"chm wrong header size", {{0, "ITSF"}, {8, "\x58"}}, NO_TYPE},
    {"pdf", {{0, "%PDF-1.4"}}, 40},
    {"pdf 2.0 not accepted", {{0, "%PDF-2.0"}}, NO_TYPE},
    {"hlp", {{0, B({0x3F, 0x5F, 0x03, 0x00})}}, 41},
    {"hlp other", {{0, B({0x4C, 0x4E, 0x02, 0x00})}}, 41},
    {"pub", {{0, B({0x01, 0xC3, 0x5B, 0x50})}}, 42},
    {"mht bom", {{0, "\xEF\xBB\xBFMIME-"}}, 43},
    {"mht", {{0, "MIME-Version: 1.0"}}, 43},
    {"mht from", {{0, "From: <saved>"}}, 43},
    {"png", {{0, "\x89PNG\r\n\x1A\n"}}, 44},
    {"gif87", {{0, "GIF87a"}}, 45},
    {"gif89", {{0, "GIF89a"}}, 45},
    {"gif88 no", {{0, "GIF88a"}}, NO_TYPE},
    {"mkv", {{0, B({0x1A, 0x45, 0xDF, 0xA3})}}, 86},
    {"cab", {{0, B({'M', 'S', 'C', 'F', 0, 0, 0, 0, 1})}}, 84},
    {"installshield cab", {{0, "ISc("}}, 84},
    {"mcb", {{0, "MCVL"}}, 145},
    {"rtf", {{0, "{\\rtf1\\ansi"}}, 153},
    {"rtf after 3 bytes", {{0, "\xEF\xBB\xBF{\\rtf1"}}, 153},
    {"jpeg e0", {{0, B({0xFF, 0xD8, 0xFF, 0xE0})}}, 46},
    {"jpeg e1", {{0, B({0xFF, 0xD8, 0xFF, 0xE1})}}, 46},
    {"jpeg db", {{0, B({0xFF, 0xD8, 0xFF, 0xDB})}}, 46},
    {"jpeg e2 not listed", {{0, B({0xFF, 0xD8, 0xFF, 0xE2})}}, NO_TYPE},
    {"mts", {{0, B({0x00, 0x12, 0x34, 0x56, 0x47, 0x40, 0x00, 0x10})}}, 88},
    {"m2t", {{0, B({0x47, 0x48, 0x10, 0x11, 0x00, 0x00, 0x01})}}, 143},
    {"psd", {{0, B({'8', 'B', 'P', 'S', 0, 1, 0, 0})}}, 47},
    {"ai", {{0, "%!PS-Adobe-3.0"}}, 83},
    {"bmp 40", {{0, B({'B', 'M', 0x36, 0x10, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 0x28, 0})}}, 48},
    {"bmp 108", {{0, B({'B', 'M', 0x36, 0x10, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 0x6C, 0})}}, 48},
    {"bmp 56 no",
     {{0, B({'B', 'M', 0x36, 0x10, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0, 0x38, 0})}},
     NO_TYPE},
    {"tiff le", {{0, B({'I', 'I', 0x2A, 0x00, 8})}}, 49},
    {"tiff be", {{0, B({'M', 'M', 0x00, 0x2A})}}, 49},
    {"orf", {{0, "IIRO"}}, 49},
    {"rw2", {{0, B({'I', 'I', 'U', 0x00})}}, 49},
    {"raf", {{0, "FUJIFILMCCD-RAW"}}, 144},
    {"wav", {{0, "RIFF"}, {4, B({0x24, 0x08, 0, 0})}, {8, "WAVEfmt "}}, 53},
    {"wav whatever first bytes", {{0, "ABCD"}, {8, "WAVEfmt "}}, 53},
    {"mp3 id3v2.3", {{0, B({'I', 'D', '3', 3, 0})}}, 54},
    {"mp3 id3v2.5 no", {{0, B({'I', 'D', '3', 5, 0})}}, NO_TYPE},
    {"midi", {{0, "MThd"}}, 57},
    {"asf", {{0, B({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11})}}, 108},
    {"frame header 59", {{0, B({0xFF, 0xFA, 0x90, 0x40})}}, 59},
    {"frame header 59 b", {{0, B({0xFF, 0xE3, 0x20, 0xC0})}}, 59},
    {"plain mpeg frame no", {{0, B({0xFF, 0xFB, 0x90, 0x64})}}, NO_TYPE},
    {"ogg", {{0, "OggS"}}, 55},
    {"ape", {{0, "MAC "}}, 56},
    {"7z", {{0, B({0x37, 0x7A, 0xBC, 0xAF, 0x27, 0x1C})}}, 60},
    {"rar", {{0, B({'R', 'a', 'r', '!', 0x1A, 0x07, 0x00})}}, 62},
    {"rar5 no", {{0, B({'R', 'a', 'r', '!', 0x1A, 0x07, 0x01})}}, NO_TYPE},
    {"jar", {{0, B({0x5F, 0x27, 0xA8, 0x89})}}, 63},
    {"flv", {{0, B({'F', 'L', 'V', 1, 5})}}, 64},
    {"ram", {{0, B({0x2E, 0x72, 0x61, 0x3F})}}, 65},
    {"ra fd no", {{0, B({0x2E, 0x72, 0x61, 0xFD})}}, NO_TYPE},
    {"rmvb", {{0, ".RMF"}}, 66},
    {"ani", {{0, "RIFF"}, {8, "ACON"}, {12, "anih"}}, 85},
    {"m4a", {{4, "ftypM4A "}}, 69},
    {"3gp", {{4, "ftyp3gp4"}}, 68},
    {"m4v", {{4, "ftypM4V "}}, 71},
    {"mp4 isom", {{4, "ftypisom"}}, 72},
    {"mp4 mmp4", {{4, "ftypmmp4"}}, 72},
    {"mov qt", {{4, "ftypqt  "}}, 67},
    {"mpeg ps", {{0, B({0, 0, 1, 0xBA, 0x21, 0, 1, 0})}}, 82},
    {"mpeg2 ps", {{0, B({0, 0, 1, 0xBA, 0x44, 0, 4, 0})}}, 82},
    {"mpeg ps other clock no", {{0, B({0, 0, 1, 0xBA, 0x44, 0, 4, 1})}}, NO_TYPE},
    {"avi", {{0, "RIFF"}, {8, "AVI "}}, 73},
    {"riff other no", {{0, "RIFF"}, {8, "WEBPVP8 "}}, NO_TYPE},
    {"dwg", {{0, "AC1015"}}, 75},
    {"dsw", {{0, "Microsoft Developer Studio Workspace"}}, 80},
    {"sln", {{0, "Microsoft Visual Studio Solution File"}}, 81},
    {"micr other no", {{0, "Microsoft Word"}}, NO_TYPE},
    {"sln bom", {{0, "\xEF\xBB\xBF\r\nMicrosoft Visual Studio Solution"}}, 81},
    {"ui xml", {{0, "<Ui xmlns="}}, 152},
    {"xml decl", {{0, "<?xml version"}}, 79},
    {"xml tail", {{0, "l version"}}, 79},
    {"head", {{0, "<HEAD>"}}, 79},
    {"script", {{0, "<script>"}}, 79},
    {"utf16 markup", {{0, B({0xFF, 0xFE, 0x3C, 0x00})}}, 79},
    {"bom markup", {{0, "\xEF\xBB\xBF<html>"}}, 79},
    {"html", {{0, "<html>"}}, 79},
    {"html upper after breaks", {{0, "\r\n\r\n<HTML>"}}, 79},
    {"doctype", {{0, "\n<!doctype html>"}}, 79},
    {"comment", {{0, "<!-- x -->"}}, 79},
    {"schema", {{0, "\r\n<xs:schema"}}, 79},
    {"xml decl after breaks with space no", {{0, "\r\n<?xml version"}}, NO_TYPE},
    {"xml decl after breaks then zero", {{0, B({'\r', '\n', '<', '?', 'x', 'm', 'l', 0, 1})}}, 79},
    {"eleven breaks no", {{0, "\n\n\n\n\n\n\n\n\n\n\n<html>"}}, NO_TYPE},
    {"other tag no", {{0, "<body>"}}, NO_TYPE},
    {"text no", {{0, "hello world"}}, NO_TYPE},
};

TEST(SignatureSniff, RecognisesEachSignatureInChainOrder) {
    for (const SniffCase& c : kCases) {
        std::vector<uint8_t> s = Sector(c);
        uint32_t type = 0;
        bool recognised = SniffFileSignature(s.data(), type);
        EXPECT_EQ(type, c.expected) << c.name;
        EXPECT_EQ(recognised, c.expected != NO_TYPE) << c.name;
        // The sniff looks at no more than the first 49 bytes: on an exact
        // 49-byte copy (ASan guards its end) it answers the same.
        std::vector<uint8_t> head(s.begin(), s.begin() + 49);
        uint32_t headType = 0;
        SniffFileSignature(head.data(), headType);
        EXPECT_EQ(headType, c.expected) << c.name;
    }
}

TEST(SignatureSniff, EmptyAndFillerSectorsAreNeverRecognised) {
    // Byte 8 onwards would match the WAVE test; the first two words decide first.
    for (uint8_t fill : {uint8_t(0x00), uint8_t(0x7F)}) {
        std::vector<uint8_t> s(512, fill);
        std::memcpy(s.data() + 8, "WAVEfmt ", 8);
        uint32_t type = 0;
        EXPECT_FALSE(SniffFileSignature(s.data(), type));
        EXPECT_EQ(type, NO_TYPE);
    }
    // Only one word zero is not an empty sector.
    std::vector<uint8_t> s(512, 0);
    s[4] = 1;
    std::memcpy(s.data() + 8, "WAVEfmt ", 8);
    uint32_t type = 0;
    EXPECT_TRUE(SniffFileSignature(s.data(), type));
    EXPECT_EQ(type, 53u);
}

TEST(SignatureSniff, EarlierTestsWinOverLaterOnes) {
    // An OOXML header is also a ZIP local header; a RIFF with both "anih" and
    // "AVI " is an animated cursor because that test comes first.
    SniffCase both{"", {{0, "RIFF"}, {8, "AVI anih"}}, 85};
    std::vector<uint8_t> s = Sector(both);
    uint32_t type = 0;
    EXPECT_TRUE(SniffFileSignature(s.data(), type));
    EXPECT_EQ(type, 85u);
}

}  // namespace
}  // namespace kestrel
