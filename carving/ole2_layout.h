#pragma once
// The allocation structures of an OLE2 compound document, shared by the
// carving analyzer (which sizes and types a find) and the document preview
// (which reads streams). Sectors are 512 bytes; sector n starts at byte
// 512 * (n + 1), after the header.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/bytes.h"

namespace kestrel {

constexpr uint32_t kOle2SectorSize = 512;
constexpr uint32_t kOle2FreeSector = 0xFFFFFFFF;
constexpr size_t kOle2DirectoryEntrySize = 128;
constexpr size_t kOle2MaxChainLinks = 4095999;

// What a look at a prefix of the file decided. kNeedMore: a structure lies
// beyond the bytes given (a whole file in memory treats it as damage).
enum class Ole2Status { kOk, kRejected, kNeedMore };

bool HasOle2Signature(const ByteView& v);

// Byte position of sector n in `v`: sectors past 128 MiB or negative ones
// reject the file, sectors past the end of `v` need more bytes.
Ole2Status LocateOle2Sector(const ByteView& v, int64_t n, size_t& pos);

// The FAT: the sector list from the header and its extension chain, then the
// listed sectors' entries. Every entry is checked (at least -4, links inside
// the table), so a chain walk may index the table with any positive link.
Ole2Status ReadOle2Fat(const ByteView& v, std::vector<uint32_t>& fat);

// Byte positions of the sectors of the chain from `first`, until a negative
// link. A link outside `fat` or a chain longer than the table (a loop) or
// than 4,095,999 links rejects it.
Ole2Status WalkOle2Chain(const ByteView& v, const std::vector<uint32_t>& fat, uint32_t first,
                         std::vector<size_t>& positions);

// True for the directory's first entry: "Root Entry" with name size 22.
bool IsOle2RootEntry(const ByteView& entry);

// The name of a 128-byte directory entry when it passes the name test: name
// size 1..32, equal to 2 * (length + 1), every character 20..7E. Else empty.
std::string Ole2EntryName(const ByteView& entry);

}  // namespace kestrel
