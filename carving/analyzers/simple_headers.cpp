// Formats whose header alone gives the file length: BMP, CHM and Windows Help.
#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"
#include "carving/analyzers/file_guid.h"

namespace kestrel {

namespace {

uint32_t ReadHeader(SignatureFind& find, const FindBuffer& buffer, ByteView& h) {
    find.parseOffset = 0;
    return ReadStructure(find, buffer, 256, h);
}

}  // namespace

uint32_t AnalyzeBmp(SignatureFind& find, const FindBuffer& buffer) {
    ByteView h;
    uint32_t r = ReadHeader(find, buffer, h);
    if (r != kFindDelivered) return r;
    const uint32_t infoSize = h.U32(14);
    if (h.U16(6) != 0 || h.U16(8) != 0 || (infoSize != 40 && infoSize != 124)) return kFindRejected;
    // A file size smaller than its own two headers is no size at all.
    const uint32_t size = h.U32(2);
    if (size < 14 + infoSize) return kFindRejected;
    find.length = size;
    return kFindComplete;
}

uint32_t AnalyzeChm(SignatureFind& find, const FindBuffer& buffer) {
    static constexpr FileGuid kItsfGuid1 = {
        0x7C01FD10, 0x7BAA, 0x11D0, {0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
    static constexpr FileGuid kItsfGuid2 = {
        0x7C01FD11, 0x7BAA, 0x11D0, {0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC}};
    ByteView h;
    uint32_t r = ReadHeader(find, buffer, h);
    if (r != kFindDelivered) return r;
    if (!IsGuidAt(h, 24, kItsfGuid1) || !IsGuidAt(h, 40, kItsfGuid2)) return kFindRejected;
    // The file size of the header section that follows the 0x60-byte header.
    const uint32_t size = h.U32(104);
    if (size < 0x60) return kFindRejected;
    find.length = size;
    return kFindComplete;
}

uint32_t AnalyzeWinHelp(SignatureFind& find, const FindBuffer& buffer) {
    ByteView h;
    uint32_t r = ReadHeader(find, buffer, h);
    if (r != kFindDelivered) return r;
    const uint32_t size = h.U32(12);
    if (size < 512 || size < h.U32(4)) return kFindRejected;
    find.length = size;
    return kFindComplete;
}

}  // namespace kestrel
