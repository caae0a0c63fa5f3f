#include "results/browse_queries.h"

#include <algorithm>
#include <cstdio>

#include "carving/type_catalogue.h"
#include "fs/file_node.h"

namespace kestrel {
namespace {

constexpr uint64_t kGiBSectors = uint64_t(1) << 21;

WString FileCountSuffix(uint32_t count) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "     (%u", count);
    return Utf16FromUtf8(buf) + u"个文件)";
}

WString SlotNumber(uint32_t n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u  ", n);
    return Utf16FromUtf8(buf);
}

const char16_t* KindLabel(uint32_t kind) {
    switch (kind) {
        case kFsExfat:
            return u"EXFAT  ";
        case kFsFat16:
            return u"FAT16  ";
        case kFsFat32:
            return u"FAT32  ";
        case kFsNtfs:
            return u"NTFS  ";
        case kFsFatDirs:
            return u"FatDir  ";
        case kFsExfatDirs:
            return u"ExfatDir  ";
        default:
            return u"";
    }
}

const char16_t* ClassTreeCaption(uint32_t tree) {
    switch (tree) {
        case 0:
            return u"按文件类型分类";
        case 1:
            return u"按文件创建时间分类";
        default:
            return u"按文件修改时间分类";
    }
}

struct ChildList {
    const uint32_t* ids = nullptr;
    uint32_t count = 0;
};

// The child list of (row, id): a node's children for a partition, an entry's
// child entries for a classification tree. Visibility is not tested.
ChildList ChildrenOf(ResultSet& rs, TreeRow row, uint32_t id) {
    PartInfo* part = TreeRowPart(rs, row);
    if (part == nullptr) return {};
    if (IsClassTreeRow(row)) {
        const NodeRef* ref = GetNodeRef(*part, id);
        if (ref == nullptr || ref->childIds == nullptr) return {};
        return {ref->childIds, std::min(ref->childCount, ref->childCapacity)};
    }
    const FileNode* n = GetNode(*part, id);
    if (n == nullptr || n->childIds == nullptr) return {};
    return {n->childIds, std::min(n->childCount, n->childCapacity)};
}

bool HasVisibleChild(ResultSet& rs, TreeRow row, uint32_t id) {
    ChildList list = ChildrenOf(rs, row, id);
    for (uint32_t i = 0; i < list.count; ++i) {
        if (ResolveVisible(rs, row, list.ids[i]) != nullptr) return true;
    }
    return false;
}

uint32_t TableCount(ResultSet& rs, TreeRow row) {
    PartInfo* part = TreeRowPart(rs, row);
    return part == nullptr ? 0 : std::min(part->nodeCount, part->nodeCapacity);
}

}  // namespace

WString PartitionLabel(ResultSet& rs, TreeRow row) {
    if (IsClassTreeRow(row)) {
        uint32_t tree = row & 0xFFFF;
        if (tree >= kClassTreeCount) return WString();
        return SlotNumber(tree) + ClassTreeCaption(tree) +
               FileCountSuffix(rs.classTrees[tree].listedTotal);
    }
    if (rs.partitions == nullptr || row < kFoundFilesSlot || row >= rs.partitionCount) {
        return WString();
    }
    const PartInfo& part = rs.partitions[row];
    WString text = SlotNumber(row - kFoundFilesSlot) + KindLabel(part.fsKind) + part.label +
                   FileCountSuffix(part.listedTotal);
    if (part.sizeSectors > kGiBSectors && part.sizeSectors < kUnknownSizeSectors) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "  %u(GB) %u(GB)", uint32_t(part.startLba / kGiBSectors),
                      uint32_t(part.sizeSectors / kGiBSectors));
        text += Utf16FromUtf8(buf);
    }
    return text;
}

WString NodeText(ResultSet& rs, TreeRow row, uint32_t id, uint32_t& checkState) {
    checkState = 0;
    const FileNode* n = TreeRowNode(rs, row, id);
    if (n == nullptr) return WString();
    checkState = CheckState(*n);
    WString name(n->name);
    if (!IsDirectory(*n)) return name;
    return name + FileCountSuffix(n->listedCount);
}

