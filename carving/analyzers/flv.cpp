// Flash video: header, then tags each followed by the size of the tag before.
#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"

namespace kestrel {

uint32_t AnalyzeFlv(SignatureFind& find, const FindBuffer& buffer) {
    for (uint32_t step = 0; step < kMaxAnalyzerSteps; ++step) {
        ByteView v;
        uint32_t r = ReadStructure(find, buffer, 15, v);
        if (r != kFindDelivered) return r;
        if (find.flag == 0) {
            if (!v.Equals(0, "FLV", 3)) return kFindRejected;
            const uint32_t headerSize = v.U32Be(5);
            if (headerSize == 0) return kFindRejected;
            find.parseOffset += headerSize;
            find.flag = 1;
            continue;
        }
        const uint32_t previousTagSize = v.U32Be(0);
        const uint8_t tagType = v.U8(4);
        const uint32_t dataSize = uint32_t(v.Be(5, 3));
        if (find.wordB > 1 && previousTagSize != find.wordA) {
            // The back-pointer does not match: the last tag is not whole.
            find.length = find.parseOffset - find.wordA;
            return kFindComplete;
        }
        if (tagType == 8 || tagType == 9 || tagType == 18) {
            find.parseOffset += uint64_t(dataSize) + 15;
            find.wordA = dataSize + 11;
            ++find.wordB;
            continue;
        }
        if (find.wordB < 2) return kFindRejected;
        find.length = find.parseOffset + 4;
        return kFindComplete;
    }
    return kFindRejected;
}

}  // namespace kestrel
