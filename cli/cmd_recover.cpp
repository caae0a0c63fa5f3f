// kestrel-cli recover IMAGE --mode 1|2|3 [--part N] (--out DIR | --tree) ...:
// one whole recovery function as the desktop runs it — the deep scan, the
// post-scan reassembly, then every listed file of every partition checked
// (narrowed by the filter options) and exported below DIR, or the result tree
// printed with --tree. Ctrl-C stops the scan; with --save-state what was
// scanned so far is kept in the scan-state file for a later --resume.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/progress.h"
#include "cli/commands.h"
#include "cli/recover_answers.h"
#include "cli/recover_export.h"
#include "cli/recover_options.h"
#include "cli/recover_tree.h"
#include "cli/scan_setup.h"
#include "fs/file_node.h"
#include "fs/result_set.h"
#include "results/browse_queries.h"
#include "results/file_filter.h"
#include "scan/scan_session.h"
#include "scan/scan_state_file.h"
#include "storage/image_partitions.h"

namespace kestrel::cli {
namespace {

constexpr int kExitInterrupted = 130;

ScanState gState{kScanStopRequested};

void OnInterrupt(int) {
    // A second Ctrl-C ends the process the usual way.
    std::signal(SIGINT, SIG_DFL);
    gState.store(kScanStopRequested);
}

// The blocks a reused scan-state file marked as processed: the pipeline frees
// its block map when the scan ends, and a save after Ctrl-C must keep them.
std::vector<uint64_t> gReusedBlocks;
bool (*gLoadScanState)(ScanSession&, ScanState&) = nullptr;

bool LoadAndNoteReusedBlocks(ScanSession& s, ScanState& state) {
    gReusedBlocks.clear();
    if (!gLoadScanState || !gLoadScanState(s, state)) return false;
    const CScanBlockMap& map = s.schedule.map;
    for (uint64_t b = 0; b < map.Count(); ++b)
        if (map.Get(b) == kBlockProcessed) gReusedBlocks.push_back(b);
    return true;
}

// Saves what an interrupted scan processed. The map is rebuilt from the
// blocks processed in this run and the reused ones: blocks that were read
// but never processed stay unread, so a resumed scan reads them once.
bool SaveInterruptedScan(ScanSession& s, const std::string& path, uint64_t& savedBlocks) {
    const uint64_t blocks = DeviceBlockCount(s.scanned);
    s.schedule.map.Allocate(blocks);
    for (uint64_t b : gReusedBlocks)
        if (b < blocks) s.schedule.map.Set(b, kBlockProcessed);
    for (uint64_t lba : s.processedBlocks)
        if ((lba >> kScanBlockShift) < blocks)
            s.schedule.map.Set(lba >> kScanBlockShift, kBlockProcessed);
    savedBlocks = 0;
    for (uint64_t b = 0; b < blocks; ++b) savedBlocks += s.schedule.map.Get(b) == kBlockProcessed;
    const bool ok = SaveScanData(path, s);
    s.schedule.map.Free();
    return ok;
}

void PrintScanProgress(const ProgressSnapshot& p) {
    if (p.phase == kPhaseDeepScan) {
        const DeepScanProgress& d = p.scan;
        const double pct =
            d.totalSectors ? 100.0 * double(d.doneSectors) / double(d.totalSectors) : 0.0;
        std::fprintf(stderr, "\rscanning %5.1f%%, %u files found   ", std::min(pct, 100.0),
                     d.signatureFiles);
    } else {
        std::fprintf(stderr, "\rprocessing what the scan found...          ");
    }
    std::fflush(stderr);
}

// Runs the scan with the reader and processor on worker threads, polling for
// progress; returns once the processor (and the post-scan steps) ended.
void RunScanWithProgress(ScanSession& s) {
    const bool tty = isatty(STDERR_FILENO) == 1;
    gState = kScanRunning;
    std::signal(SIGINT, &OnInterrupt);
    ClearProgress();
    ScanJob job{&s, &gState};
    StartDeepScan(job);
    while (!s.processorFinished.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ProgressSnapshot p;
        if (tty && TakeProgress(p)) PrintScanProgress(p);
    }
    std::signal(SIGINT, SIG_DFL);
    if (tty) std::fprintf(stderr, "\r%60s\r", "");
}

void CheckEveryListedFile(ResultSet& rs) {
    for (uint32_t slot = kFoundFilesSlot; slot < rs.partitionCount; ++slot)
        SetCheckStateBelow(rs, slot, kRootNodeId, 1);
}

void ApplyFilterOptions(ResultSet& rs, const RecoverOptions& o) {
    FileFilter f = DefaultFileFilter();
    f.text = Utf16FromUtf8(o.filterText);
    f.sizeMinKb = o.minKb;
    f.sizeMaxKb = o.maxKb;
    if (o.modifiedFrom) f.modifiedFrom = o.modifiedFrom;
    if (o.modifiedTo) f.modifiedTo = o.modifiedTo;
    RebuildFilterLists(f);
    if (!ApplyFilter(rs, f))
        std::fprintf(
            stderr, "%s\n",
            Utf8FromWide(u"没有任何文件符合您设置的过滤条件，请重新设置过滤条件！").c_str());
    rs.filterState = kFilterActive;
}

}  // namespace

int CmdRecover(const Args& args) {
    RecoverOptions o;
    std::string error;
    if (!ParseRecoverArgs(args, o, error)) {
        std::fprintf(stderr, "kestrel-cli recover: %s\n%s", error.c_str(), kRecoverUsage);
        return 2;
    }
    PartInfo part;
    if (!FindImagePartition(Utf16FromUtf8(o.image), o.mode == 3 ? 0 : o.part, part)) {
        std::fprintf(stderr, "kestrel-cli recover: cannot read partition %u of '%s'\n", o.part,
                     o.image.c_str());
        return 2;
    }
    std::error_code ec;
    if (!o.tree && !std::filesystem::is_directory(o.outDir, ec) &&
        !std::filesystem::create_directories(o.outDir, ec)) {
        std::fprintf(stderr, "kestrel-cli recover: cannot create the folder '%s'\n",
                     o.outDir.c_str());
        return 2;
    }
    RecoverAnswers answers(o.resume, o.saveState);
    ScopedAnswers scopedAnswers(answers);
    bool readTree = false;
    const int32_t mode = PrepareRecoveryRun(part, o.mode,
                                            "kestrel-cli recover: file system not readable, "
                                            "recovering all of the partition (mode 2)",
                                            readTree);

    ResultSet rs;
    auto session = std::make_unique<ScanSession>();
    ScanSession& s = *session;
    const std::string statePath = ScanStatePath();
    SetUpRecoverySession(s, rs, part, mode, statePath);
    gLoadScanState = s.hooks.loadSavedData;
    if (s.hooks.loadSavedData) s.hooks.loadSavedData = &LoadAndNoteReusedBlocks;
    gReusedBlocks.clear();

    RunScanWithProgress(s);
    const bool interrupted = gState.load() == kScanStopRequested;
    if (readTree) FreeTable(part);
    if (s.openFailed) {
        std::fprintf(stderr, "kestrel-cli recover: cannot read '%s'\n", o.image.c_str());
        return 2;
    }
    const uint64_t total = DeviceBlockCount(s.scanned);
    std::fprintf(stderr, "scan %s: %zu blocks read, %zu reused from the scan-state file\n",
                 interrupted ? "interrupted" : "finished", s.processedBlocks.size(),
                 gReusedBlocks.size());
    if (interrupted) {
        if (o.saveState) {
            uint64_t saved = 0;
            const bool ok = SaveInterruptedScan(s, statePath, saved);
            std::fprintf(stderr, "%s: %llu of %llu blocks saved to %s\n",
                         Utf8FromWide(ok ? u"保存扫描数据成功！" : u"保存扫描数据失败！").c_str(),
                         (unsigned long long)saved, (unsigned long long)total, statePath.c_str());
        }
        return kExitInterrupted;
    }

    if (o.filter) ApplyFilterOptions(rs, o);
    CheckEveryListedFile(rs);
    if (o.tree) {
        PrintResultTree(rs, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    const std::string summary = ExportCheckedFiles(rs, o);
    std::printf("%s\n", summary.c_str());
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace kestrel::cli
