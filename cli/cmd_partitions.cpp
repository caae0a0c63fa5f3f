// kestrel-cli partitions IMAGE: the partitions of a disk image or device, one
// line each, numbered as every other command takes them (1-based; a bare
// volume image is its one partition, at LBA 0).
#include <cinttypes>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "storage/image_partitions.h"

namespace kestrel::cli {

int CmdPartitions(const Args& args) {
    if (args.size() != 1 || args[0].empty()) {
        std::fprintf(stderr, "usage: kestrel-cli partitions IMAGE\n");
        return 2;
    }
    std::vector<std::string> types;
    const std::vector<PartInfo> parts = ListImagePartitions(Utf16FromUtf8(args[0]), &types);
    if (parts.empty()) {
        std::fprintf(stderr,
                     "kestrel-cli partitions: cannot read '%s' (missing, unreadable or "
                     "smaller than one sector)\n",
                     args[0].c_str());
        return 2;
    }
    // Entry 0 is the whole image; it is a partition only of a bare volume image.
    const bool bare = IsBareVolumeListing(parts);
    const size_t first = bare ? 0 : 1;
    if (!bare && parts.size() == 1)
        std::fprintf(stderr, "kestrel-cli partitions: '%s' holds no partition table and no "
                     "recognised volume (a deep scan of the whole image may still find some)\n",
                     args[0].c_str());
    for (size_t i = first; i < parts.size(); ++i) {
        const PartInfo& p = parts[i];
        std::printf("%zu\t%" PRIu64 "\t%" PRIu64 "\t%s\t%u\t%s\t%s\n", bare ? size_t(1) : i,
                    p.startLba, p.sizeSectors, i < types.size() ? types[i].c_str() : "00",
                    unsigned(p.fsKind), Utf8FromWide(p.fsName).c_str(),
                    Utf8FromWide(p.label).c_str());
    }
    return 0;
}

}  // namespace kestrel::cli
