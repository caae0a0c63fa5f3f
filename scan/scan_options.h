#pragma once
// The settings record of one deep scan, how it is derived for each scanned
// record, and the checks the settings dialog applies before storing it.
#include <cstdint>

#include "platform/wide_text.h"
#include "storage/part_info.h"

namespace kestrel {

// Switch bytes: bit 0 is the setting; a value of 2 or more marks the switch as
// locked (the dialog leaves it as it is). Readers test bit 0 only.
struct ScanOptions {
    uint64_t scanStart = 0;
    uint64_t scanSize = 0;
    uint64_t priorityStart = 0;
    uint64_t prioritySize = 0;  // 0: no priority range
    uint8_t clusterAlign = 0;
    uint8_t showAllFiles = 0;
    uint8_t analyseFat = 0;
    uint8_t analyseNtfs = 0;
    uint8_t analyseExfat = 0;
    uint8_t analyseGpt = 0;
    uint8_t rereadAfterFailure = 0;
    uint8_t preciseOffice = 0;
    // The last three are always taken from their checkboxes (never locked).
    uint8_t fixIllegalNames = 0;
    uint8_t removeDuplicates = 0;
    uint8_t showWhileScanning = 0;
};

inline bool IsOn(uint8_t sw) { return (sw & 1) != 0; }
inline bool IsLocked(uint8_t sw) { return sw >= 2; }

// The run's stored options (one instance per run of the program).
struct StoredScanOptions {
    ScanOptions options;
    bool optionsSet = false;
    uint8_t runReread = 0;  // run copy of the re-read switch
};
StoredScanOptions& RunScanOptions();

// The options for a scan of [start, start + size): defaults on the first scan
// of the run, else the stored switches with the range reset to the record and
// a priority range dropped unless it fits inside it. Stores the result unless
// the settings dialog is going to be shown (showDialog).
ScanOptions OptionsForScan(const PartInfo& scanned, int32_t recoverMode, bool showDialog);
void StoreOptions(const ScanOptions& options);

// Dialog text of a sector field ("%llu") and its GB label ("%u(GB)"; "0(GB)" for
// texts of 3 characters or fewer).
WString SectorFieldText(uint64_t sectors);
WString GbLabelFor(const WString& fieldText);
// The per-field check made on every change: at most 10 characters, and a
// 10-character text must not exceed the range of 42xxxxxxxx.
bool IsValidPriorityText(const WString& text);
// The message shown when a priority field changes to an invalid text; empty
// when the text is valid.
WString PriorityStartChangeMessage(const WString& text);
WString PrioritySizeChangeMessage(const WString& text);

// What the dialog hands over on OK: the two priority texts and the checkbox
// state of every switch, in record order.
struct ScanDialogInput {
    WString priorityStartText;
    WString prioritySizeText;
    bool checks[11] = {};
};

// Validates and, on success, stores the edited options (options-set flag and
// run re-read copy included) and returns an empty text; otherwise returns the
// message to show and stores nothing. Writing back the file-type selection is
// the dialog's job.
WString ApplyScanDialog(const ScanOptions& shown, const ScanDialogInput& input,
                        ScanOptions& result);

}  // namespace kestrel
