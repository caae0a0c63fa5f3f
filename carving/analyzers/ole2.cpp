// OLE2 compound documents (Word, Excel, PowerPoint, Visio, Project): the FAT
// gives the length, the directory's stream names give the application.
#include <string>
#include <vector>

#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"
#include "carving/ole2_layout.h"

namespace kestrel {
namespace {

PrefixStep StepOf(Ole2Status s) {
    return s == Ole2Status::kNeedMore ? PrefixStep::kNeedMore : PrefixStep::kRejected;
}

uint32_t StreamType(const ByteView& entry) {
    const std::string name = Ole2EntryName(entry);
    if (name.empty()) return 0;
    static constexpr struct {
        const char* name;
        uint32_t type;
    } kStreams[] = {{"WordDocument", 36}, {"Workbook", 87},      {"Book", 87},
                    {"Props", 91},        {"VisioDocument", 96}, {"PowerPoint Document", 90},
                    {"Pictures", 90}};
    for (const auto& s : kStreams) {
        if (name == s.name) return s.type;
    }
    return 0;
}

PrefixStep ParseOle2(SignatureFind& find, const ByteView& v) {
    if (v.size() < kOle2SectorSize || !HasOle2Signature(v)) return PrefixStep::kRejected;
    std::vector<uint32_t> fat;
    const Ole2Status fatRead = ReadOle2Fat(v, fat);
    if (fatRead != Ole2Status::kOk) return StepOf(fatRead);
    size_t last = fat.size();
    while (last > 0 && fat[last - 1] == kOle2FreeSector) --last;
    if (last == 0) return PrefixStep::kRejected;
    const uint64_t length = uint64_t(last + 1) * kOle2SectorSize;

    std::vector<size_t> directory;
    const Ole2Status walked = WalkOle2Chain(v, fat, v.U32(48), directory);
    if (walked != Ole2Status::kOk) return StepOf(walked);
    if (directory.empty() || !IsOle2RootEntry(v.Sub(directory[0], kOle2DirectoryEntrySize)))
        return PrefixStep::kRejected;
    for (size_t pos : directory) {
        for (size_t e = 0; e < kOle2SectorSize / kOle2DirectoryEntrySize; ++e) {
            const uint32_t type =
                StreamType(v.Sub(pos + kOle2DirectoryEntrySize * e, kOle2DirectoryEntrySize));
            if (type != 0) {
                find.typeId = type;
                find.length = length;
                return PrefixStep::kComplete;
            }
        }
    }
    return PrefixStep::kRejected;
}

}  // namespace

uint32_t AnalyzeOle2(SignatureFind& find, const FindBuffer& buffer) {
    return AnalyzeGrowingPrefix(find, buffer,
                                [&find](const ByteView& v) { return ParseOle2(find, v); });
}

}  // namespace kestrel
