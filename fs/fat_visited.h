#pragma once
// The process-wide list of directory start LBAs already read in the current
// pass. A damaged tree can name a directory twice or form loops; a directory
// whose start is in the list is not read again. Cleared at the start of every
// partition read and every deep scan.
#include <cstdint>
#include <vector>

namespace kestrel {

void ClearFatVisitedList();
// Adds lba; false when it was already in the list.
bool MarkFatDirectoryVisited(uint64_t lba);
bool IsFatDirectoryVisited(uint64_t lba);
// A copy of the list, in no particular order: what one partition's read
// marked, kept before the next read clears it.
std::vector<uint64_t> FatVisitedLbas();

}  // namespace kestrel
