#include "preview/archive_listing_line.h"

#include <cinttypes>
#include <cstdio>

namespace kestrel {
namespace {

constexpr char16_t kHeader[] = u"压缩率  文件最后修改时间   文件名\r\n";
constexpr size_t kListingLimitUnits = 0x20000 / sizeof(char16_t);

}  // namespace

WStringView ArchiveListingHeader() { return {kHeader, std::size(kHeader) - 1}; }

uint64_t CompressionRatio(uint64_t packed, uint64_t unpacked) {
    return uint64_t((unsigned __int128)packed * 100 / unpacked);
}

void AppendArchiveListingLine(WString& text, uint64_t ratio, uint32_t dosTime, WStringView name) {
    const unsigned year = 1980 + (dosTime >> 25);
    const unsigned month = (dosTime >> 21) & 0x0F;
    const unsigned day = (dosTime >> 16) & 0x1F;
    const unsigned hour = (dosTime >> 11) & 0x1F;
    const unsigned minute = (dosTime >> 5) & 0x3F;
    // The padding after the ratio shrinks as it gains digits, so the date
    // column stays aligned up to 999%.
    const char* padding = ratio <= 9 ? "      " : ratio <= 99 ? "     " : "    ";
    char line[96];
    const int n = std::snprintf(line, sizeof line, "%" PRIu64 "%%%s%04u-%02u-%02u %2.2u:%2.2u   ",
                                ratio, padding, year, month, day, hour, minute);
    for (int i = 0; i < n && i < int(sizeof line) - 1; ++i) text.push_back(char16_t(line[i]));
    text.append(name);
    text.append(u"\r\n");
}

bool ArchiveListingFull(const WString& text) { return text.size() >= kListingLimitUnits; }

void CutArchiveListing(WString& text) {
    if (text.size() <= kListingLimitUnits) return;
    size_t keep = kListingLimitUnits;
    if (text[keep - 1] >= 0xD800 && text[keep - 1] <= 0xDBFF) --keep;
    text.resize(keep);
}

}  // namespace kestrel
