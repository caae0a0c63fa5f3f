#pragma once
// Check states as the export sees them: directories recomputed from their
// visible children, the partitions the user checked, and the totals of the
// checked files.
#include <cstdint>
#include <vector>

#include "app/progress.h"
#include "fs/result_set.h"

namespace kestrel {

// Recomputes the check state of every directory of the partitions from slot
// 3 on, bottom-up from the root: a directory with children becomes checked
// when all its visible Listed children are, partly checked when they are
// mixed or one of them is partly checked, and unchecked otherwise (also when
// none of its children is visible and Listed). A directory without children
// and every file keep their state.
void RecomputeCheckStates(ResultSet& rs);
void RecomputeCheckStates(PartInfo& part, const ResultSet& rs);

// The partition slots from 3 on whose root is visible and checked or partly
// checked: the rows an export writes.
std::vector<TreeRow> CheckedPartitionRows(ResultSet& rs);

struct CheckedTotals {
    uint32_t files = 0;
    uint64_t bytes = 0;
};
// Every valid file node of every partition slot whose check state is not 0,
// visible or not; directories are not descended.
CheckedTotals CountCheckedFiles(ResultSet& rs);

// Adds the checked visible files at and below (row, id) to the snapshot's
// total files and total bytes. An absent, invisible or unchecked node adds
// nothing.
void CountSelection(ResultSet& rs, TreeRow row, uint32_t id, ProgressSnapshot& progress);

}  // namespace kestrel
