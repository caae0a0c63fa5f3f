// kestrel-cli partitions IMAGE: the partition numbers every other command
// takes, with where each partition lies and what it holds.
#include <cinttypes>
#include <cstdio>

#include "app/text_utils.h"
#include "cli/commands.h"
#include "storage/image_partitions.h"

namespace kestrel::cli {

int CmdPartitions(const Args& args) {
    if (args.size() != 1 || args[0].empty()) {
        std::fprintf(stderr, "usage: kestrel-cli partitions IMAGE\n");
        return 2;
    }
    const std::vector<PartInfo> parts = ListImagePartitions(Utf16FromUtf8(args[0]));
    if (parts.empty()) {
        std::fprintf(stderr,
                     "kestrel-cli partitions: cannot read '%s' (missing, unreadable or "
                     "smaller than one sector)\n",
                     args[0].c_str());
        return 2;
    }
    std::printf("#number\tstart_lba\tsectors\tsize\ttype\tfs_kind\tfs_name\tlabel\n");
    for (size_t i = 0; i < parts.size(); ++i) {
        const PartInfo& p = parts[i];
        std::printf("%zu\t%" PRIu64 "\t%" PRIu64 "\t%s\t0x%02X\t%u\t%s\t%s\n", i, p.startLba,
                    p.sizeSectors, Utf8FromWide(FormatSectorSize(p.sizeSectors)).c_str(),
                    unsigned(p.partType), unsigned(p.fsKind), Utf8FromWide(p.fsName).c_str(),
                    Utf8FromWide(p.label).c_str());
    }
    return 0;
}

}  // namespace kestrel::cli
