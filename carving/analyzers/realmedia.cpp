// RealMedia: a walk over the top-level chunks; a file needs a chunk after its data.
#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"

namespace kestrel {

uint32_t AnalyzeRealMedia(SignatureFind& find, const FindBuffer& buffer) {
    for (uint32_t step = 0; step < kMaxAnalyzerSteps; ++step) {
        ByteView chunk;
        uint32_t r = ReadStructure(find, buffer, 8, chunk);
        if (r != kFindDelivered) return r;
        const uint32_t size = chunk.U32Be(4);
        if (size == 0) break;
        bool known = false;
        for (const char* id : {".RMF", "PROP", "CONT", "MDPR", "DATA", "INDX"})
            known = known || chunk.Equals(0, id, 4);
        if (!known) break;
        if (find.wordB != 0) ++find.wordB;
        if (chunk.Equals(0, "DATA", 4)) find.wordB = 1;
        find.parseOffset += size;
    }
    if (find.wordB < 2) return kFindRejected;
    find.length = find.parseOffset;
    return kFindComplete;
}

}  // namespace kestrel
