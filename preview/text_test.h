#pragma once
// Whether a file of unknown type is plain text in the local double-byte code
// page (GBK), judged from its first 1024 bytes.
#include "platform/bytes.h"

namespace kestrel {

// Printable ASCII, TAB, LF and CR pass; so do double-byte characters (two
// bytes whose little-endian u16 lies in A1A1..FEFE), a leading run of A1..FE
// bytes (the tail of a character cut off before the file's start) and a lone
// A1..FE byte at offset 511 mod 512 (a character split at a sector end).
// Anything else, or a lead byte with no successor, fails.
bool LooksLikeAnsiText(ByteView data);

}  // namespace kestrel
