#pragma once
// The NTFS update-sequence fix-up. NTFS stores the last two bytes of every
// 512-byte sector of a multi-sector record in an array in the record header
// and writes a sequence number in their place, so a torn write shows as a
// mismatch. Applying the fix-up checks every sector and restores the bytes.
#include <cstddef>
#include <cstdint>

namespace kestrel {

// For a FILE record of `bytes` bytes (a multiple of 512): checks the "FILE"
// magic, that the update-sequence array lies inside the header and covers
// exactly the record's sectors, and that each sector ends in the sequence
// number; then puts the saved bytes back. False on any mismatch, with the
// record left unchanged.
bool ApplyNtfsFixup(uint8_t* record, size_t bytes);
// The same for any multi-sector record with the given 4-byte magic ("INDX").
bool ApplyNtfsFixupWithMagic(uint8_t* record, size_t bytes, const char magic[4]);

}  // namespace kestrel
