#pragma once
// Shared helpers of the analyzers: the bounded read of one structure at the
// parse offset, and the step limit that makes every walk terminate whatever
// the sizes in the file say.
#include "carving/find_bytes.h"

namespace kestrel {

// No walk of one analyzer call takes more steps than this; a file with more
// structures than this in 64 MiB is not one the analyzers accept.
constexpr uint32_t kMaxAnalyzerSteps = 1u << 22;

// Asks for `size` bytes at the parse offset; 1 with `view` on them, else the
// status to return (3 pending, 5 rejected).
inline uint32_t ReadStructure(SignatureFind& find, const FindBuffer& buffer, uint32_t size,
                              ByteView& view) {
    find.readSize = size;
    return ViewFindBytes(find, buffer, view);
}

// Bytes from the find's first byte to the end of the buffer it was first
// analysed in (the first request of the growing readers).
inline uint32_t BytesToBufferEnd(const SignatureFind& find, const FindBuffer& buffer) {
    const uint64_t sectors = buffer.bytes / 512;
    if (find.startSector < buffer.startSector || find.startSector - buffer.startSector >= sectors)
        return 512;
    return uint32_t((sectors - (find.startSector - buffer.startSector)) * 512);
}

// The growing readers (JPEG, OLE2) ask for one more block of their prefix.
// A prefix that would pass the 64 MiB read limit can never be in memory at
// once: the find keeps a needed range no window serves, so it stays pending
// (listed with unknown length) instead of being rejected as damaged.
inline uint32_t GrowPrefix(SignatureFind& find) {
    if (find.readSize > kMaxFindRead - kBlockBytes) {
        const uint64_t wanted = uint64_t(find.readSize) + kBlockBytes;
        find.neededFirst = find.startSector;
        find.neededLast = find.startSector + (wanted - 1) / 512;
        return kFindPending;
    }
    find.readSize += kBlockBytes;
    return kFindDelivered;
}

// What one pass of a growing reader's parser decided about the prefix it saw.
enum class PrefixStep { kComplete, kRejected, kNeedMore };

// The growing readers' loop: offer the file's prefix from its first byte to
// the end of the buffer, one block more each time the parser needs more,
// until it decides or the prefix passes what a window can hold.
template <typename Parse>
uint32_t AnalyzeGrowingPrefix(SignatureFind& find, const FindBuffer& buffer, Parse parse) {
    find.parseOffset = 0;
    if (find.readSize == 0) find.readSize = BytesToBufferEnd(find, buffer);
    for (uint32_t step = 0; step <= kMaxFindRead / kBlockBytes; ++step) {
        ByteView v;
        const uint32_t r = ViewFindBytes(find, buffer, v);
        if (r != kFindDelivered) return r;
        switch (parse(v)) {
            case PrefixStep::kComplete:
                return kFindComplete;
            case PrefixStep::kRejected:
                return kFindRejected;
            case PrefixStep::kNeedMore:
                break;
        }
        if (GrowPrefix(find) == kFindPending) return kFindPending;
    }
    return kFindRejected;
}

}  // namespace kestrel
