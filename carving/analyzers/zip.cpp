// ZIP archives and the Office Open XML documents built on them: a walk over
// local and central headers up to the end-of-central-directory record.
#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"
#include "carving/zip_records.h"

namespace kestrel {
namespace {

// The member names of an Office Open XML package tell which application wrote it.
void RetypeFromMemberName(SignatureFind& find, const ByteView& header) {
    if (header.Equals(30, "word", 4) && header.U8(34) == '/') {
        find.typeId = 37;
    } else if (header.Equals(30, "ppt/", 4)) {
        find.typeId = 89;
    } else if (header.Equals(30, "xl/", 3)) {
        find.typeId = 38;
    }
}

uint32_t WalkZip(SignatureFind& find, const FindBuffer& buffer, bool officeOpenXml) {
    for (uint32_t step = 0; step < kMaxAnalyzerSteps; ++step) {
        ByteView h;
        uint32_t r = ReadStructure(find, buffer, 512, h);
        if (r != kFindDelivered) return r;
        const ZipRecordStep record = StepZipRecord(h);
        if (record.kind == ZipRecordKind::kLocalHeader) {
            if (officeOpenXml) {
                find.length = find.parseOffset;
                // The first members are package plumbing ([Content_Types].xml,
                // _rels); from the third on the names are the document's.
                if (find.flag < 3) ++find.flag;
                if (find.flag >= 3) RetypeFromMemberName(find, h);
            }
        } else if (record.kind == ZipRecordKind::kEndOfCentralDirectory) {
            find.length = find.parseOffset + record.step;
            return kFindComplete;
        } else if (record.kind != ZipRecordKind::kCentralHeader) {
            return kFindRejected;
        }
        find.parseOffset += record.step;
    }
    return kFindRejected;
}

}  // namespace

uint32_t AnalyzeZip(SignatureFind& find, const FindBuffer& buffer) {
    return WalkZip(find, buffer, false);
}

uint32_t AnalyzeOfficeOpenXml(SignatureFind& find, const FindBuffer& buffer) {
    return WalkZip(find, buffer, true);
}

}  // namespace kestrel
