#pragma once
// The logic of the filter settings dialog, without the dialog: the readable
// size line under each size edit, the size-edit input rule, the order of the
// checks on OK and the date bounds a picker yields.
#include <cstdint>

#include "platform/wide_text.h"
#include "results/file_filter.h"

namespace kestrel {

// "%.2f(GB)" from 1,048,577 KiB on, "%u(KB)" below 1025 KiB, else "%.2f(MB)".
WString ReadableSizeText(uint32_t kb);
// Decimal digits only, at most 9; a 9-digit value starts with 0 or 1, and
// after a 1 the second digit is at most 3. An empty edit is accepted (0).
bool IsValidSizeInput(WStringView text);
// The message an invalid size edit shows before its previous text returns.
WString InvalidSizeMessage();
// The value of a size edit that passed IsValidSizeInput.
uint32_t ParseSizeInput(WStringView text);
// The checks of OK in their order; empty when the settings may be stored.
WString ValidateFilterSettings(const FileFilter& filter);
// A picked calendar date as a PackedTime: 00:00:00 for a lower bound,
// 23:59:59 for an upper one. A month or day the calendar does not have gives
// January 1st of that year.
uint32_t FilterDateBound(int year, int month, int day, bool upper);

}  // namespace kestrel
