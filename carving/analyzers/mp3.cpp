// MP3 with an ID3v2 tag: the tag, then MPEG audio frames and trailing tags.
#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"

namespace kestrel {

// Length in bytes of the MPEG audio frame whose header starts at byte 0 of
// `h`; 0 when it is not a valid header.
uint32_t MpegAudioFrameLength(const ByteView& h) {
    static constexpr uint16_t kBitRates[2][3][15] = {
        // MPEG 1: Layer I, II, III
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        // MPEG 2 and 2.5
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}},
    };
    static constexpr uint32_t kSampleRates[4][3] = {
        {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
    if (!h.Has(0, 4)) return 0;
    const uint8_t b1 = h.U8(1);
    const uint8_t b2 = h.U8(2);
    if (h.U8(0) != 0xFF || (b1 & 0xE0) != 0xE0) return 0;
    const uint32_t version = (b1 >> 3) & 3;
    const uint32_t layerCode = (b1 >> 1) & 3;
    const uint32_t rateIndex = (b2 >> 2) & 3;
    const uint32_t bitRateIndex = b2 >> 4;
    const uint32_t padding = (b2 >> 1) & 1;
    if (version == 1 || layerCode == 0 || rateIndex == 3 || bitRateIndex == 0 || bitRateIndex == 15)
        return 0;
    const uint32_t layer = 4 - layerCode;  // 1, 2 or 3
    const uint32_t bitRate = kBitRates[version == 3 ? 0 : 1][layer - 1][bitRateIndex];
    const uint32_t sampleRate = kSampleRates[version][rateIndex];
    uint32_t coefficient = 144;
    if (layer == 1) coefficient = 12;
    if (layer == 3 && version != 3) coefficient = 72;
    const uint32_t multiplier = layer == 1 ? 4 : 1;
    return (bitRate * coefficient * 1000 / sampleRate + padding) * multiplier;
}

uint32_t AnalyzeMp3(SignatureFind& find, const FindBuffer& buffer) {
    for (uint32_t step = 0; step < kMaxAnalyzerSteps; ++step) {
        ByteView v;
        uint32_t r = ReadStructure(find, buffer, 64, v);
        if (r != kFindDelivered) return r;
        if (find.flag == 0) {
            const uint8_t major = v.U8(3);
            if (!v.Equals(0, "ID3", 3) || major < 2 || major > 4) return kFindRejected;
            uint32_t tagSize = 0;
            for (size_t i = 6; i < 10; ++i) tagSize = (tagSize << 7) | (v.U8(i) & 0x7F);
            if (tagSize > 0xA00000) return kFindRejected;
            find.parseOffset += 10 + uint64_t(tagSize);
            find.flag = 1;
            continue;
        }
        uint64_t unit = 0;
        if (v.Equals(0, "APETAGEX", 8)) {
            unit = 32;
            if (find.flag == 1) {
                unit = v.U32(12);
                find.flag = 2;
            }
        } else if (v.Equals(0, "TAG", 3)) {
            unit = 128;
        } else {
            unit = MpegAudioFrameLength(v);
            if (unit == 0) break;
        }
        ++find.wordB;
        find.length = find.parseOffset;
        find.parseOffset += unit;
    }
    if (find.wordB <= 10) return kFindRejected;
    find.length = find.parseOffset;
    return kFindComplete;
}

}  // namespace kestrel
