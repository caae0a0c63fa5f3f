// kestrel-cli preview: what the browser's preview pane shows for one file or
// folder — the hex dump of its first bytes, then its text (a plain or UTF-16
// text file, the text of a document, an archive listing, a folder or a limit
// message), converted to UTF-8 for the terminal.
//
//   preview IMAGE [--part N] PATH
//       a file or folder of partition N's file system, as ls lists it;
//   preview IMAGE --result-part K [--mode 1|2|3] [--part N] [--resume] PATH
//       a file or folder of partition K of the recovery's result, numbered
//       and listed as recover --tree prints them, after the same scan.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "cli/commands.h"
#include "cli/node_path.h"
#include "cli/recover_answers.h"
#include "cli/recover_options.h"
#include "cli/scan_setup.h"
#include "fs/file_node.h"
#include "fs/result_set.h"
#include "preview/hex_view.h"
#include "preview/preview_request.h"
#include "preview/preview_text.h"
#include "results/browse_queries.h"
#include "scan/scan_session.h"
#include "storage/image_partitions.h"

namespace kestrel::cli {
namespace {

const char kPreviewUsage[] =
    "usage: kestrel-cli preview IMAGE [--part N] PATH\n"
    "       kestrel-cli preview IMAGE --result-part K [--mode 1|2|3] [--part N] [--resume] PATH\n"
    "  the hex dump of the file's first bytes (at most 128 KiB), then, after an empty\n"
    "  line, its text when the preview has one (UTF-8); PATH may name a folder.\n"
    "  --result-part K: partition K of the recovery's result as recover --tree numbers\n"
    "  and lists it (0 is the found-files partition), after the same scan; --resume\n"
    "  reuses the scan-state file ($KESTREL_SCAN_STATE).\n"
    "  exit 0 when shown, 1 when the file could not be read, 2 on bad arguments or an\n"
    "  unknown path\n";

int UsageError(const std::string& why) {
    std::fprintf(stderr, "kestrel-cli preview: %s\n%s", why.c_str(), kPreviewUsage);
    return 2;
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = path.find('/', start);
        const size_t end = slash == std::string::npos ? path.size() : slash;
        if (end > start) parts.push_back(path.substr(start, end - start));
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    return parts;
}

// The visible node of a slot with this path as the listings print it; 0
// when none. Of equal names a live node wins, and only directories are
// walked into.
uint32_t FindVisibleByPath(ResultSet& rs, TreeRow row, const std::string& path) {
    const std::vector<std::string> parts = SplitPath(path);
    if (parts.empty()) return 0;
    uint32_t at = kRootNodeId;
    for (size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        uint32_t pick = 0;
        bool pickLive = false;
        for (uint32_t child : VisibleChildren(rs, row, at)) {
            const FileNode* n = ResolveVisible(rs, row, child);
            if (!n || (!last && !IsDirectory(*n)) || PrintableName(n->name) != parts[i]) continue;
            const bool live = (n->flags & kFlagInUse) != 0;
            if (pick == 0 || (live && !pickLive)) {
                pick = child;
                pickLive = live;
            }
        }
        if (pick == 0) return 0;
        at = pick;
    }
    return at;
}

int ShowPreview(ResultSet& rs, TreeRow row, const std::string& path) {
    const uint32_t id = FindVisibleByPath(rs, row, path);
    std::optional<PreviewResult> r;
    if (id != 0) r = ProcessPreviewRequest(PreviewRequest{&rs, nullptr, row, id});
    if (!r) {
        std::fprintf(stderr, "kestrel-cli preview: no file or folder '%s' in that partition\n",
                     path.c_str());
        return 2;
    }
    if (r->kind == kPreviewReadFailed) {
        std::fprintf(stderr, "kestrel-cli preview: '%s' could not be read\n", path.c_str());
        return 1;
    }
    const std::string hex = Utf8FromWide(FormatHexView(ByteView(r->data.data(), r->data.size())));
    std::fputs(hex.c_str(), stdout);
    std::fputs("\n", stdout);
    const bool hasText =
        r->kind == kPreviewPlainText || r->kind == kPreviewUtf16Text || r->kind == kPreviewUtf8Text;
    if (hasText) {
        const std::string text = Utf8FromWide(PreviewTextAsWide(*r));
        std::fputs("\n", stdout);
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputs("\n", stdout);
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// The simple form: the partition's own tree in a result set of its own, every
// file listed as mode 2 lists them.
int PreviewInPartition(const std::string& image, uint32_t number, const std::string& path) {
    PartInfo part;
    if (!OpenAndReadPartition("preview", image, number, part)) return 2;
    Run().RecoverMode = kModePartitionFiles;
    ResultSet rs;
    ResetResultSet(rs);
    if (!AddPartition(rs, part, nullptr, false)) {
        FreeTable(part);
        return 2;
    }
    return ShowPreview(rs, kFirstReadSlot, path);
}

// The result form: the recovery's scan and reassembly as recover runs them,
// without exporting anything, then the preview in result partition K.
int PreviewInResult(const RecoverOptions& o, uint32_t resultPart, const std::string& path) {
    PartInfo part;
    if (!FindImagePartition(Utf16FromUtf8(o.image), o.mode == 3 ? 0 : o.part, part)) {
        std::fprintf(stderr, "kestrel-cli preview: cannot read partition %u of '%s'\n", o.part,
                     o.image.c_str());
        return 2;
    }
    RecoverAnswers answers(o.resume, false);
    ScopedAnswers scopedAnswers(answers);
    bool readTree = false;
    const int32_t mode = PrepareRecoveryRun(part, o.mode,
                                            "kestrel-cli preview: file system not readable, "
                                            "scanning all of the partition (mode 2)",
                                            readTree);

    ResultSet rs;
    auto session = std::make_unique<ScanSession>();
    ScanSession& s = *session;
    SetUpRecoverySession(s, rs, part, mode, ScanStatePath());
    ScanState state{kScanRunning};
    RunDeepScan(s, state);
    if (readTree) FreeTable(part);
    if (s.openFailed) {
        std::fprintf(stderr, "kestrel-cli preview: cannot read '%s'\n", o.image.c_str());
        return 2;
    }
    const uint64_t slot = uint64_t(resultPart) + kFoundFilesSlot;
    if (slot >= rs.partitionCount || !ResolveVisible(rs, TreeRow(slot), kRootNodeId)) {
        std::fprintf(stderr, "kestrel-cli preview: the result has no partition %u\n", resultPart);
        return 2;
    }
    return ShowPreview(rs, TreeRow(slot), path);
}

}  // namespace

int CmdPreview(const Args& argsIn) {
    Args args = argsIn;
    std::string resultPartText;
    const bool inResult = TakeOption(args, "--result-part", resultPartText);
    if (args.size() < 2 || args.back().empty() || args.back()[0] == '-')
        return UsageError("an image and a path are needed");
    const std::string path = args.back();
    args.pop_back();

    if (!inResult) {
        std::string partText = "0";
        TakeOption(args, "--part", partText);
        unsigned long long number = 0;
        if (!ParseUnsigned(partText, number) || number > UINT32_MAX)
            return UsageError("--part takes a partition number");
        if (args.size() != 1 || args[0].empty() || args[0][0] == '-')
            return UsageError(args.empty() ? "no image given"
                                           : "unexpected argument '" + args.back() + "'");
        return PreviewInPartition(args[0], uint32_t(number), path);
    }

    unsigned long long resultPart = 0;
    if (!ParseUnsigned(resultPartText, resultPart) || resultPart >= kPartitionSlots)
        return UsageError("--result-part takes a partition number of the result");
    // The recover command's own parser checks the scan options; the export
    // and filter options have no meaning here.
    args.push_back("--tree");
    RecoverOptions o;
    std::string error;
    if (!ParseRecoverArgs(args, o, error)) return UsageError(error);
    if (o.filter || !o.outDir.empty() || o.saveState)
        return UsageError("--result-part takes only --mode, --part and --resume");
    return PreviewInResult(o, uint32_t(resultPart), path);
}

}  // namespace kestrel::cli
