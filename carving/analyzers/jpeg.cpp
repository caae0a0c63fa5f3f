// JPEG: the marker segments up to the start of scan, then the end-of-image marker.
#include <cstring>

#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"

namespace kestrel {
namespace {

// Walks the marker segments of `v` from its start; sets the flag and word A
// at the start-of-scan marker.
PrefixStep WalkMarkers(SignatureFind& find, const ByteView& v) {
    const size_t n = v.size();
    size_t pos = 0;
    while (pos < n && v.U8(pos) == 0xFF) {
        while (pos < n && v.U8(pos) == 0xFF) ++pos;
        if (pos >= n) break;
        const uint8_t code = v.U8(pos);
        if (code == 0xDA) {
            find.wordA = uint32_t(pos);
            find.flag = 1;
            return PrefixStep::kComplete;
        }
        if (code == 0xD8) {
            pos += 1;
            continue;
        }
        if (!v.Has(pos + 1, 2)) {
            pos = n;  // the length field lies beyond the bytes read
            break;
        }
        const uint16_t segment = v.U16Be(pos + 1);
        if (segment == 0) break;
        pos += 1 + uint64_t(segment);
    }
    // Stopped on a byte that is not a marker, well inside the bytes read: not a JPEG.
    if (pos + 2 < n) return PrefixStep::kRejected;
    if (pos > n && pos - n > 0xFFFFF) return PrefixStep::kRejected;
    return PrefixStep::kNeedMore;
}

PrefixStep FindEnd(SignatureFind& find, const ByteView& v) {
    const uint8_t* data = v.data();
    const size_t n = v.size();
    size_t pos = find.wordA;
    while (pos + 1 < n) {
        const void* hit = std::memchr(data + pos, 0xFF, n - pos - 1);
        if (!hit) break;
        pos = size_t(static_cast<const uint8_t*>(hit) - data);
        if (data[pos + 1] == 0xD9) {
            find.length = pos + 2;
            return PrefixStep::kComplete;
        }
        ++pos;
    }
    // Resume where an FF at the very end may still pair with a D9 beyond it.
    find.wordA = uint32_t(n > 0 ? n - 1 : 0);
    return PrefixStep::kNeedMore;
}

}  // namespace

uint32_t AnalyzeJpeg(SignatureFind& find, const FindBuffer& buffer) {
    return AnalyzeGrowingPrefix(find, buffer, [&find](const ByteView& v) {
        const PrefixStep s = find.flag == 0 ? WalkMarkers(find, v) : PrefixStep::kComplete;
        if (s != PrefixStep::kComplete) return s;
        // Past the start of scan: the file ends at its end-of-image marker.
        return FindEnd(find, v) == PrefixStep::kComplete ? PrefixStep::kComplete
                                                         : PrefixStep::kNeedMore;
    });
}

}  // namespace kestrel
