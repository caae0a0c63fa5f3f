// Word 97-2003 text: the characters the piece table of the table stream
// points at in the "WordDocument" stream.
#include <algorithm>
#include <optional>

#include "preview/compound_document.h"
#include "preview/document_header.h"
#include "preview/extractors.h"

namespace kestrel {
namespace {

constexpr size_t kPieceTableOffsetField = 418;  // in "WordDocument"
constexpr size_t kMaxChars = 32768 / 2;
constexpr uint32_t kEightBitFlag = 0x40000000;
constexpr uint32_t kPositionMask = 0x3FFFFFFF;

// Characters of every piece in order, at most kMaxChars; a piece descriptor
// outside the table stream or text outside the document stream ends the walk.
WString ReadPieces(const ByteView& doc, const ByteView& table) {
    WString text;
    const size_t at = doc.U32(kPieceTableOffsetField);
    if (!table.Has(at, 5)) return text;
    const uint32_t size = table.U32(at + 1);
    if (size < 16) return text;
    const size_t pieces = (size - 4) / 12;
    const size_t positions = at + 5;
    if (pieces > (table.size() - positions) / 4) return text;  // positions alone overrun
    const size_t descriptors = positions + 4 * (pieces + 1);
    for (size_t i = 0; i < pieces && text.size() < kMaxChars; ++i) {
        if (!table.Has(descriptors + 8 * i, 8)) break;
        const uint32_t first = table.U32(positions + 4 * i);
        const uint32_t next = table.U32(positions + 4 * i + 4);
        if (next < first) break;
        const size_t count = std::min<size_t>(next - first, kMaxChars - text.size());
        const uint32_t fc = table.U32(descriptors + 8 * i + 2);
        if (fc & kEightBitFlag) {
            const size_t from = (fc & ~kEightBitFlag) / 2;
            if (!doc.Has(from, count)) break;
            for (size_t c = 0; c < count; ++c) text.push_back(char16_t(doc.U8(from + c)));
        } else {
            const size_t from = fc & kPositionMask;
            if (!doc.Has(from, 2 * count)) break;
            for (size_t c = 0; c < count; ++c) text.push_back(char16_t(doc.U16(from + 2 * c)));
        }
    }
    return text;
}

// Control characters become spaces (tabs too: the preview has no tab stops);
// a paragraph end, or a run of them, becomes one CR LF.
WString Normalize(const WString& raw) {
    WString out;
    out.reserve(raw.size() + raw.size() / 8);
    for (size_t i = 0; i < raw.size(); ++i) {
        const char16_t c = raw[i];
        if (c == u'\r') {
            if (i > 0 && raw[i - 1] == u'\r') continue;
            out += u"\r\n";
        } else if (c < 0x20 && c != u'\n') {
            out.push_back(u' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

std::optional<WString> ExtractWordText(ByteView file) {
    const auto compound = CompoundDocument::Open(file);
    if (!compound) return std::nullopt;
    const auto doc = compound->ReadStream("WordDocument");
    if (!doc) return std::nullopt;
    auto table = compound->ReadStream("1Table");
    if (!table) table = compound->ReadStream("0Table");
    if (!table) return std::nullopt;
    const WString text = Normalize(ReadPieces(ByteView(*doc), ByteView(*table)));
    if (text.empty()) return std::nullopt;
    return WString(DocumentHeaderUtf16()) + text;
}

}  // namespace kestrel
