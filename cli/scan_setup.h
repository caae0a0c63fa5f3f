#pragma once
// What the scanning commands do before a free-space scan.
#include <cstdint>

#include "storage/part_info.h"

namespace kestrel::cli {

// Mode 1 scans only free space, so the partition's file system is read first
// for its allocation data (part then holds its tree). When it cannot be read
// the whole partition is scanned instead: the message goes to stderr and the
// mode becomes 2. treeRead tells whether part now owns a tree to free.
int32_t PrepareFreeSpaceScan(PartInfo& part, int32_t mode, const char* fallbackMessage,
                             bool& treeRead);

}  // namespace kestrel::cli
