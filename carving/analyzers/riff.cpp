// RIFF containers: AVI chunk walk and the canonical WAVE header.
#include <cstring>

#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"

namespace kestrel {
namespace {

bool IsOneOf(const ByteView& v, std::initializer_list<const char*> ids) {
    for (const char* id : ids) {
        if (v.Equals(0, id, 4)) return true;
    }
    return false;
}

}  // namespace

uint32_t AnalyzeAvi(SignatureFind& find, const FindBuffer& buffer) {
    for (uint32_t step = 0; step < kMaxAnalyzerSteps; ++step) {
        if (find.length != 0 && find.parseOffset >= find.length) return kFindComplete;
        ByteView chunk;
        uint32_t r = ReadStructure(find, buffer, 8, chunk);
        if (r != kFindDelivered) return r;
        const uint64_t size = chunk.U32(4);
        if (chunk.Equals(0, "RIFF", 4)) {
            find.length = size + 8;
            find.parseOffset += 8;
        } else if (IsOneOf(chunk, {"AVI ", "hdrl", "strl"})) {
            find.parseOffset += 4;
        } else if (IsOneOf(chunk,
                           {"JUNK", "LIST", "strd", "strf", "avih", "strh", "strn", "vprp"})) {
            find.parseOffset += size + 8;
        } else if (chunk.Equals(0, "idx1", 4)) {
            find.parseOffset += size + 8;
            // An index before any RIFF header gives no length to report.
            return find.length != 0 ? kFindComplete : kFindRejected;
        } else {
            return kFindRejected;
        }
    }
    return kFindRejected;
}

uint32_t AnalyzeWave(SignatureFind& find, const FindBuffer& buffer) {
    find.parseOffset = 0;
    ByteView h;
    uint32_t r = ReadStructure(find, buffer, 64, h);
    if (r != kFindDelivered) return r;
    if (!h.Equals(8, "WAVE", 4) || !h.Equals(12, "fmt", 3)) return kFindRejected;
    // Only a canonical header (16-byte format chunk directly followed by the
    // data chunk) lets the data size confirm the RIFF size.
    const uint64_t riffSize = h.U32(4);
    if (riffSize != uint64_t(h.U32(40)) + 36) return kFindRejected;
    find.length = riffSize + 8;
    return kFindComplete;
}

}  // namespace kestrel
