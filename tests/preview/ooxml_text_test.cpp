#include <gtest/gtest.h>

#include "platform/bytes.h"
#include "preview/document_header.h"
#include "preview/extractors.h"
#include "tests/preview/compound_test_support.h"
#include "tests/preview/zip_layout.h"

namespace kestrel {
namespace {

using test::ReadDocument;

std::optional<std::string> Extract(const std::vector<uint8_t>& bytes, WStringView name) {
    return ExtractOoxmlText(ByteView(bytes.data(), bytes.size()), name);
}

// The text after the 132-byte header line; fails the test when the header
// is not there.
std::string Body(const std::optional<std::string>& text) {
    const std::string_view header = DocumentHeaderUtf8();
    if (!text || text->compare(0, header.size(), header) != 0) {
        ADD_FAILURE() << "no header line";
        return {};
    }
    return text->substr(header.size());
}

// The documents were written by LibreOffice (every member with its sizes in
// a data descriptor) and hold the words their script put in.
TEST(OoxmlText, ExtractsTheRunsOfEachDocumentKind) {
    const auto docx = ReadDocument("words.docx.gz");
    const auto xlsx = ReadDocument("cells.xlsx.gz");
    ASSERT_FALSE(docx.empty());
    ASSERT_FALSE(xlsx.empty());
    // The bold one-letter run "Q" between "charlie " and " delta" is dropped.
    EXPECT_EQ(Body(Extract(docx, u"words.docx")),
              "Kestrel alpha paragraphSecond bravo paragraph中文恢复测试charlie  delta");
    EXPECT_EQ(Body(Extract(xlsx, u"cells.xlsx")), "NameValueechowordfoxtrotwordgolfword");
    // The extension picks the member, in any case; a name that promises
    // something else finds no member and fails.
    EXPECT_EQ(Body(Extract(xlsx, u"CELLS.XLSX")), "NameValueechowordfoxtrotwordgolfword");
    EXPECT_FALSE(Extract(xlsx, u"cells.docx"));
    EXPECT_FALSE(Extract(docx, u"words.xlsx"));
}

TEST(OoxmlText, PresentationShowsSlidesUpToNineteen) {
    const auto pptx = ReadDocument("slides.pptx.gz");
    ASSERT_FALSE(pptx.empty());
    const std::string body = Body(Extract(pptx, u"slides.pptx"));
    for (int n = 1; n <= 25; ++n) {
        char word[16];
        std::snprintf(word, sizeof word, "slideword%02d", n);
        EXPECT_EQ(body.find(word) != std::string::npos, n <= 19) << word;
    }
    EXPECT_LT(body.find("slideword01"), body.find("slideword19"));
}

// bigslides.pptx: slides 1 and 2 of 64 KiB each would reach the 128 KiB
// limit together, so slide 2 is left out and the small slide 3 still shown.
TEST(OoxmlText, SlideThatWouldPassTheLimitIsSkipped) {
    const auto pptx = ReadDocument("bigslides.pptx.gz");
    ASSERT_FALSE(pptx.empty());
    const std::string body = Body(Extract(pptx, u"bigslides.pptx"));
    EXPECT_NE(body.find("bigslide01"), std::string::npos);
    EXPECT_EQ(body.find("bigslide02"), std::string::npos);
    EXPECT_NE(body.find("bigslide03"), std::string::npos);
}

struct ZipLayout {
    size_t endRecord = 0;
    size_t centralDirectory = 0;
    size_t documentData = 0;  // first compressed byte of word/document.xml
};

ZipLayout Layout(const std::vector<uint8_t>& zip) {
    const ByteView v(zip.data(), zip.size());
    ZipLayout layout;
    layout.endRecord = test::ZipEndRecordOffset(zip);
    layout.centralDirectory = test::ZipCentralDirectoryOffset(zip);
    for (size_t pos = 0; pos + 30 < zip.size(); ++pos) {
        if (v.U32(pos) == 0x04034B50 && v.Equals(pos + 30, "word/document.xml", 17)) {
            layout.documentData = pos + 30 + v.U16(pos + 26) + v.U16(pos + 28);
            break;
        }
    }
    return layout;
}

// Damage that must fail the extraction rather than vouch for the file.
TEST(OoxmlText, DamagedDocumentsFail) {
    const auto docx = ReadDocument("words.docx.gz");
    ASSERT_FALSE(docx.empty());
    const ZipLayout at = Layout(docx);
    ASSERT_GT(at.endRecord, at.centralDirectory);
    ASSERT_GT(at.documentData, 0u);
    struct Case {
        const char* what;
        size_t offset;
        std::vector<uint8_t> bytes;
    };
    const std::vector<Case> cases = {
        {"first local header signature", 0, {'X'}},
        {"central directory offset past the end record",
         at.endRecord + 16,
         {0xFF, 0xFF, 0xFF, 0x7F}},
        {"central header signature", at.centralDirectory, {'X'}},
        {"document data", at.documentData + 20, {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA}},
    };
    for (const Case& c : cases) {
        auto bad = docx;
        std::copy(c.bytes.begin(), c.bytes.end(), bad.begin() + c.offset);
        EXPECT_FALSE(Extract(bad, u"words.docx")) << c.what;
    }
    const std::vector<uint8_t> noEnd(docx.begin(), docx.begin() + at.endRecord + 21);
    EXPECT_FALSE(Extract(noEnd, u"words.docx"));
}

// Sizes written in the local headers (python's zipfile) are stepped over
// header by header; a wrong compressed size breaks that walk.
TEST(OoxmlText, WalkStepsOverLocalHeadersWithSizes) {
    auto pptx = ReadDocument("bigslides.pptx.gz");
    ASSERT_FALSE(pptx.empty());
    ASSERT_TRUE(Extract(pptx, u"bigslides.pptx"));
    ASSERT_EQ(ByteView(pptx.data(), pptx.size()).U16(6) & 8, 0);
    pptx[18] ^= 0x01;
    EXPECT_FALSE(Extract(pptx, u"bigslides.pptx"));
}

// Truncations and mutations anywhere: nothing or a text with the header,
// never a crash or a hang.
TEST(OoxmlText, DamagedDocumentsNeverCrash) {
    for (const char* name : {"words.docx.gz", "bigslides.pptx.gz"}) {
        const auto doc = ReadDocument(name);
        ASSERT_FALSE(doc.empty());
        const std::u16string fileName = name[0] == 'w' ? u"words.docx" : u"bigslides.pptx";
        for (size_t len = 0; len <= doc.size(); len += 97) {
            const std::vector<uint8_t> cut(doc.begin(), doc.begin() + len);
            const auto text = Extract(cut, fileName);
            if (text) Body(text);
        }
        for (size_t pos = 0; pos < doc.size(); pos += 3) {
            auto bad = doc;
            bad[pos] ^= 0xFF;
            const auto text = Extract(bad, fileName);
            if (text) Body(text);
        }
    }
}

}  // namespace
}  // namespace kestrel
