#include <cstdio>

#include "cli/commands.h"

namespace kestrel::cli {

int CmdPartitions(const Args&) {
    std::fprintf(stderr, "kestrel-cli partitions: not built yet\n");
    return 2;
}

}  // namespace kestrel::cli
