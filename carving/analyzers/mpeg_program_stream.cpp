// MPEG program stream: a walk over packs and packets by their start codes.
#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"

namespace kestrel {
namespace {

constexpr uint8_t kProgramEnd = 0xB9;

bool IsStartCode(const ByteView& v, size_t off) {
    return v.U8(off) == 0 && v.U8(off + 1) == 0 && v.U8(off + 2) == 1 && v.Has(off, 4);
}

}  // namespace

uint32_t AnalyzeMpegProgramStream(SignatureFind& find, const FindBuffer& buffer) {
    constexpr uint32_t kRead = 512;
    for (uint32_t step = 0; step < kMaxAnalyzerSteps; ++step) {
        ByteView v;
        uint32_t r = ReadStructure(find, buffer, kRead, v);
        if (r != kFindDelivered) return r;
        if (find.flag == 0) {
            // The first pack header (14 bytes) and the packet after it.
            const uint32_t h = v.U16Be(18);
            if (h + 20 > kRead - 6) return kFindRejected;
            if (!IsStartCode(v, 20 + h) || v.U8(23 + h) < 0xB0) return kFindRejected;
            find.parseOffset = h + 26 + uint64_t(v.U16Be(24 + h));
            find.flag = 1;
            continue;
        }
        const uint8_t id = v.U8(3);
        if (!IsStartCode(v, 0) || id < 0xB0) break;
        if (id == kProgramEnd) {
            // The end code closes the stream: the file ends after its 4 bytes.
            if (find.wordB <= 10) return kFindRejected;
            find.length = find.parseOffset + 4;
            return kFindComplete;
        }
        if (id == 0xB3 || id == 0xBA) {
            if (!IsStartCode(v, 14) || v.U8(17) < 0xB0) break;
            find.wordA = uint32_t(find.parseOffset);
            find.parseOffset += 14 + 6 + uint64_t(v.U16Be(18));
        } else {
            find.wordA = uint32_t(find.parseOffset);
            find.parseOffset += 6 + uint64_t(v.U16Be(4));
        }
        ++find.wordB;
        // The start of the last packet is kept in a 32-bit word; a stream
        // walking past 4 GiB could not report it.
        if (find.parseOffset > UINT32_MAX) return kFindRejected;
    }
    if (find.wordB <= 10) return kFindRejected;
    // The walk ended on bytes that are not a start code right after the last
    // accepted packet, so that packet is whole: the file ends after it.
    find.length = find.parseOffset;
    return kFindComplete;
}

}  // namespace kestrel
