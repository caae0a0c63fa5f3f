#pragma once
// How an analyzer reaches the bytes of its file: the bytes it asks for either
// lie in the buffer in memory (the current block or the look-ahead window),
// will lie there once later blocks arrive, or never can.
#include <cstddef>
#include <cstdint>

#include "carving/signature_find.h"
#include "platform/bytes.h"

namespace kestrel {

// Largest single request an analyzer may make (the size of the window).
constexpr uint32_t kMaxFindRead = 0x4000000;
// A request starting further than this many sectors past the buffer can
// never be served by a later window.
constexpr uint64_t kMaxFindLookaheadSectors = 0x2000000;

// The buffer an analysis runs over.
struct FindBuffer {
    const uint8_t* data = nullptr;
    size_t bytes = 0;
    uint64_t startSector = 0;
};

// Locates readSize bytes at the find's parse offset without touching the
// find: 1 with `out` viewing them in the buffer, 3 when they lie beyond (or
// partly beyond) the buffer, 2 when they can never be delivered.
uint32_t LocateFindBytes(const SignatureFind& find, const FindBuffer& buffer, ByteView& out);

// The analyzer-facing read: on 1 the bytes are copied to dest (readSize
// bytes) or viewed through `view`; on a pending read the find's needed range
// is filled in and 3 returned; an impossible read gives 5.
uint32_t ReadFindBytes(SignatureFind& find, uint8_t* dest, const uint8_t* buffer,
                       size_t bufferBytes, uint64_t bufferStartSector);
uint32_t ReadFindBytes(SignatureFind& find, uint8_t* dest, const FindBuffer& buffer);
uint32_t ViewFindBytes(SignatureFind& find, const FindBuffer& buffer, ByteView& view);

}  // namespace kestrel
