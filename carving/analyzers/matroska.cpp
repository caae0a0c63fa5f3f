// Matroska / WebM: the EBML header element and the size of the Segment after it.
#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"

namespace kestrel {
namespace {

// An EBML variable-length number of 1, 2, 4 or 8 bytes; 0 length when it is
// not one of those. For 8 bytes only the low four are kept.
struct EbmlNumber {
    uint32_t length = 0;
    uint64_t value = 0;
};

EbmlNumber ReadEbmlNumber(const ByteView& v, size_t off, bool keepMarker) {
    EbmlNumber n;
    const uint8_t first = v.U8(off);
    if (first == 0 || !v.Has(off, 1)) return n;
    uint32_t len = 1;
    while (!(first & (0x80 >> (len - 1)))) ++len;
    if (len != 1 && len != 2 && len != 4 && len != 8) return n;
    if (!v.Has(off, len)) return n;
    if (len == 8) {
        n.value = v.U32Be(off + 4);
    } else {
        n.value = v.Be(off, len);
        if (!keepMarker) n.value &= (uint64_t(1) << (7 * len)) - 1;
    }
    n.length = len;
    return n;
}

}  // namespace

uint32_t AnalyzeMatroska(SignatureFind& find, const FindBuffer& buffer) {
    find.parseOffset = 0;
    ByteView v;
    uint32_t r = ReadStructure(find, buffer, 2048, v);
    if (r != kFindDelivered) return r;
    if (!v.Equals(0, "\x1A\x45\xDF\xA3", 4)) return kFindRejected;
    const EbmlNumber headerSize = ReadEbmlNumber(v, 4, false);
    if (headerSize.length == 0) return kFindRejected;
    const uint64_t segment = 4 + headerSize.length + headerSize.value;
    if (segment >= 2048 - 32) return kFindRejected;
    const EbmlNumber id = ReadEbmlNumber(v, size_t(segment), true);
    if (id.length != 4 || id.value != 0x18538067) return kFindRejected;
    const EbmlNumber segmentSize = ReadEbmlNumber(v, size_t(segment) + 4, false);
    if (segmentSize.length == 0) return kFindRejected;
    find.length = segment + 4 + segmentSize.length + segmentSize.value;
    return kFindComplete;
}

}  // namespace kestrel
