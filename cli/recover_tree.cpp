#include "cli/recover_tree.h"

#include <cinttypes>
#include <string>
#include <vector>

#include "cli/node_path.h"
#include "fs/node_text.h"
#include "platform/wide_text.h"
#include "results/browse_queries.h"

namespace kestrel::cli {
namespace {

// A rebuilt tree this deep is damage; the bound keeps the walk finite.
constexpr size_t kMaxDepth = 512;

void PrintPartition(ResultSet& rs, TreeRow row, std::FILE* out) {
    struct Frame {
        std::vector<uint32_t> children;
        size_t next;
        std::string prefix;
    };
    const PartInfo* part = TreeRowPart(rs, row);
    if (!part) return;
    std::vector<bool> seen(part->nodeCount, false);
    std::vector<Frame> stack;
    stack.push_back({VisibleChildren(rs, row, kRootNodeId), 0, ""});
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next >= f.children.size()) {
            stack.pop_back();
            continue;
        }
        const uint32_t id = f.children[f.next++];
        const FileNode* n = ResolveVisible(rs, row, id);
        if (!n || id >= seen.size() || seen[id]) continue;
        seen[id] = true;
        const std::string path = f.prefix + PrintableName(n->name);
        std::fprintf(out, "%s\t%" PRIu64 "\t%s\t%s\n", NodeStateName(*n), n->size,
                     FormatNodeTime(n->modified).c_str(), path.c_str());
        if (IsDirectory(*n) && stack.size() < kMaxDepth) {
            std::vector<uint32_t> below = VisibleChildren(rs, row, id);
            if (!below.empty()) stack.push_back({std::move(below), 0, path + "/"});
        }
    }
}

}  // namespace

void PrintResultTree(ResultSet& rs, std::FILE* out) {
    for (uint32_t slot = kFoundFilesSlot; slot < rs.partitionCount; ++slot) {
        if (!ResolveVisible(rs, slot, kRootNodeId)) continue;
        std::fprintf(out, "%s\n", Utf8FromWide(PartitionLabel(rs, slot)).c_str());
        PrintPartition(rs, slot, out);
    }
}

}  // namespace kestrel::cli
