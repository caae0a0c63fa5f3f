#pragma once
// The export command around the worker: its pre-checks, the options
// dialog's checks, and the texts of the end of an export.
#include <cstdint>

#include "app/scan_state.h"
#include "fs/result_set.h"
#include "platform/wide_text.h"
#include "storage/part_info.h"

namespace kestrel {

// Shown when the user cancelled the export.
inline constexpr char16_t kExportStoppedText[] = u"导出文件终止！";

// The checks before the options dialog, in order: a FAT32 partition in
// "recover deleted files" mode while its scan runs or is paused, a running
// scan, then (after recomputing the directories' check states) no checked
// partition. Returns the message to show, empty when the export may go on.
// scan is the deep scan's state word, null when no scan exists.
WString ExportCommandCheck(ResultSet& rs, const ScanState* scan);

// The options dialog's OK checks, in order: empty path, a path that is not an
// existing folder, a folder on the partition being recovered, too little free
// space for checkedMiB (the check is skipped when the free space is unknown).
// Returns the message, empty when valid; then the path is remembered as the
// next export's target folder.
WString ValidateSaveParams(const WString& path, const PartInfo& recovered, uint64_t checkedMiB);
// Free space of the file system holding path, in MiB; 0 when unknown.
uint64_t FreeSpaceMiB(const WString& path);

// "导出结束！本次恢复%u个文件，共计…" in KB below 2049 KiB, in GB from
// 2,097,153 KiB on, in MB between.
WString ExportSummaryText(uint32_t files, uint64_t kib);
// The read-error message, with the advice for USB-attached devices.
WString ReadErrorSummaryText(uint32_t failed, bool usb);
// After a finished export: when the read accounting counted failed reads,
// shows ReadErrorSummaryText and queues report 24. True when it did.
bool ReportExportReadErrors(bool usb);

}  // namespace kestrel
