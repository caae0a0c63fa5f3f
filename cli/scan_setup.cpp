#include "cli/scan_setup.h"

#include <cstdio>
#include <cstdlib>

#include "app/run_state.h"
#include "app/scan_state.h"
#include "carving/type_catalogue.h"
#include "fs/partition_tree.h"
#include "results/class_views.h"
#include "scan/free_space.h"
#include "scan/reassembly.h"
#include "scan/scan_options.h"
#include "scan/scan_state_file.h"

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

int32_t PrepareRecoveryRun(PartInfo& part, int32_t mode, const char* fallbackMessage,
                           bool& treeRead) {
    BuildTypeCatalogue();
    InstallClassificationViews();
    const int32_t runMode = PrepareFreeSpaceScan(part, mode, fallbackMessage, treeRead);
    Run().RecoverMode = runMode;
    Run().CurPartInfo = part;
    return runMode;
}

std::string ScanStatePath() {
    const char* env = std::getenv("KESTREL_SCAN_STATE");
    return env && *env ? std::string(env) : DefaultScanStateFilePath();
}

void SetUpRecoverySession(ScanSession& s, ResultSet& rs, const PartInfo& part, int32_t mode,
                          const std::string& statePath) {
    s.results = &rs;
    s.scanned = part;
    s.recoverMode = mode;
    s.options = OptionsForScan(part, mode, false);
    if (mode == 1) s.allocated = MakeAllocationQuery(s.scanned);
    InstallReassemblyHooks(s);
    InstallScanStateFileHooks(s, statePath);
}

}  // namespace kestrel::cli
