#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "carving/signature_find.h"
#include "carving/type_ids.h"
#include "tests/carving/carving_samples.h"

namespace kestrel {
namespace {

using test::AnalyzeBytes;
using test::Bytes;
using test::LoadSample;

struct SampleCase {
    const char* file;
    uint32_t sniffed;  // NO_TYPE: the sample's first sector is not one the sniff knows
    uint32_t analyzeAs;
    uint32_t finalType;
};

// Real files made by real tools (see tests/data/carving/make_samples.sh).
const SampleCase kSamples[] = {
    {"sample.jpg", 46, 46, 46},    {"sample.bmp", 48, 48, 48},  {"sample.wav", 53, 53, 53},
    {"sample.mp3", 54, 54, 54},    {"sample.avi", 73, 73, 73},  {"sample.mp4", 72, 72, 67},
    {"sample.mov", 67, 67, 67},    {"sample.3gp", 68, 68, 67},  {"sample.m4a", 69, 69, 67},
    {"sample.flv", 64, 64, 64},    {"sample.mkv", 86, 86, 86},  {"sample.rm", 66, 66, 66},
    {"sample.wmv", 108, 108, 108}, {"sample.zip", 61, 61, 61},  {"sample.docx", 37, 37, 37},
    {"sample.xlsx", 37, 37, 38},   {"sample.pptx", 37, 37, 89}, {"sample.doc", 36, 36, 36},
    {"sample.xls", 36, 36, 87},    {"sample.ppt", 36, 36, 90},  {"sample.mpg", 82, 82, 82},
};

TEST(FormatAnalyzers, RealFilesAreCompleteWithTheirExactSize) {
    for (const SampleCase& c : kSamples) {
        SCOPED_TRACE(c.file);
        Bytes file = LoadSample(c.file);
        ASSERT_GE(file.size(), 64u);
        if (std::string(c.file) == "sample.rm") file = test::WithIndexChunk(file);
        Bytes first(file.begin(), file.begin() + ptrdiff_t(std::min<size_t>(512, file.size())));
        first.resize(512);
        uint32_t sniffed = 0;
        SniffFileSignature(first.data(), sniffed);
        EXPECT_EQ(sniffed, c.sniffed);
        auto r = AnalyzeBytes(file, c.analyzeAs);
        EXPECT_EQ(r.status, uint32_t(kFindComplete));
        EXPECT_EQ(r.find.status, r.status);
        EXPECT_EQ(r.find.length, file.size());
        EXPECT_EQ(r.find.typeId, c.finalType);
    }
}

TEST(FormatAnalyzers, HandBuiltRarChmAndHlpAreComplete) {
    Bytes rar = test::MakeRar4();
    uint32_t sniffed = 0;
    EXPECT_TRUE(SniffFileSignature(test::MakeChm(0x2000).data(), sniffed));
    EXPECT_EQ(sniffed, 39u);
    EXPECT_TRUE(SniffFileSignature(test::MakeHlp(0x1000, 0x200).data(), sniffed));
    EXPECT_EQ(sniffed, 41u);
    Bytes rarSector = rar;
    rarSector.resize(512);
    EXPECT_TRUE(SniffFileSignature(rarSector.data(), sniffed));
    EXPECT_EQ(sniffed, 62u);

    auto r = AnalyzeBytes(rar, 62);
    EXPECT_EQ(r.status, uint32_t(kFindComplete));
    EXPECT_EQ(r.find.length, rar.size());
    r = AnalyzeBytes(test::MakeChm(0x2000), 39);
    EXPECT_EQ(r.status, uint32_t(kFindComplete));
    EXPECT_EQ(r.find.length, 0x2000u);
    r = AnalyzeBytes(test::MakeHlp(0x1000, 0x200), 41);
    EXPECT_EQ(r.status, uint32_t(kFindComplete));
    EXPECT_EQ(r.find.length, 0x1000u);
}

// Offset of the first run of bytes equal to `text`; a missing one fails the test.
size_t Find(const Bytes& b, const std::string& text) {
    const Bytes t(text.begin(), text.end());
    auto it = std::search(b.begin(), b.end(), t.begin(), t.end());
    if (it == b.end()) {
        ADD_FAILURE() << "sample lacks the bytes to corrupt";
        return 0;
    }
    return size_t(it - b.begin());
}

struct Corruption {
    const char* file;
    uint32_t type;
    const char* what;
    void (*apply)(Bytes&);
};

const Corruption kCorruptions[] = {
    {"sample.avi", 73, "hdrl list renamed", [](Bytes& b) { b[12] = 'X'; }},
    {"sample.mp4", 72, "no moov", [](Bytes& b) { std::memcpy(&b[Find(b, "moov")], "frea", 4); }},
    {"sample.mp4", 72, "second atom type not alphanumeric",
     [](Bytes& b) { b[test::Bytes::size_type(b[3]) + 4] = '!'; }},
    {"sample.zip", 61, "first member's compressed size off by one", [](Bytes& b) { b[18] += 1; }},
    {"sample.zip", 61, "end record signature broken",
     [](Bytes& b) { b[Find(b, "PK\x05\x06") + 3] = 0; }},
    {"sample.docx", 37, "central header signature broken",
     [](Bytes& b) { b[Find(b, "PK\x01\x02") + 2] = 0; }},
    // As ffmpeg writes it: nothing after the data chunk but an 8-byte zero marker.
    {"sample.rm", 66, "no chunk after the data chunk", [](Bytes&) {}},
    {"sample.wmv", 108, "second object unknown",
     [](Bytes& b) { b[size_t(b[16]) + b[17] * 256] ^= 1; }},
    {"sample.flv", 64, "not FLV", [](Bytes& b) { b[1] = 'X'; }},
    {"sample.mkv", 86, "EBML size of length 3", [](Bytes& b) { b[4] = 0x20; }},
    {"sample.mkv", 86, "no segment after header",
     [](Bytes& b) { b[Find(b, "\x18\x53\x80\x67")] = 0x19; }},
    {"sample.mpg", 82, "first packet length past the read", [](Bytes& b) { b[18] = 0x02; }},
    {"sample.mp3", 54, "unknown ID3 version", [](Bytes& b) { b[3] = 5; }},
    {"sample.mp3", 54, "ID3 tag above 10 MiB", [](Bytes& b) { b[6] = 0x05; }},
    {"sample.wav", 53, "data size disagrees", [](Bytes& b) { b[40] += 2; }},
    {"sample.jpg", 46, "no marker after SOI", [](Bytes& b) { b[2] = 0x00; }},
    {"sample.bmp", 48, "108-byte info header", [](Bytes& b) { b[14] = 108; }},
    {"sample.bmp", 48, "reserved word set", [](Bytes& b) { b[6] = 1; }},
    {"sample.doc", 36, "FAT sector count off by one", [](Bytes& b) { b[44] += 1; }},
    {"sample.doc", 36, "directory outside the FAT",
     [](Bytes& b) { test::PutU32(b, 48, 0x7FFFFF); }},
    {"sample.tif", 49, "no directory", [](Bytes& b) { test::PutU32(b, 4, 0); }},
};

TEST(FormatAnalyzers, CorruptedCopiesAreRejected) {
    for (const Corruption& c : kCorruptions) {
        SCOPED_TRACE(std::string(c.file) + ": " + c.what);
        Bytes file = LoadSample(c.file);
        c.apply(file);
        // A raw is only walked with its 56 MiB in memory.
        auto r = AnalyzeBytes(file, c.type, c.type == 49 ? 0x4000000 : 0x100000);
        EXPECT_EQ(r.status, uint32_t(kFindRejected));
    }
}

TEST(FormatAnalyzers, TruncatedWalksAreRejectedOrWait) {
    // Structure walks cut in half: the end of the structure is missing.
    struct Cut {
        const char* file;
        uint32_t type;
        uint32_t expected;
    };
    const Cut cuts[] = {
        {"sample.avi", 73, kFindRejected}, {"sample.mp4", 72, kFindRejected},
        {"sample.zip", 61, kFindRejected}, {"sample.docx", 37, kFindRejected},
        {"sample.rm", 66, kFindRejected},  {"sample.doc", 36, kFindRejected},
        {"sample.mpg", 82, kFindRejected},
    };
    for (const Cut& c : cuts) {
        SCOPED_TRACE(c.file);
        Bytes file = LoadSample(c.file);
        file.resize(file.size() / 2);
        auto r = AnalyzeBytes(file, c.type, 0x4000000);
        EXPECT_EQ(r.status, c.expected);
    }
    // Without its end marker a JPEG waits for the next block of the medium.
    Bytes jpg = LoadSample("sample.jpg");
    jpg.resize(jpg.size() / 2);
    auto r = AnalyzeBytes(jpg, 46, 0x100000);
    EXPECT_EQ(r.status, uint32_t(kFindPending));
    EXPECT_EQ(r.find.neededFirst, test::kSampleSector);
    EXPECT_EQ(r.find.neededLast, test::kSampleSector + (0x100000 + 0x800000) / 512 - 1);
    // A full window cannot hold more: it keeps waiting on a range no window
    // serves, so the find stays listed with unknown length.
    r = AnalyzeBytes(jpg, 46, 0x4000000);
    EXPECT_EQ(r.status, uint32_t(kFindPending));
    EXPECT_GT(r.find.neededLast - r.find.neededFirst, 0x20000u);

    // Frame and tag walks keep what they could confirm.
    for (auto [file, type] : {std::pair{"sample.mp3", 54u}, std::pair{"sample.flv", 64u}}) {
        SCOPED_TRACE(file);
        Bytes b = LoadSample(file);
        const size_t full = b.size();
        b.resize(full * 3 / 4);
        auto r = AnalyzeBytes(b, type);
        ASSERT_EQ(r.status, uint32_t(kFindComplete));
        // The last frame or tag counted may be the one that was cut.
        EXPECT_LE(r.find.length, b.size() + 1500);
        EXPECT_GT(r.find.length, full / 2);
    }
}

TEST(FormatAnalyzers, QuickTimeEndsAtFirstNonAlphanumericAtom) {
    Bytes mp4 = LoadSample("sample.mp4");
    const size_t size = mp4.size();
    // Garbage that is not an atom right after the file.
    Bytes padded = mp4;
    const char tail[] = "\x00\x00\x00\x10\x01\x02\x03\x04";
    padded.insert(padded.end(), tail, tail + 8);
    auto r = AnalyzeBytes(padded, 72);
    ASSERT_EQ(r.status, uint32_t(kFindComplete));
    EXPECT_EQ(r.find.length, size);
    EXPECT_EQ(r.find.typeId, 67u);
    // A second movie box ends the file before it.
    Bytes twice = mp4;
    twice.insert(twice.end(), mp4.begin() + ptrdiff_t(Find(mp4, "moov") - 4), mp4.end());
    r = AnalyzeBytes(twice, 72);
    ASSERT_EQ(r.status, uint32_t(kFindComplete));
    EXPECT_EQ(r.find.length, size);
}

TEST(FormatAnalyzers, WaveWithLongFormatChunkIsRejected) {
    Bytes wav = LoadSample("sample.wav");
    // Grow the format chunk to 18 bytes (cbSize 0): a valid file that is not canonical.
    wav.insert(wav.begin() + 36, 2, 0);
    test::PutU32(wav, 16, 18);
    test::PutU32(wav, 4, uint32_t(wav.size() - 8));
    EXPECT_EQ(AnalyzeBytes(wav, 53).status, uint32_t(kFindRejected));
}

TEST(FormatAnalyzers, ZipEndRecordCommentCountsInTheLength) {
    Bytes zip = LoadSample("sample.zip");
    const size_t end = Find(zip, "PK\x05\x06");
    test::PutU16(zip, end + 20, 10);
    const char comment[] = "0123456789";
    zip.insert(zip.end(), comment, comment + 10);
    auto r = AnalyzeBytes(zip, 61);
    ASSERT_EQ(r.status, uint32_t(kFindComplete));
    EXPECT_EQ(r.find.length, end + 32);
}

TEST(FormatAnalyzers, ZipWithDataDescriptorsIsRejected) {
    Bytes zip = LoadSample("sample_streamed.zip");
    ASSERT_NE(zip[6] & 0x08, 0) << "the sample should use data descriptors";
    EXPECT_EQ(AnalyzeBytes(zip, 61).status, uint32_t(kFindRejected));
}

TEST(FormatAnalyzers, CompoundDocumentWithoutKnownStreamIsRejected) {
    Bytes xls = LoadSample("sample.xls");
    const std::u16string name = u"Workbook";
    std::string raw(reinterpret_cast<const char*>(name.data()), name.size() * 2);
    size_t at = Find(xls, raw);
    ASSERT_NE(at, std::string::npos);
    xls[at] = 'X';
    EXPECT_EQ(AnalyzeBytes(xls, 36).status, uint32_t(kFindRejected));
}

TEST(FormatAnalyzers, TiffRawTypeFollowsTheCameraMaker) {
    Bytes tif = LoadSample("sample.tif");
    const size_t make = Find(tif, "PLACEHOLDERMAKER");
    ASSERT_NE(make, std::string::npos);
    const struct {
        const char* make;
        uint32_t type;
    } makers[] = {{"Canon", 49},    {"NIKON CORP", 92},      {"PENTAX", 98},  {"SONY", 101},
                  {"OLYMPUS", 104}, {"Panasonic", 50},       {"SAMSUNG", 52}, {"Mamiya", 102},
                  {"FUJIFILM", 50}, {"PLACEHOLDERMAKER", 50}};
    for (const auto& m : makers) {
        SCOPED_TRACE(m.make);
        Bytes copy = tif;
        std::fill(copy.begin() + ptrdiff_t(make), copy.begin() + ptrdiff_t(make) + 16, 0);
        std::memcpy(&copy[make], m.make, std::strlen(m.make));
        auto r = AnalyzeBytes(copy, 49, 0x4000000);
        ASSERT_EQ(r.status, uint32_t(kFindComplete));
        EXPECT_EQ(r.find.typeId, m.type);
        EXPECT_EQ(r.find.length, tif.size());
    }
    // The whole 56 MiB must be in memory before the directories are walked.
    auto r = AnalyzeBytes(tif, 49, 0x2000000);
    EXPECT_EQ(r.status, uint32_t(kFindPending));
    EXPECT_EQ(r.find.neededFirst, test::kSampleSector);
    EXPECT_EQ(r.find.neededLast, test::kSampleSector + 0x1C000 - 1);
}

TEST(FormatAnalyzers, SmallTiffIsNotARaw) {
    Bytes tif = LoadSample("sample_small.tif");
    uint32_t sniffed = 0;
    tif.resize(std::max<size_t>(tif.size(), 512));
    ASSERT_TRUE(SniffFileSignature(tif.data(), sniffed));
    EXPECT_EQ(sniffed, 49u);
    EXPECT_EQ(AnalyzeBytes(tif, 49, 0x4000000).status, uint32_t(kFindRejected));
}

TEST(FormatAnalyzers, HandBuiltHeadersRejectBadFields) {
    Bytes rar = test::MakeRar4();
    Bytes badType = rar;
    badType[7 + 2] = 0x55;
    EXPECT_EQ(AnalyzeBytes(badType, 62).status, uint32_t(kFindRejected));
    Bytes zeroHeader = rar;
    test::PutU16(zeroHeader, 7 + 5, 0);
    EXPECT_EQ(AnalyzeBytes(zeroHeader, 62).status, uint32_t(kFindRejected));

    Bytes chm = test::MakeChm(0x2000);
    chm[40] = 0x12;
    EXPECT_EQ(AnalyzeBytes(chm, 39).status, uint32_t(kFindRejected));
    EXPECT_EQ(AnalyzeBytes(test::MakeHlp(0x1000, 0x2000), 41).status, uint32_t(kFindRejected));
    EXPECT_EQ(AnalyzeBytes(test::MakeHlp(0x100, 0x20), 41).status, uint32_t(kFindRejected));
}

TEST(FormatAnalyzers, TypesWithoutAnalyzerStayUndecided) {
    Bytes png(512, 0);
    std::memcpy(png.data(), "\x89PNG\r\n\x1A\n", 8);
    auto r = AnalyzeBytes(png, 44);
    EXPECT_EQ(r.status, uint32_t(kFindUndecided));
    EXPECT_EQ(r.find.length, 0u);
    EXPECT_EQ(r.find.typeId, 44u);
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

TEST(FormatAnalyzers, RetypedOfficeDocumentResumesInALaterWindow) {
    // The walk names the workbook before it reaches the central directory;
    // the pending find comes back under id 38 and must still be walked.
    Bytes xlsx = LoadSample("sample.xlsx");
    Bytes buffer((xlsx.size() + 0x10000) & ~size_t(511), 0);
    std::copy(xlsx.begin(), xlsx.end(), buffer.begin());
    SignatureFind find{};
    find.typeId = 37;
    find.startSector = 40;
    const size_t firstPart = (xlsx.size() / 2) & ~size_t(511);
    ASSERT_EQ(AnalyzeSignatureFind(buffer.data(), firstPart, find, 40), uint32_t(kFindPending));
    EXPECT_EQ(find.typeId, 38u);
    ASSERT_EQ(AnalyzeSignatureFind(buffer.data(), buffer.size(), find, 40),
              uint32_t(kFindComplete));
    EXPECT_EQ(find.typeId, 38u);
    EXPECT_EQ(find.length, xlsx.size());
}

}  // namespace
}  // namespace kestrel
