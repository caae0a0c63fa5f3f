// The member listing of a ZIP archive, read through minizip over the file in
// memory.
#include "platform/codepage.h"
#include "preview/archive_listing_line.h"
#include "preview/extractors.h"
#include "preview/zip_memory.h"

namespace kestrel {
namespace {

constexpr size_t kMaxNameBytes = 260;
constexpr uLong kUtf8NameFlag = 1u << 11;

WString MemberName(const unz_file_info64& info, const char* name) {
    const std::string_view bytes(name, std::min<uint64_t>(info.size_filename, kMaxNameBytes));
    // Writers that set the language-encoding flag store names in UTF-8; the
    // others use the code page of the system that wrote them.
    return (info.flag & kUtf8NameFlag) ? Utf16FromUtf8(bytes) : WideFromAnsi(bytes);
}

}  // namespace

std::optional<WString> ListZipMembers(ByteView file) {
    ZipInMemory zip(file);
    unz_global_info64 global{};
    if (!zip.handle() || unzGetGlobalInfo64(zip.handle(), &global) != UNZ_OK) return std::nullopt;
    WString text(ArchiveListingHeader());
    // Every central header takes at least 46 bytes, which bounds the walk
    // whatever the entry count claims.
    const uint64_t maxEntries = file.size() / 46 + 1;
    int r = unzGoToFirstFile(zip.handle());
    for (uint64_t i = 0; r == UNZ_OK && i < maxEntries; ++i) {
        unz_file_info64 info{};
        char name[kMaxNameBytes + 1] = {};
        if (unzGetCurrentFileInfo64(zip.handle(), &info, name, kMaxNameBytes, nullptr, 0, nullptr,
                                    0) != UNZ_OK)
            break;
        if (info.uncompressed_size != 0) {
            const uint64_t ratio = CompressionRatio(info.compressed_size, info.uncompressed_size);
            if (ratio != 0)
                AppendArchiveListingLine(text, ratio, uint32_t(info.dosDate),
                                         MemberName(info, name));
        }
        if (ArchiveListingFull(text)) break;
        r = unzGoToNextFile(zip.handle());
    }
    CutArchiveListing(text);
    return text;
}

}  // namespace kestrel