FileNode* ResolveVisible(ResultSet& rs, TreeRow row, uint32_t id) {
    FileNode* n = TreeRowNode(rs, row, id);
    return (n != nullptr && IsNodeVisible(rs, *n)) ? n : nullptr;
}

std::vector<uint32_t> VisibleChildren(ResultSet& rs, TreeRow row, uint32_t id,
                                      bool directoriesWithChildrenOnly) {
    std::vector<uint32_t> out;
    if (ResolveVisible(rs, row, id) == nullptr) return out;
    ChildList list = ChildrenOf(rs, row, id);
    for (uint32_t i = 0; i < list.count; ++i) {
        uint32_t child = list.ids[i];
        if (ResolveVisible(rs, row, child) == nullptr) continue;
        if (directoriesWithChildrenOnly && !HasVisibleChild(rs, row, child)) continue;
        out.push_back(child);
    }
    return out;
}

bool HasVisibleSubfolders(ResultSet& rs, TreeRow row, uint32_t id) {
    if (ResolveVisible(rs, row, id) == nullptr) return false;
    ChildList list = ChildrenOf(rs, row, id);
    for (uint32_t i = 0; i < list.count; ++i) {
        uint32_t child = list.ids[i];
        if (ResolveVisible(rs, row, child) != nullptr && HasVisibleChild(rs, row, child)) {
            return true;
        }
    }
    return false;
}

std::vector<uint32_t> PathToRoot(ResultSet& rs, TreeRow row, uint32_t id) {
    std::vector<uint32_t> path;
    if (ResolveVisible(rs, row, id) == nullptr) return path;
    PartInfo* part = TreeRowPart(rs, row);
    // Parent ids of damaged tables can form a loop; a path never has more
    // steps than the table has slots.
    uint32_t limit = TableCount(rs, row);
    for (uint32_t step = 0; step <= limit; ++step) {
        path.push_back(id);
        if (id == kRootNodeId) return path;
        uint32_t parent;
        if (IsClassTreeRow(row)) {
            const NodeRef* ref = GetNodeRef(*part, id);
            parent = ref == nullptr ? 0 : ref->parentId;
        } else {
            const FileNode* n = GetNode(*part, id);
            parent = n == nullptr ? 0 : n->parentId;
        }
        if (parent == 0 || parent == id) break;
        id = parent;
    }
    return path;
}

bool OpenFolder(ResultSet& rs, TreeRow row, uint32_t id) {
    const FileNode* n = ResolveVisible(rs, row, id);
    if (n == nullptr || !IsDirectory(*n)) return false;
    NotifyObservers(rs, kMsgOpenFolder, row, id);
    return true;
}

uint32_t FirstImage(ResultSet& rs, TreeRow row, const std::vector<uint32_t>& ids) {
    for (uint32_t id : ids) {
        const FileNode* n = ResolveVisible(rs, row, id);
        if (n != nullptr && !IsDirectory(*n) && IsImageFileName(n->name)) return id;
    }
    return ids.empty() ? 0 : ids.front();
}

void SetCheckStateBelow(ResultSet& rs, TreeRow row, uint32_t id, uint32_t state) {
    if (ResolveVisible(rs, row, id) == nullptr) return;
    // Iterative, and every id is entered once: damaged child lists may hold
    // loops or share children, and the tree may be millions deep in entries.
    uint32_t count = TableCount(rs, row);
    std::vector<uint8_t> seen(count, 0);
    std::vector<uint32_t> pending{id};
    if (id < count) seen[id] = 1;
    while (!pending.empty()) {
        uint32_t current = pending.back();
        pending.pop_back();
        ChildList list = ChildrenOf(rs, row, current);
        for (uint32_t i = 0; i < list.count; ++i) {
            uint32_t child = list.ids[i];
            if (child >= count || seen[child]) continue;
            seen[child] = 1;
            FileNode* n = ResolveVisible(rs, row, child);
            if (n == nullptr) continue;
            SetCheckState(*n, state);
            pending.push_back(child);
        }
    }
}

}  // namespace kestrel
