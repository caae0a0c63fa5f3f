#include "carving/find_bytes.h"

#include <cstring>
#include <limits>

namespace kestrel {

uint32_t LocateFindBytes(const SignatureFind& find, const FindBuffer& buffer, ByteView& out) {
    out = ByteView();
    const uint64_t s = find.startSector;
    const uint64_t o = find.parseOffset;
    const uint64_t n = find.readSize;
    const uint64_t b = buffer.startSector;
    const uint64_t bufferSectors = buffer.bytes / 512;
    if (!buffer.data || bufferSectors == 0 || n == 0 || n > kMaxFindRead) return kFindUndeliverable;
    constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
    // A hostile parse offset must not wrap the sector arithmetic.
    if (o > kMax - n || (o + n - 1) / 512 > kMax - s || bufferSectors - 1 > kMax - b)
        return kFindUndeliverable;
    const uint64_t first = s + o / 512;
    const uint64_t last = s + (o + n - 1) / 512;
    const uint64_t bufferLast = b + bufferSectors - 1;
    if (last < b) return kFindUndeliverable;
    if (first > bufferLast && first - bufferLast > kMaxFindLookaheadSectors)
        return kFindUndeliverable;
    if (first < b || last > bufferLast) return kFindPending;
    const uint64_t at = (first - b) * 512 + o % 512;
    out = ByteView(buffer.data + at, n);
    return kFindDelivered;
}

uint32_t ViewFindBytes(SignatureFind& find, const FindBuffer& buffer, ByteView& view) {
    uint32_t r = LocateFindBytes(find, buffer, view);
    if (r == kFindDelivered) return r;
    if (r == kFindPending) {
        // The range names exactly the sectors holding the wanted bytes, so a
        // request ending on a sector boundary does not wait for one more sector.
        find.neededFirst = find.startSector + find.parseOffset / 512;
        find.neededLast = find.startSector + (find.parseOffset + find.readSize - 1) / 512;
        return kFindPending;
    }
    return kFindRejected;
}

uint32_t ReadFindBytes(SignatureFind& find, uint8_t* dest, const FindBuffer& buffer) {
    ByteView view;
    uint32_t r = ViewFindBytes(find, buffer, view);
    if (r == kFindDelivered && dest) std::memcpy(dest, view.data(), view.size());
    return r;
}

uint32_t ReadFindBytes(SignatureFind& find, uint8_t* dest, const uint8_t* buffer,
                       size_t bufferBytes, uint64_t bufferStartSector) {
    return ReadFindBytes(find, dest, FindBuffer{buffer, bufferBytes, bufferStartSector});
}

}  // namespace kestrel
