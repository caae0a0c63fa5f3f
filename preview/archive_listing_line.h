#pragma once
// The member listing of the ZIP and RAR previews: a header line, then one
// line per member with its compression ratio, DOS modification time and name.
#include <cstdint>

#include "platform/wide_text.h"

namespace kestrel {

// "压缩率  文件最后修改时间   文件名\r\n"
WStringView ArchiveListingHeader();

// Packed size x 100 / unpacked size (integer division), without overflow for
// any 64-bit sizes; `unpacked` must not be 0.
uint64_t CompressionRatio(uint64_t packed, uint64_t unpacked);

// Appends one listing line. `dosTime` holds the DOS date in its high and the
// DOS time in its low 16 bits; its fields are printed as they are (the
// archive's local time), so no time-zone conversion can shift them.
void AppendArchiveListingLine(WString& text, uint64_t ratio, uint32_t dosTime, WStringView name);

// Listings are cut to 0x20000 bytes (never inside a surrogate pair); a walk
// stops adding lines once the text is full.
bool ArchiveListingFull(const WString& text);
void CutArchiveListing(WString& text);

}  // namespace kestrel
