// The text of a docx, xlsx or pptx: the runs of characters between the tags
// of its main XML member, after the UTF-8 document header line.
#include <cstdio>

#include "carving/zip_records.h"
#include "preview/document_header.h"
#include "preview/extractors.h"
#include "preview/zip_memory.h"

namespace kestrel {
namespace {

constexpr size_t kXmlExamined = 0x140000;
constexpr size_t kSlidesLimit = 0x20000;
constexpr int kLastSlide = 19;
constexpr uint16_t kSizesAfterDataFlag = 1u << 3;

// Where the central directory starts, as the last end record inside the file
// says; nothing when there is none or it points outside the file.
std::optional<uint64_t> CentralDirectoryOffset(ByteView file) {
    if (file.size() < kZipEndOfCentralDirectorySize) return std::nullopt;
    const uint64_t last = file.size() - kZipEndOfCentralDirectorySize;
    // The end record is followed by at most a 65535-byte comment.
    const uint64_t first = last > 0xFFFF ? last - 0xFFFF : 0;
    for (uint64_t pos = last + 1; pos-- > first;) {
        if (file.U32(pos) != kZipEndOfCentralDirectorySignature) continue;
        const uint64_t offset = file.U32(pos + 16);
        if (offset >= pos) return std::nullopt;
        return offset;
    }
    return std::nullopt;
}

// A document is read only when the walk over its records, from the first
// local header on, ends at an end record that lies inside the file.
bool WalkEndsAtEndRecord(ByteView file) {
    bool jumped = false;
    uint64_t pos = 0;
    // Every step is at least 22 bytes, so this ends within size / 22 steps.
    while (file.Has(pos, 4)) {
        const ByteView record = file.From(pos);
        const ZipRecordStep step = StepZipRecord(record);
        switch (step.kind) {
            case ZipRecordKind::kEndOfCentralDirectory:
                return file.Has(pos, kZipEndOfCentralDirectorySize);
            case ZipRecordKind::kLocalHeader:
                if (record.U16(6) & kSizesAfterDataFlag) {
                    // The sizes follow the data (LibreOffice writes every
                    // member so), so the local header cannot be stepped
                    // over; the walk goes on at the central directory.
                    const auto central = CentralDirectoryOffset(file);
                    if (jumped || !central || *central <= pos) return false;
                    jumped = true;
                    pos = *central;
                    continue;
                }
                break;
            case ZipRecordKind::kCentralHeader:
                break;
            case ZipRecordKind::kOther:
                return false;
        }
        pos += step.step;
    }
    return false;
}

bool HasExtension(WStringView name, std::u16string_view ext) {
    if (name.size() <= ext.size() || name[name.size() - ext.size() - 1] != u'.') return false;
    const WStringView tail = name.substr(name.size() - ext.size());
    for (size_t i = 0; i < ext.size(); ++i) {
        char16_t c = tail[i];
        if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
        if (c != ext[i]) return false;
    }
    return true;
}

// The slides 0..19 in turn while their total stays below the limit; a slide
// that would pass it is left out, missing slides are skipped.
std::optional<std::string> ReadSlides(unzFile zip) {
    std::string xml;
    for (int n = 0; n <= kLastSlide; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "ppt/slides/slide%d.xml", n);
        const ZipMember slide = ReadZipMember(zip, name, kSlidesLimit - 1 - xml.size());
        if (slide.status == ZipMemberRead::kDamaged) return std::nullopt;
        if (slide.status == ZipMemberRead::kMissing && n == 1) return std::nullopt;
        if (slide.status == ZipMemberRead::kComplete) xml += slide.bytes;
    }
    return xml;
}

// Every run between a '>' and the next '<' of at least two characters; one
// letter alone between tags is formatting noise, not text.
void AppendTextRuns(std::string_view xml, std::string& text) {
    xml = xml.substr(0, kXmlExamined);
    size_t open = xml.find('>');
    while (open != std::string_view::npos) {
        const size_t close = xml.find('<', open + 1);
        if (close == std::string_view::npos) return;
        if (close - open - 1 >= 2) text.append(xml.substr(open + 1, close - open - 1));
        open = xml.find('>', close + 1);
    }
}

}  // namespace

std::optional<std::string> ExtractOoxmlText(ByteView file, WStringView fileName) {
    if (!WalkEndsAtEndRecord(file)) return std::nullopt;
    ZipInMemory zip(file);
    if (!zip.handle()) return std::nullopt;
    std::string xml;
    if (HasExtension(fileName, u"pptx")) {
        auto slides = ReadSlides(zip.handle());
        if (!slides) return std::nullopt;
        xml = std::move(*slides);
    } else {
        const char* member =
            HasExtension(fileName, u"xlsx") ? "xl/sharedStrings.xml" : "word/document.xml";
        ZipMember read = ReadZipMember(zip.handle(), member, kXmlExamined);
        if (read.status != ZipMemberRead::kComplete && read.status != ZipMemberRead::kCut)
            return std::nullopt;
        xml = std::move(read.bytes);
    }
    std::string text(DocumentHeaderUtf8());
    AppendTextRuns(xml, text);
    return text;
}

}  // namespace kestrel
