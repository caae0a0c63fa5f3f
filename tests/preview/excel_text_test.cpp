#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "compound_test_support.h"
#include "platform/wide_text.h"
#include "preview/document_header.h"
#include "preview/extractors.h"

namespace kestrel {
namespace {

using test::Bytes;

void Put16(Bytes& b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
    Put16(b, uint16_t(v));
    Put16(b, uint16_t(v >> 16));
}
void PutText(Bytes& b, std::string_view s) { b.insert(b.end(), s.begin(), s.end()); }
void PutWide(Bytes& b, std::u16string_view s) {
    for (char16_t c : s) Put16(b, c);
}

// Sized first and filled by hand: growing the vector here trips false
// stringop-overread and array-bounds warnings of GCC 12 at -O3.
Bytes Record(uint16_t type, const Bytes& body) {
    Bytes r(4 + body.size());
    r[0] = uint8_t(type);
    r[1] = uint8_t(type >> 8);
    r[2] = uint8_t(body.size());
    r[3] = uint8_t(body.size() >> 8);
    if (!body.empty()) std::memcpy(r.data() + 4, body.data(), body.size());
    return r;
}
Bytes Bof(uint16_t kind) { return Record(0x0809, {0x00, 0x06, uint8_t(kind), uint8_t(kind >> 8)}); }
Bytes Eof() { return Record(0x000A, {}); }
Bytes Sheet(std::string_view name) {
    Bytes b(6, 0);
    b.push_back(uint8_t(name.size()));
    b.push_back(0);
    PutText(b, name);
    return Record(0x0085, b);
}
Bytes WideSheet(std::u16string_view name) {
    Bytes b(6, 0);
    b.push_back(uint8_t(name.size()));
    b.push_back(1);
    PutWide(b, name);
    return Record(0x0085, b);
}
Bytes Label(uint32_t index) {
    Bytes b(6, 0);
    Put32(b, index);
    return Record(0x00FD, b);
}

// The shared strings of the tests: 8-bit; 16-bit with formatting runs and
// extended data; 8-bit and 16-bit ones longer than what is kept.
Bytes SharedStrings() {
    Bytes b;
    Put32(b, 5);
    Put32(b, 5);
    Put16(b, 3);
    b.push_back(0);
    PutText(b, "one");
    Put16(b, 2);
    b.push_back(1 | 4 | 8);
    Put16(b, 2);  // runs
    Put32(b, 5);  // extended data
    PutWide(b, u"\u4E24w");
    b.insert(b.end(), 2 * 4 + 5, 0xEE);
    Put16(b, 1100);
    b.push_back(0);
    PutText(b, std::string(1100, 'n'));
    Put16(b, 600);
    b.push_back(1);
    PutWide(b, std::u16string(600, u'w'));
    Put16(b, 5);  // the last string claims more characters than the record holds
    b.push_back(0);
    PutText(b, "cut");
    return Record(0x00FC, b);
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::optional<WString> Body(const Bytes& workbook, const char* streamName = "Workbook") {
    const Bytes file = test::BuildCompoundFile({{streamName, workbook}});
    auto text = ExtractExcelText(ByteView(file));
    if (!text) return std::nullopt;
    const WStringView header = DocumentHeaderUtf16();
    EXPECT_EQ(WStringView(*text).substr(0, header.size()), header);
    return text->substr(header.size());
}

TEST(ExcelText, LibreOfficeWorkbookShowsSheetNamesThenStringCells) {
    const Bytes file = test::ReadDocument("sheets.xls");
    const auto text = ExtractExcelText(ByteView(file));
    ASSERT_TRUE(text);
    EXPECT_EQ(*text, WString(DocumentHeaderUtf16()) + u"A | B | x | y");
}

TEST(ExcelText, RecordRules) {
    const Bytes globals =
        Cat({Bof(5), Sheet("A"), WideSheet(u"\u8868"), Sheet("\xD6\xD0"), SharedStrings(), Eof()});
    const std::u16string names = u"A | \u8868 | \u4E2D";
    struct Case {
        const char* what;
        Bytes workbook;
        std::optional<std::u16string> body;
    } cases[] = {
        {"strings of every form, cut to 1024 8-bit or 512 16-bit characters",
         Cat({globals, Bof(16), Label(0), Label(1), Label(2), Label(3), Eof()}),
         names + u" | one | \u4E24w | " + std::u16string(1024, u'n') + u" | " +
             std::u16string(512, u'w')},
        {"an index past the strings adds nothing",
         Cat({globals, Bof(16), Label(4), Label(0), Eof()}), names + u" | one"},
        {"labels outside a worksheet substream are skipped",
         Cat({globals, Bof(0x20), Label(0), Eof(), Bof(16), Label(1), Eof()}),
         names + u" | \u4E24w"},
        {"the walk ends at a substream that does not start with BOF",
         Cat({globals, Label(0), Bof(16), Label(1), Eof()}), names},
        {"a record leaving the stream fails",
         Cat({globals, Bof(16), Label(0), {0xFD, 0, 10, 0, 1}}), std::nullopt},
        {"a substream without EOF fails", Cat({Bof(5), Sheet("A")}), std::nullopt},
        {"nothing to show", Cat({Bof(5), Eof()}), std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(Body(c.workbook), c.body) << c.what;
    EXPECT_EQ(Body(Cat({Bof(5), Sheet("A"), Eof()}), "Book"), std::nullopt) << "only Workbook";
}

// Each 14-byte label may repeat a long string: the text stops growing at
// half a million characters instead of taking gigabytes.
TEST(ExcelText, RepeatedLabelsOfALongStringAreBounded) {
    Bytes sst;
    Put32(sst, 1);
    Put32(sst, 1);
    Put16(sst, 1024);
    sst.push_back(0);
    PutText(sst, std::string(1024, 'r'));
    Bytes workbook = Cat({Bof(5), Sheet("A"), Record(0x00FC, sst), Eof(), Bof(16)});
    for (int i = 0; i < 4000; ++i) {
        const Bytes label = Label(0);
        workbook.insert(workbook.end(), label.begin(), label.end());
    }
    const Bytes eof = Eof();
    workbook.insert(workbook.end(), eof.begin(), eof.end());
    const auto body = Body(workbook);
    ASSERT_TRUE(body);
    EXPECT_GE(body->size(), 512u * 1024);
    EXPECT_LT(body->size(), 512u * 1024 + 1024 + 3);
}

}  // namespace
}  // namespace kestrel
