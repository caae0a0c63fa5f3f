// RAR 1.5-4.x archives: a walk over the blocks up to the end-of-archive block.
#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"

namespace kestrel {

uint32_t AnalyzeRar(SignatureFind& find, const FindBuffer& buffer) {
    for (uint32_t step = 0; step < kMaxAnalyzerSteps; ++step) {
        ByteView block;
        uint32_t r = ReadStructure(find, buffer, 16, block);
        if (r != kFindDelivered) return r;
        const uint8_t type = block.U8(2);
        const uint16_t flags = block.U16(3);
        const uint16_t headerSize = block.U16(5);
        const uint32_t addedSize = block.U32(7);
        if (type == 0x7B && headerSize == 7) {
            find.length = find.parseOffset + 7;
            return kFindComplete;
        }
        if (type != 0x72 && type != 0x73 && type != 0x74 && type != 0x7A && type != 0x7B)
            return kFindRejected;
        if (flags & 0x8000) find.parseOffset += addedSize;
        if (headerSize == 0) return kFindRejected;
        find.parseOffset += headerSize;
    }
    return kFindRejected;
}

}  // namespace kestrel
