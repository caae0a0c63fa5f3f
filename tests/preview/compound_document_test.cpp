#include "preview/compound_document.h"

#include <gtest/gtest.h>

#include <random>

#include "compound_test_support.h"
#include "preview/extractors.h"

namespace kestrel {
namespace {

using test::BuildCompoundFile;
using test::Bytes;
using test::ReadDocument;

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = uint8_t(seed + i * 7 + i / 251);
    return b;
}

TEST(CompoundDocument, ReadsTheStreamsLibreOfficeWrote) {
    for (const auto& [file, streams] :
         std::vector<std::pair<std::string, std::vector<std::string>>>{
             {"words.doc", {"WordDocument", "1Table"}}, {"sheets.xls", {"Workbook"}}}) {
        const Bytes bytes = ReadDocument(file);
        const auto doc = CompoundDocument::Open(ByteView(bytes));
        ASSERT_TRUE(doc) << file;
        for (const std::string& name : streams) {
            const auto s = doc->ReadStream(name);
            ASSERT_TRUE(s) << file << " " << name;
            EXPECT_GT(s->size(), 0u) << file << " " << name;
        }
        EXPECT_FALSE(doc->ReadStream("workbook"));  // names match exactly
    }
}

// Sizes around the 4095-byte line between the mini stream and the FAT, and
// around both sector sizes.
TEST(CompoundDocument, StreamsRoundTripOnBothSidesOfTheMiniStreamLine) {
    const std::vector<size_t> sizes = {0, 1, 63, 64, 65, 4095, 4096, 4097, 5000};
    std::vector<test::NamedStream> streams;
    for (size_t i = 0; i < sizes.size(); ++i)
        streams.push_back({std::string("s").append(std::to_string(sizes[i])),
                           Pattern(sizes[i], uint8_t(i))});
    const Bytes file = BuildCompoundFile(streams);
    const auto doc = CompoundDocument::Open(ByteView(file));
    ASSERT_TRUE(doc);
    for (const auto& [name, bytes] : streams) {
        const auto s = doc->ReadStream(name);
        ASSERT_TRUE(s) << name;
        EXPECT_EQ(*s, bytes) << name;
    }
}

struct Damage {
    const char* what;
    void (*apply)(Bytes&);
    bool opens;  // whether Open still succeeds; the stream "big" never reads
};

void SetU32(Bytes& b, size_t off, uint32_t v) { StoreU32(&b[off], v); }
constexpr size_t kFat = 512;  // the builder puts FAT sector 0 right after the header

TEST(CompoundDocument, DamagedStructuresFailWithoutLoopingOrOverreading) {
    // Sector 0 FAT, 1 directory, 2 mini FAT, 3 mini stream, 4.. "big".
    const std::vector<test::NamedStream> streams = {{"small", Pattern(100, 1)},
                                                    {"big", Pattern(2000 + 4096, 2)}};
    const Damage cases[] = {
        {"big stream's chain loops back", [](Bytes& b) { SetU32(b, kFat + 4 * 6, 4); }, true},
        {"big stream's chain leaves the FAT", [](Bytes& b) { SetU32(b, kFat + 4 * 6, 0x7FFFFFFF); },
         false},
        {"big stream starts past the file",
         [](Bytes& b) {
             SetU32(b, kFat + 4 * 127, 0xFFFFFFFE);
             SetU32(b, 1024 + 256 + 116, 127);
         },
         true},
        {"FAT entry below -4", [](Bytes& b) { SetU32(b, kFat + 4 * 100, 0xFFFFFFF0); }, false},
        {"FAT sector count disagrees", [](Bytes& b) { SetU32(b, 44, 2); }, false},
        {"directory chain loops", [](Bytes& b) { SetU32(b, kFat + 4 * 1, 1); }, false},
        {"no Root Entry", [](Bytes& b) { b[1024] = 'X'; }, false},
        {"mini FAT entry below -4", [](Bytes& b) { SetU32(b, 1536 + 4 * 3, 0x80000000); }, false},
        {"signature", [](Bytes& b) { b[0] = 0; }, false},
        {"shorter than 1024 bytes", [](Bytes& b) { b.resize(1023); }, false},
    };
    for (const Damage& d : cases) {
        Bytes file = BuildCompoundFile(streams);
        d.apply(file);
        const auto doc = CompoundDocument::Open(ByteView(file));
        EXPECT_EQ(bool(doc), d.opens) << d.what;
        if (doc) {
            EXPECT_FALSE(doc->ReadStream("big")) << d.what;
        }
    }
}

TEST(CompoundDocument, MiniChainLoopOrOverrunFailsTheSmallStreamOnly) {
    const std::vector<test::NamedStream> streams = {{"small", Pattern(200, 1)},
                                                    {"big", Pattern(5000, 2)}};
    for (uint32_t link : {0u, 1000u}) {  // back to its first mini sector; past the mini stream
        Bytes file = BuildCompoundFile(streams);
        SetU32(file, 1536 + 4 * 2, link);  // the small stream's third mini sector
        const auto doc = CompoundDocument::Open(ByteView(file));
        ASSERT_TRUE(doc);
        EXPECT_FALSE(doc->ReadStream("small")) << link;
        EXPECT_TRUE(doc->ReadStream("big")) << link;
    }
}

TEST(CompoundDocument, EntriesFailingTheNameTestAreNotFound) {
    Bytes file = BuildCompoundFile({{"Workbook", Pattern(100, 1)}});
    const size_t entry = 1024 + 128;
    SetU32(file, entry + 64, 20);  // name size says 9 characters, the name has 8
    EXPECT_FALSE(CompoundDocument::Open(ByteView(file))->ReadStream("Workbook"));
}

// Truncations, header and FAT mutations and random sectors on the real
// documents: each extractor returns a text or nothing, never crashes or
// hangs (run under the sanitizers).
TEST(CompoundDocument, ExtractorsSurviveDamagedRealDocuments) {
    std::mt19937 random(20261211);
    for (const char* name : {"words.doc", "sheets.xls"}) {
        const Bytes good = ReadDocument(name);
        ASSERT_GT(good.size(), 2048u);
        std::vector<Bytes> damaged;
        for (size_t cut = 512; cut < good.size(); cut += 448)
            damaged.emplace_back(good.begin(), good.begin() + cut);
        for (size_t off : {44u, 48u, 60u, 64u, 68u, 72u, 76u, 80u}) {
            for (uint32_t v : {0u, 1u, 0x7FFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFCu, 1000u}) {
                damaged.push_back(good);
                SetU32(damaged.back(), off, v);
            }
        }
        for (size_t i = 0; i < 128; ++i) {  // FAT sector entries pointed elsewhere
            damaged.push_back(good);
            const size_t fatPos = 512 * (size_t(good[76]) + 1);
            SetU32(damaged.back(), fatPos + 4 * i, uint32_t(random() % 24) - 4);
        }
        for (int round = 0; round < 200; ++round) {
            Bytes b = good;
            const size_t sector = random() % (b.size() / 512);
            const size_t count = 1 + random() % 16;
            for (size_t k = 0; k < count; ++k) b[sector * 512 + random() % 512] = uint8_t(random());
            damaged.push_back(std::move(b));
        }
        for (const Bytes& b : damaged) {
            const auto word = ExtractWordText(ByteView(b));
            const auto excel = ExtractExcelText(ByteView(b));
            if (word) {
                EXPECT_LE(word->size(), 2 * 16384u + 100u);
            }
            if (excel) {
                EXPECT_FALSE(excel->empty());
            }
        }
    }
}

}  // namespace
}  // namespace kestrel
