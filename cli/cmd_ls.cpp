// kestrel-cli ls IMAGE [--part N] [--deleted]: the node table of one
// partition, one tab-separated line per node: state, size, modified, path.
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "cli/commands.h"
#include "cli/node_path.h"

namespace kestrel::cli {

namespace {

// Marks every node that is deleted or has a deleted node below it.
std::vector<bool> DeletedOrLeadingToDeleted(PartInfo& part) {
    std::vector<bool> keep(part.nodeCount, false);
    VisitNodePaths(part, [&](const FileNode& n, const std::string&) {
        if (NodeKind(n) != kDeletedFile && NodeKind(n) != kDeletedDir) return;
        keep[n.id] = true;
        // Parents were visited first, so the chain up to the root is valid;
        // the bound keeps a damaged chain finite.
        uint32_t id = n.parentId;
        for (uint32_t steps = 0; steps < part.nodeCount && id != kRootNodeId; ++steps) {
            const FileNode* p = GetNode(part, id);
            if (!p || keep[id]) break;
            keep[id] = true;
            id = p->parentId;
        }
    });
    return keep;
}

}  // namespace

int CmdLs(const Args& argsIn) {
    Args args = argsIn;
    const bool deletedOnly = TakeFlag(args, "--deleted");
    std::string partText = "0";
    TakeOption(args, "--part", partText);
    unsigned long long number = 0;
    if (args.size() != 1 || args[0].empty() || !ParseUnsigned(partText, number) ||
        number > UINT32_MAX) {
        std::fprintf(stderr, "usage: kestrel-cli ls IMAGE [--part N] [--deleted]\n");
        return 2;
    }
    PartInfo part;
    if (!OpenAndReadPartition("ls", args[0], uint32_t(number), part)) return 2;
    std::vector<bool> keep;
    if (deletedOnly) keep = DeletedOrLeadingToDeleted(part);
    VisitNodePaths(part, [&](const FileNode& n, const std::string& path) {
        if (deletedOnly && !keep[n.id]) return;
        std::printf("%s\t%" PRIu64 "\t%s\t%s\n", NodeStateName(n), n.size,
                    FormatNodeTime(n.modified).c_str(), path.c_str());
    });
    FreeTable(part);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace kestrel::cli
