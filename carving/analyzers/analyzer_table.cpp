// The one list that ties sniffed type ids to their analyzers.
#include "carving/analyzers/analyzers.h"

namespace kestrel {
namespace {

struct AnalyzerEntry {
    uint32_t typeId;
    FindAnalyzer analyze;
};

// clang-format off
constexpr AnalyzerEntry kAnalyzers[] = {
    {73, AnalyzeAvi},
    {67, AnalyzeQuickTime},
    {68, AnalyzeQuickTime},
    {69, AnalyzeQuickTime},
    {71, AnalyzeQuickTime},
    {72, AnalyzeQuickTime},
    {61, AnalyzeZip},
    {62, AnalyzeRar},
    {54, AnalyzeMp3},
    {53, AnalyzeWave},
    {46, AnalyzeJpeg},
    {48, AnalyzeBmp},
    {37, AnalyzeOfficeOpenXml},
    // An Office Open XML find is retyped while its walk goes on; when it
    // waits for later blocks it comes back under its refined id.
    {38, AnalyzeOfficeOpenXml},
    {89, AnalyzeOfficeOpenXml},
    {36, AnalyzeOle2},
    {66, AnalyzeRealMedia},
    {86, AnalyzeMatroska},
    {64, AnalyzeFlv},
    {82, AnalyzeMpegProgramStream},
    {108, AnalyzeAsf},
    {49, AnalyzeTiffRaw},
    {39, AnalyzeChm},
    {41, AnalyzeWinHelp},
};
// clang-format on

}  // namespace

FindAnalyzer AnalyzerForType(uint32_t typeId) {
    for (const AnalyzerEntry& e : kAnalyzers) {
        if (e.typeId == typeId) return e.analyze;
    }
    return nullptr;
}

uint32_t AnalyzeSignatureFind(const uint8_t* buffer, size_t bufferBytes, SignatureFind& find,
                              uint64_t bufferStartSector) {
    FindAnalyzer analyze = AnalyzerForType(find.typeId);
    uint32_t status = kFindUndecided;
    if (analyze) {
        status = analyze(find, FindBuffer{buffer, bufferBytes, bufferStartSector});
        // The internal statuses never leave the analyzers.
        if (status == kFindDelivered) status = kFindUndecided;
        if (status == kFindUndeliverable) status = kFindRejected;
    }
    find.status = status;
    return status;
}

}  // namespace kestrel
