// kestrel-cli cat IMAGE [--part N] [--read-errors clear|keep|zeros] PATH:
// one file's data to standard output through the reader's export path.
#include <cstdio>

#include "app/progress.h"
#include "app/scan_state.h"
#include "cli/commands.h"
#include "cli/node_path.h"
#include "fs/export_dispatch.h"
#include "platform/output_file.h"

namespace kestrel::cli {

namespace {

bool ParsePolicy(const std::string& text, ReadErrorPolicy& policy) {
    if (text == "clear")
        policy = kClearFile;
    else if (text == "keep")
        policy = kKeepPartial;
    else if (text == "zeros")
        policy = kRecoverAll;
    else
        return false;
    return true;
}

}  // namespace

int CmdCat(const Args& argsIn) {
    Args args = argsIn;
    std::string partText = "0", policyText = "keep";
    TakeOption(args, "--part", partText);
    TakeOption(args, "--read-errors", policyText);
    unsigned long long number = 0;
    ReadErrorPolicy policy = kKeepPartial;
    if (args.size() != 2 || args[0].empty() || !ParseUnsigned(partText, number) ||
        number > UINT32_MAX || !ParsePolicy(policyText, policy)) {
        std::fprintf(stderr,
                     "usage: kestrel-cli cat IMAGE [--part N] [--read-errors clear|keep|zeros] "
                     "PATH > out\n");
        return 2;
    }
    PartInfo part;
    if (!OpenAndReadPartition("cat", args[0], uint32_t(number), part)) return 2;
    const FileNode* node = FindFileByPath(part, args[1]);
    if (!node) {
        std::fprintf(stderr, "kestrel-cli cat: no file '%s' in partition %llu of '%s'\n",
                     args[1].c_str(), number, args[0].c_str());
        FreeTable(part);
        return 2;
    }
    OutputFile out;
    out.AttachDescriptor(1);
    ScanState state{kScanRunning};
    ProgressSnapshot progress;
    std::fflush(stdout);
    const bool ok = ExportNodeData(out, part, state, *node, progress, policy);
    FreeTable(part);
    if (!ok) {
        std::fprintf(stderr, "kestrel-cli cat: '%s' could not be read completely\n",
                     args[1].c_str());
        return 1;
    }
    return 0;
}

}  // namespace kestrel::cli
