// Excel 97-2003 text: sheet names and the shared strings of label cells, in
// record order, from the "Workbook" stream.
#include <algorithm>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/codepage.h"
#include "preview/compound_document.h"
#include "preview/document_header.h"
#include "preview/extractors.h"

namespace kestrel {
namespace {

constexpr uint16_t kBof = 0x0809;
constexpr uint16_t kEof = 0x000A;
constexpr uint16_t kBoundSheet = 0x0085;
constexpr uint16_t kSst = 0x00FC;
constexpr uint16_t kLabelSst = 0x00FD;
constexpr uint16_t kGlobalsSubstream = 5;
constexpr uint16_t kWorksheetSubstream = 16;
constexpr size_t kMaxWideChars = 512;
constexpr size_t kMaxNarrowChars = 1024;
constexpr std::u16string_view kSeparator = u" | ";
// Label records of 14 bytes can each repeat a 1024-character string, so a
// hostile workbook could ask for gigabytes of text; the preview stops here.
constexpr size_t kMaxTextChars = 512 * 1024;

struct Record {
    uint16_t type = 0;
    ByteView body;
};

// The record at `pos`; false when its header or body leaves the stream.
bool ReadRecord(const ByteView& stream, size_t pos, Record& r) {
    if (!stream.Has(pos, 4)) return false;
    r.type = stream.U16(pos);
    const uint16_t length = stream.U16(pos + 2);
    if (!stream.Has(pos + 4, length)) return false;
    r.body = stream.Sub(pos + 4, length);
    return true;
}

// `count` characters at `pos`, 16-bit or 8-bit in the ANSI code page; at
// most `keep` of them are kept.
WString Characters(const ByteView& v, size_t pos, size_t count, bool wide, size_t keep) {
    const size_t n = std::min(count, keep);
    if (wide) {
        WString s;
        for (size_t i = 0; i < n; ++i) s.push_back(char16_t(v.U16(pos + 2 * i)));
        return s;
    }
    const ByteView bytes = v.Sub(pos, n);
    return WideFromAnsi(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void Append(WString& text, const WString& item) {
    if (text.size() >= kMaxTextChars) return;
    if (!text.empty()) text += kSeparator;
    text += item;
}

// BOUNDSHEET: position u32, state, sheet type, then the name (count u8,
// flags u8, characters).
void AppendSheetName(const ByteView& body, WString& text) {
    if (body.size() < 8) return;
    const size_t count = body.U8(6);
    const bool wide = body.U8(7) & 1;
    if (!body.Has(8, wide ? 2 * count : count)) return;
    Append(text, Characters(body, 8, count, wide, count));
}

// SST: totals, then each string as count u16, flags u8, [runs u16],
// [extended size u32], characters, runs, extended data. Strings continued
// into CONTINUE records are not followed: the collection ends there.
std::vector<WString> ReadSharedStrings(const ByteView& body) {
    std::vector<WString> strings;
    const uint32_t unique = body.U32(4);
    size_t pos = 8;
    for (uint32_t i = 0; i < unique && body.Has(pos, 3); ++i) {
        const size_t count = body.U16(pos);
        const uint8_t flags = body.U8(pos + 2);
        pos += 3;
        size_t runs = 0;
        size_t extended = 0;
        if (flags & 8) {
            if (!body.Has(pos, 2)) break;
            runs = body.U16(pos);
            pos += 2;
        }
        if (flags & 4) {
            if (!body.Has(pos, 4)) break;
            extended = body.U32(pos);
            pos += 4;
        }
        const bool wide = flags & 1;
        const size_t bytes = wide ? 2 * count : count;
        if (!body.Has(pos, bytes)) break;
        strings.push_back(
            Characters(body, pos, count, wide, wide ? kMaxWideChars : kMaxNarrowChars));
        pos += bytes;
        if (!body.Has(pos, 4 * runs)) break;
        pos += 4 * runs;
        if (!body.Has(pos, extended)) break;
        pos += extended;
    }
    return strings;
}

// Processes the records after a substream's BOF up to its EOF; `pos` ends
// after the EOF. False when a record leaves the stream.
bool WalkSubstream(const ByteView& stream, size_t& pos, bool collect, WString& text,
                   std::vector<WString>& shared) {
    Record r;
    while (ReadRecord(stream, pos, r)) {
        pos += 4 + r.body.size();
        if (r.type == kEof) return true;
        if (!collect) continue;
        if (r.type == kBoundSheet) {
            AppendSheetName(r.body, text);
        } else if (r.type == kSst) {
            shared = ReadSharedStrings(r.body);
        } else if (r.type == kLabelSst && r.body.size() >= 10) {
            const uint32_t index = r.body.U32(6);
            if (index < shared.size()) Append(text, shared[index]);
        }
    }
    return false;
}

}  // namespace

std::optional<WString> ExtractExcelText(ByteView file) {
    const auto compound = CompoundDocument::Open(file);
    if (!compound) return std::nullopt;
    const auto workbook = compound->ReadStream("Workbook");
    if (!workbook) return std::nullopt;
    const ByteView stream(*workbook);

    WString text;
    std::vector<WString> shared;
    size_t pos = 0;
    Record bof;
    // Every record moves `pos` on by at least 4 bytes, so the walk ends.
    while (ReadRecord(stream, pos, bof) && bof.type == kBof) {
        pos += 4 + bof.body.size();
        const uint16_t kind = bof.body.U16(2);
        const bool collect = kind == kGlobalsSubstream || kind == kWorksheetSubstream;
        if (!WalkSubstream(stream, pos, collect, text, shared)) return std::nullopt;
    }
    if (text.empty()) return std::nullopt;
    return WString(DocumentHeaderUtf16()) + text;
}

}  // namespace kestrel
