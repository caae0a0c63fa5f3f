#pragma once
// The format analyzers: each walks its format's own structure from the
// file's first byte to confirm a signature find and measure its length. An
// analyzer keeps its position in the find, so that when the bytes it wants
// lie beyond the buffer it returns 3 and is called again with a later window.
// Every analyzer returns 3, 4 or 5 (or 0 when it decides nothing).
#include "carving/find_bytes.h"

namespace kestrel {

using FindAnalyzer = uint32_t (*)(SignatureFind& find, const FindBuffer& buffer);

uint32_t AnalyzeAvi(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeQuickTime(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeFlv(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeMatroska(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeMpegProgramStream(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeRealMedia(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeAsf(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeZip(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeOfficeOpenXml(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeRar(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeMp3(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeWave(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeJpeg(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeBmp(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeOle2(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeTiffRaw(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeChm(SignatureFind& find, const FindBuffer& buffer);
uint32_t AnalyzeWinHelp(SignatureFind& find, const FindBuffer& buffer);

// The analyzer for a sniffed type id, or null when the type has none.
FindAnalyzer AnalyzerForType(uint32_t typeId);

}  // namespace kestrel
