// The member listing of a RAR 1.5-4.x archive, read from its block layout.
#include "platform/codepage.h"
#include "preview/archive_listing_line.h"
#include "preview/extractors.h"

namespace kestrel {
namespace {

constexpr uint8_t kRarMarker[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr uint8_t kFileBlock = 0x74;
constexpr uint8_t kEndBlock = 0x7B;
constexpr uint16_t kLargeSizesFlag = 0x100;
constexpr uint16_t kUnicodeNameFlag = 0x200;
constexpr uint16_t kAddedSizeFlag = 0x8000;
constexpr uint16_t kMaxNameBytes = 260;

bool IsKnownBlock(uint8_t type) {
    return type == 0x72 || type == 0x73 || type == kFileBlock || type == 0x7A || type == kEndBlock;
}

// One listing line for the file block at the start of `block`, when it has
// 32-bit sizes, a non-empty body and a name inside the file.
void ListFileBlock(const ByteView& block, WString& text) {
    const uint16_t flags = block.U16(3);
    const uint32_t packed = block.U32(7);
    const uint32_t unpacked = block.U32(11);
    const uint16_t nameSize = block.U16(26);
    if ((flags & kLargeSizesFlag) || unpacked == 0 || nameSize > kMaxNameBytes ||
        !block.Has(32, nameSize))
        return;
    std::string_view name(reinterpret_cast<const char*>(block.data()) + 32, nameSize);
    // A Unicode name follows the ANSI one after a NUL; the ANSI part is what
    // the code page can convert.
    if (flags & kUnicodeNameFlag) name = name.substr(0, name.find('\0'));
    AppendArchiveListingLine(text, CompressionRatio(packed, unpacked), block.U32(20),
                             WideFromAnsi(name));
}

}  // namespace

std::optional<WString> ListRarMembers(ByteView file) {
    if (!file.Equals(0, kRarMarker, sizeof kRarMarker)) return std::nullopt;
    WString text(ArchiveListingHeader());
    uint64_t pos = 0;
    // Every block advances by its nonzero header size, so the walk ends
    // within file.size() steps.
    while (file.Has(pos, 7)) {
        const ByteView block = file.From(pos);
        const uint8_t type = block.U8(2);
        const uint16_t flags = block.U16(3);
        const uint16_t headerSize = block.U16(5);
        if (!IsKnownBlock(type) || (type == kEndBlock && headerSize == 7)) break;
        // A zero header size would never advance.
        if (headerSize == 0) break;
        if (type == kFileBlock) ListFileBlock(block, text);
        if ((flags & kAddedSizeFlag) && block.Has(7, 4)) pos += block.U32(7);
        pos += headerSize;
        if (ArchiveListingFull(text)) break;
    }
    CutArchiveListing(text);
    return text;
}

}  // namespace kestrel
