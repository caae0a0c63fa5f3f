#pragma once
// The three views across all partitions of a run (by file type, by creation
// date, by modification date): their folder skeletons in slots 0..2, the
// NodeRef trees that point at the listed files, and the empty found-files
// partition of slot 3.
#include <cstdint>

#include "app/scan_state.h"
#include "fs/result_set.h"

namespace kestrel {

void BuildViewSkeletons(ResultSet& rs, const ScanState* stop);
void BuildFoundFilesPartition(ResultSet& rs, bool notify);
void ClassifyPartition(ResultSet& rs, uint32_t slot, const ScanState* stop);

// Registers the three functions above as the result set's classification
// hook. Front ends call it once at start-up.
void InstallClassificationViews();

}  // namespace kestrel
