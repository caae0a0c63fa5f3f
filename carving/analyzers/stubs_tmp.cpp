#include "carving/analyzers/analyzers.h"
namespace kestrel {
#define KESTREL_STUB(name) \
    uint32_t name(SignatureFind&, const FindBuffer&) { return kFindUndecided; }
KESTREL_STUB(AnalyzeAvi)
KESTREL_STUB(AnalyzeQuickTime)
KESTREL_STUB(AnalyzeFlv)
KESTREL_STUB(AnalyzeMatroska)
KESTREL_STUB(AnalyzeMpegProgramStream)
KESTREL_STUB(AnalyzeRealMedia)
KESTREL_STUB(AnalyzeAsf)
KESTREL_STUB(AnalyzeZip)
KESTREL_STUB(AnalyzeOfficeOpenXml)
KESTREL_STUB(AnalyzeRar)
KESTREL_STUB(AnalyzeMp3)
KESTREL_STUB(AnalyzeWave)
KESTREL_STUB(AnalyzeJpeg)
KESTREL_STUB(AnalyzeBmp)
KESTREL_STUB(AnalyzeOle2)
KESTREL_STUB(AnalyzeTiffRaw)
KESTREL_STUB(AnalyzeChm)
KESTREL_STUB(AnalyzeWinHelp)
}  // namespace kestrel
