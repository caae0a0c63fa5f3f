// kestrel-cli: the command-line front end of the recovery engine.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"

namespace {

using kestrel::cli::Command;

const Command kCommands[] = {
    {"partitions", "partitions IMAGE", kestrel::cli::CmdPartitions},
    {"scan", "scan IMAGE [--part N] [--mode 1|2|3] [--finds]", kestrel::cli::CmdScan},
    {"ls", "ls IMAGE [--part N] [--deleted]", kestrel::cli::CmdLs},
    {"cat", "cat IMAGE [--part N] [--read-errors clear|keep|zeros] PATH > out",
     kestrel::cli::CmdCat},
    {"recover",
     "recover IMAGE --mode 1|2|3 [--part N] (--out DIR | --tree) [--filter TEXT] [--min-kb N]\n"
     "              [--max-kb N] [--modified-from DATE] [--modified-to DATE]\n"
     "              [--on-exists ask|overwrite|skip] [--on-error clear|keep|all]\n"
     "              [--save-state] [--resume]   (scan-state file: $KESTREL_SCAN_STATE)",
     kestrel::cli::CmdRecover},
    {"preview",
     "preview IMAGE [--part N] PATH\n"
     "              preview IMAGE --result-part K [--mode 1|2|3] [--part N] [--resume] PATH",
     kestrel::cli::CmdPreview},
    {"devices", "devices [--disks | --volumes] [--root DIR]", kestrel::cli::CmdDevices},
};

void PrintUsage() {
    std::fprintf(stderr, "usage: kestrel-cli COMMAND ...\ncommands:\n");
    for (const Command& c : kCommands) std::fprintf(stderr, "  kestrel-cli %s\n", c.usage);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        PrintUsage();
        return argc < 2 ? 2 : 0;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) == 0) {
            kestrel::cli::Args args(argv + 2, argv + argc);
            return c.run(args);
        }
    }
    std::fprintf(stderr, "kestrel-cli: unknown command '%s'\n", argv[1]);
    PrintUsage();
    return 2;
}
