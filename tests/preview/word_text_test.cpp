#include <gtest/gtest.h>

#include <optional>

#include "compound_test_support.h"
#include "platform/wide_text.h"
#include "preview/document_header.h"
#include "preview/extractors.h"

namespace kestrel {
namespace {

using test::Bytes;

constexpr size_t kTextStart = 1024;  // where the built documents keep their characters
constexpr uint32_t k8Bit = 0x40000000;

struct Piece {
    uint32_t chars;
    uint32_t fc;  // the text position as stored: bit 30 marks 8-bit text at fc / 2
};

// A document whose "WordDocument" stream holds `text` at kTextStart (padded
// past the mini-stream size) and whose table stream holds the piece table.
Bytes BuildWordFile(const Bytes& text, const std::vector<Piece>& pieces,
                    const std::string& tableName = "1Table", size_t tableCut = SIZE_MAX) {
    Bytes doc(kTextStart, 0);
    doc.insert(doc.end(), text.begin(), text.end());
    doc.resize(std::max<size_t>(doc.size(), 4096), 0);
    constexpr uint32_t kClx = 16;
    StoreU32(&doc[418], kClx);
    Bytes table(kClx, 0);
    table.push_back(2);
    const size_t size = 4 + 12 * pieces.size();
    table.resize(table.size() + 4 + size, 0);
    StoreU32(&table[kClx + 1], uint32_t(size));
    uint32_t cp = 0;
    const size_t positions = kClx + 5, descriptors = positions + 4 * (pieces.size() + 1);
    for (size_t i = 0; i < pieces.size(); ++i) {
        StoreU32(&table[positions + 4 * i], cp);
        cp += pieces[i].chars;
        StoreU32(&table[descriptors + 8 * i + 2], pieces[i].fc);
    }
    StoreU32(&table[positions + 4 * pieces.size()], cp);
    if (tableCut < table.size()) table.resize(tableCut);
    return test::BuildCompoundFile({{"WordDocument", doc}, {tableName, table}});
}

Bytes Chars8(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes Chars16(std::u16string_view s) {
    Bytes b(2 * s.size());
    for (size_t i = 0; i < s.size(); ++i) StoreU16(&b[2 * i], s[i]);
    return b;
}
uint32_t Fc8(size_t offset) { return k8Bit | uint32_t(2 * (kTextStart + offset)); }
uint32_t Fc16(size_t offset) { return uint32_t(kTextStart + offset); }

std::optional<WString> Body(const Bytes& file) {
    auto text = ExtractWordText(ByteView(file));
    if (!text) return std::nullopt;
    const WStringView header = DocumentHeaderUtf16();
    EXPECT_EQ(WStringView(*text).substr(0, header.size()), header);
    return text->substr(header.size());
}

TEST(WordText, LibreOfficeDocumentShowsItsParagraphsAfterTheHeader) {
    const Bytes file = test::ReadDocument("words.doc");
    const auto text = ExtractWordText(ByteView(file));
    ASSERT_TRUE(text);
    EXPECT_EQ(Utf8FromWide(*text),
              Utf8FromWide(DocumentHeaderUtf16()) +
                  "Kestrel alpha paragraph\r\ntabbed word second bravo\r\n中文恢复测试\r\n");
}

TEST(WordText, PieceRules) {
    const Bytes mixed = [] {
        Bytes b = Chars16(u"Wide\u4E2D ");
        const Bytes narrow = Chars8("narrow\xE9");
        b.insert(b.end(), narrow.begin(), narrow.end());
        return b;
    }();
    struct Case {
        const char* what;
        Bytes file;
        std::optional<std::u16string> body;
    } cases[] = {
        {"8-bit piece: CR runs collapse, controls and tabs become spaces",
         BuildWordFile(Chars8("a\tb\r\r\rc\x01\x07\x0b\x0c\x1f\r"), {{13, Fc8(0)}}),
         u"a b\r\nc     \r\n"},
        {"16-bit then 8-bit piece; 8-bit bytes are widened, not decoded",
         BuildWordFile(mixed, {{6, Fc16(0)}, {7, Fc8(12)}}), u"Wide\u4E2D narrow\u00E9"},
        {"table stream named 0Table", BuildWordFile(Chars8("zero"), {{4, Fc8(0)}}, "0Table"),
         u"zero"},
        {"piece text outside the document stream ends the text",
         BuildWordFile(Chars8("kept"), {{4, Fc8(0)}, {10, Fc8(5000)}}), u"kept"},
        {"piece descriptor outside the table stream ends the text",
         BuildWordFile(Chars8("onetwo"), {{3, Fc8(0)}, {3, Fc8(3)}}, "1Table", 16 + 5 + 12 + 8 + 4),
         u"one"},
        {"no pieces", BuildWordFile(Chars8("none"), {}), std::nullopt},
        {"only empty pieces", BuildWordFile(Chars8("none"), {{0, Fc8(0)}}), std::nullopt},
        {"no table stream", BuildWordFile(Chars8("none"), {{4, Fc8(0)}}, "2Table"), std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(Body(c.file), c.body) << c.what;
}

TEST(WordText, TextStopsAt16384CharactersCuttingThePieceThatPassesIt) {
    const Bytes text = Chars8(std::string(16000, 'a') + std::string(1000, 'b'));
    const auto body = Body(BuildWordFile(text, {{16000, Fc8(0)}, {1000, Fc8(16000)}}));
    ASSERT_TRUE(body);
    EXPECT_EQ(*body, std::u16string(16000, u'a') + std::u16string(384, u'b'));
}

}  // namespace
}  // namespace kestrel
