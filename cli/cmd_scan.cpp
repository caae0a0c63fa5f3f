// kestrel-cli scan IMAGE [--part N] [--mode 1|2|3] [--finds]: a deep scan of
// the whole image (mode 3) or of partition N (modes 1 and 2) with the default
// options. Progress is one updating line on stderr when stderr is a terminal;
// the summary follows on stdout, or on stderr with --finds, which prints one
// tab-separated line per catalogue item to stdout. Ctrl-C stops the scan and
// still reports what was found.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "app/progress.h"
#include "carving/type_catalogue.h"
#include "cli/commands.h"
#include "cli/scan_setup.h"
#include "fs/file_node.h"
#include "fs/ntfs_record_summary.h"
#include "scan/free_space.h"
#include "scan/scan_catalogue.h"
#include "scan/scan_session.h"
#include "storage/image_partitions.h"

namespace kestrel::cli {
namespace {

ScanState gState{kScanStopRequested};

void OnInterrupt(int) {
    // A second Ctrl-C ends the process the usual way.
    std::signal(SIGINT, SIG_DFL);
    gState.store(kScanStopRequested);
}

uint64_t RecordSectorsProcessed(const ScanSession& s) {
    const uint64_t start = s.scanned.startLba;
    const uint64_t end = start + s.scanned.sizeSectors;
    uint64_t n = 0;
    for (uint64_t b : s.processedBlocks) {
        const uint64_t lo = b > start ? b : start;
        const uint64_t hi = b + kScanBlockSectors < end ? b + kScanBlockSectors : end;
        if (hi > lo) n += hi - lo;
    }
    return n;
}

uint64_t StructureBytes(uint32_t type) { return type == kCodeFileRecord ? 1024 : 512; }

void PrintFind(const FoundItem& it) {
    const std::string name = Utf8FromWide(TypeNameTable(it.type));
    const bool structure = IsStructureCode(it.type);
    std::printf("%u\t%s\t%u\t%" PRIu64 "\t%" PRIu64, unsigned(it.type), name.c_str(),
                unsigned(it.status), it.lba, structure ? StructureBytes(it.type) : it.FileLength());
    if (const FileRecordSummary* r = FileRecordOf(it))
        std::printf("\t%u\t%u\t0x%02x\t%s", r->recordNumber, r->parentRecord, unsigned(r->flags),
                    Utf8FromWide(r->name).c_str());
    else if (it.type == kCodeIndexBlock)
        std::printf("\t%u", it.payload);
    else if (it.type == kCodeFatDir)
        std::printf("\t%u\t%u", it.payload, it.extra);
    std::printf("\n");
}

void PrintProgressLine(const ProgressSnapshot& p, double seconds) {
    const DeepScanProgress& d = p.scan;
    const double pct = d.totalSectors ? 100.0 * double(d.doneSectors) / double(d.totalSectors) : 0;
    const double mbs = seconds > 0 ? double(d.doneSectors) * 512 / 1048576.0 / seconds : 0;
    uint32_t structures = 0;
    for (uint32_t c : d.structures) structures += c;
    std::fprintf(stderr, "\rscanning: %5.1f%%  %8.1f MB/s  files %u  structures %u   ",
                 pct > 100 ? 100.0 : pct, mbs, d.signatureFiles, structures);
    std::fflush(stderr);
}

}  // namespace

int CmdScan(const Args& argsIn) {
    Args args = argsIn;
    const bool finds = TakeFlag(args, "--finds");
    std::string partText, modeText;
    const bool havePart = TakeOption(args, "--part", partText);
    const bool haveMode = TakeOption(args, "--mode", modeText);
    unsigned long long number = 0, mode = havePart ? 2 : 3;
    if (args.size() != 1 || args[0].empty() || (havePart && !ParseUnsigned(partText, number)) ||
        number > UINT32_MAX || (haveMode && !ParseUnsigned(modeText, mode)) || mode < 1 ||
        mode > 3 || (mode == 3 && havePart)) {
        std::fprintf(stderr,
                     "usage: kestrel-cli scan IMAGE [--part N] [--mode 1|2|3] [--finds]\n"
                     "  mode 3 scans the whole image; modes 1 and 2 partition N\n");
        return 2;
    }
    const WString image = Utf16FromUtf8(args[0]);
    PartInfo part;
    if (!FindImagePartition(image, mode == 3 ? 0 : uint32_t(number), part)) {
        std::fprintf(stderr, "kestrel-cli scan: no partition %llu in %s\n", number,
                     args[0].c_str());
        return 2;
    }
    BuildTypeCatalogue();

    auto session = std::make_unique<ScanSession>();
    ScanSession& s = *session;
    bool readTree = false;
    mode = PrepareFreeSpaceScan(part, int32_t(mode),
                                "kestrel-cli scan: file system not readable, scanning all of it",
                                readTree);
    s.scanned = part;
    s.recoverMode = int32_t(mode);
    s.options = OptionsForScan(part, int32_t(mode), false);
    if (mode == 1) s.allocated = MakeAllocationQuery(s.scanned);

    const bool tty = isatty(STDERR_FILENO) == 1;
    gState = kScanRunning;
    std::signal(SIGINT, &OnInterrupt);
    const auto t0 = std::chrono::steady_clock::now();
    auto seconds = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    };
    ClearProgress();
    ScanJob job{&s, &gState};
    StartDeepScan(job);
    while (!s.processorFinished.load()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ProgressSnapshot p;
        if (tty && TakeProgress(p) && p.phase == kPhaseDeepScan) PrintProgressLine(p, seconds());
    }
    const double elapsed = seconds();
    std::signal(SIGINT, SIG_DFL);
    if (tty) std::fprintf(stderr, "\r%78s\r", "");

    const std::vector<FoundItem> items = s.catalogue.Collect(false, false, 0, 0);
    if (finds)
        for (const FoundItem& it : items) PrintFind(it);

    FILE* out = finds ? stderr : stdout;
    const uint64_t scanned = RecordSectorsProcessed(s);
    std::fprintf(out, "%s: %s\n",
                 s.openFailed                          ? "not opened"
                 : gState.load() == kScanStopRequested ? "stopped"
                                                       : "finished",
                 args[0].c_str());
    std::fprintf(out, "sectors scanned\t%" PRIu64 " of %" PRIu64 "\n", scanned, part.sizeSectors);
    std::fprintf(out, "elapsed\t%.2f s\n", elapsed);
    std::fprintf(out, "speed\t%.1f MB/s\n",
                 elapsed > 0 ? double(scanned) * 512 / 1048576.0 / elapsed : 0.0);
    std::fprintf(out, "read errors\t%u of %u block reads\n", s.readFailures, s.readCalls);
    std::map<uint32_t, uint64_t> perType;
    for (const FoundItem& it : items) ++perType[it.type];
    std::fprintf(out, "finds\t%zu\n", items.size());
    for (int structures = 0; structures < 2; ++structures) {
        std::fprintf(out, structures ? "structures by code\n" : "files by type\n");
        for (const auto& [type, count] : perType) {
            if ((type >= kFirstSeriesKind) != (structures == 1)) continue;
            std::fprintf(out, "  %u\t%s\t%" PRIu64 "\n", type,
                         Utf8FromWide(TypeNameTable(type)).c_str(), count);
        }
    }
    if (readTree) FreeTable(part);
    if (std::fflush(stdout) != 0) return 1;
    return s.openFailed ? 2 : 0;
}

}  // namespace kestrel::cli
