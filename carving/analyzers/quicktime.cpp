// QuickTime / MP4 family: top-level atom walk.
#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"

namespace kestrel {
namespace {

bool IsAtomTypeChar(uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

}  // namespace

uint32_t AnalyzeQuickTime(SignatureFind& find, const FindBuffer& buffer) {
    for (uint32_t step = 0; step < kMaxAnalyzerSteps; ++step) {
        ByteView atom;
        uint32_t r = ReadStructure(find, buffer, 16, atom);
        if (r != kFindDelivered) return r;
        uint64_t size = atom.U32Be(0);
        if (size == 1) size = atom.U64Be(8);
        bool valid = size != 0;
        for (size_t i = 4; valid && i < 8; ++i) valid = IsAtomTypeChar(atom.U8(i));
        const bool isMoov = atom.Equals(4, "moov", 4);
        const bool isMdat = atom.Equals(4, "mdat", 4);
        // A second movie header or media data atom starts another recording.
        if ((isMoov && find.counter1 != 0) || (isMdat && find.counter2 != 0)) valid = false;
        if (!valid) {
            if (find.counter1 == 0 || find.counter2 == 0) return kFindRejected;
            find.length = find.parseOffset;
            find.typeId = 67;
            return kFindComplete;
        }
        if (isMdat) ++find.counter2;
        if (isMoov) ++find.counter1;
        // The full 64-bit size: an atom past 4 GiB must not wrap the walk
        // back into the file.
        if (size > UINT64_MAX - find.parseOffset) return kFindRejected;
        find.parseOffset += size;
    }
    return kFindRejected;
}

}  // namespace kestrel
