#include "cli/recover_export.h"

#include "platform/wide_text.h"
#include "results/check_states.h"
#include "results/export.h"
#include "results/export_command.h"

namespace kestrel::cli {

std::string ExportCheckedFiles(ResultSet& rs, const RecoverOptions& o) {
    // Directories take their check state from the files below them, as the
    // export command does before its dialog.
    RecomputeCheckStates(rs);
    ExportOptions options;
    options.targetDir = Utf16FromUtf8(o.outDir);
    options.collisionPolicy = o.onExists;
    options.readErrorPolicy = o.onError;
    ExportJob job;
    PrepareExportJob(job, rs, options);
    RunExport(job);
    // Image files are never USB-attached devices here: no cabling advice.
    ReportExportReadErrors(false);
    return Utf8FromWide(ExportSummaryText(job.filesDone, job.bytesDone / 1024));
}

}  // namespace kestrel::cli
