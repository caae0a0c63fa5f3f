#include "results/check_states.h"

#include <algorithm>

#include "fs/file_node.h"
#include "results/browse_queries.h"

namespace kestrel {
namespace {

bool VisibleAndListed(const ResultSet& rs, const FileNode& n) {
    return IsNodeVisible(rs, n) && (n.flags & kFlagListed) != 0;
}

void RecomputeOne(PartInfo& part, const ResultSet& rs, FileNode& dir) {
    const uint32_t count = dir.childIds ? std::min(dir.childCount, dir.childCapacity) : 0;
    if (count == 0) return;
    bool checked = false, unchecked = false, partly = false;
    for (uint32_t i = 0; i < count; ++i) {
        const FileNode* c = GetNode(part, dir.childIds[i]);
        if (!c || !VisibleAndListed(rs, *c)) continue;
        switch (CheckState(*c)) {
            case 0:
                unchecked = true;
                break;
            case 1:
                checked = true;
                break;
            default:
                partly = true;
                break;
        }
    }
    if (partly || (checked && unchecked))
        SetCheckState(dir, 2);
    else
        SetCheckState(dir, checked ? 1 : 0);
}

}  // namespace

void RecomputeCheckStates(PartInfo& part, const ResultSet& rs) {
    if (!GetNode(part, kRootNodeId)) return;
    // Post-order without recursion; the visited marks keep a damaged tree
    // whose child lists loop from being walked forever.
    struct Frame {
        uint32_t id;
        uint32_t next;
    };
    std::vector<uint8_t> visited(part.nodeCount, 0);
    std::vector<Frame> stack{{kRootNodeId, 0}};
    visited[kRootNodeId] = 1;
    while (!stack.empty()) {
        const uint32_t id = stack.back().id;
        FileNode* node = GetNode(part, id);
        if (!node) {
            stack.pop_back();
            continue;
        }
        const uint32_t count = node->childIds ? std::min(node->childCount, node->childCapacity) : 0;
        if (stack.back().next < count) {
            const uint32_t c = node->childIds[stack.back().next++];
            const FileNode* child = GetNode(part, c);
            if (child && IsDirectory(*child) && VisibleAndListed(rs, *child) && !visited[c]) {
                visited[c] = 1;
                stack.push_back({c, 0});
            }
            continue;
        }
        if (IsDirectory(*node)) RecomputeOne(part, rs, *node);
        stack.pop_back();
    }
}

void RecomputeCheckStates(ResultSet& rs) {
    if (!rs.partitions) return;
    for (uint32_t slot = kFoundFilesSlot; slot < rs.partitionCount; ++slot)
        RecomputeCheckStates(rs.partitions[slot], rs);
}

std::vector<TreeRow> CheckedPartitionRows(ResultSet& rs) {
    std::vector<TreeRow> rows;
    if (!rs.partitions) return rows;
    for (uint32_t slot = kFoundFilesSlot; slot < rs.partitionCount; ++slot) {
        const FileNode* root = GetNode(rs.partitions[slot], kRootNodeId);
        if (root && IsNodeVisible(rs, *root) && CheckState(*root) != 0) rows.push_back(slot);
    }
    return rows;
}

CheckedTotals CountCheckedFiles(ResultSet& rs) {
    CheckedTotals t;
    if (!rs.partitions) return t;
    for (uint32_t slot = 0; slot < rs.partitionCount; ++slot) {
        PartInfo& part = rs.partitions[slot];
        for (uint32_t id = 0; id < part.nodeCount; ++id) {
            const FileNode* n = GetNode(part, id);
            if (!n || IsDirectory(*n) || CheckState(*n) == 0) continue;
            t.files += 1;
            t.bytes += n->size;
        }
    }
    return t;
}

void CountSelection(ResultSet& rs, TreeRow row, uint32_t id, ProgressSnapshot& progress) {
    const PartInfo* part = TreeRowPart(rs, row);
    if (!part) return;
    std::vector<uint8_t> visited(part->nodeCount, 0);
    std::vector<uint32_t> pending{id};
    while (!pending.empty()) {
        const uint32_t cur = pending.back();
        pending.pop_back();
        if (cur >= visited.size() || visited[cur]) continue;
        visited[cur] = 1;
        const FileNode* n = TreeRowNode(rs, row, cur);
        if (!n || !IsNodeVisible(rs, *n) || CheckState(*n) == 0) continue;
        if (IsDirectory(*n)) {
            for (uint32_t c : VisibleChildren(rs, row, cur)) pending.push_back(c);
            continue;
        }
        progress.exp.totalFiles += 1;
        progress.exp.totalBytes += n->size;
    }
}

}  // namespace kestrel
