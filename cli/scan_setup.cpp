#include "cli/scan_setup.h"

#include <cstdio>

#include "app/scan_state.h"
#include "fs/partition_tree.h"

namespace kestrel::cli {

int32_t PrepareFreeSpaceScan(PartInfo& part, int32_t mode, const char* fallbackMessage,
                             bool& treeRead) {
    treeRead = false;
    if (mode != 1) return mode;
    ScanState readState{kScanRunning};
    treeRead = ReadPartitionTree(part, readState);
    if (treeRead) return mode;
    std::fprintf(stderr, "%s\n", fallbackMessage);
    return 2;
}

}  // namespace kestrel::cli
