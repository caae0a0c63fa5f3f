#include "results/class_views.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/progress.h"
#include "carving/type_catalogue.h"
#include "carving/type_ids.h"
#include "fs/file_node.h"
#include "fs/type_folders.h"

namespace kestrel {
namespace {

constexpr uint32_t kProgressStride = 1879;

bool StopRequested(const ScanState* stop) {
    return stop != nullptr && stop->load() == kScanStopRequested;
}

WString NumberedName(const char* digits, const char16_t* suffix) {
    return Utf16FromUtf8(digits) + suffix;
}

PartInfo BuildTypeSkeleton() {
    PartInfo part;
    AddRootAndLostNodes(part);
    AddCategoryAndTypeFolders(part);
    LinkChildren(part);
    return part;
}

PartInfo BuildDateSkeleton() {
    PartInfo part;
    AddRootAndLostNodes(part);
    // One allocation up front instead of a dozen regrowths of 15,400 folders.
    ReserveNodes(part, kLastDayFolder + 1);
    char buf[16];
    for (uint32_t year = kFirstViewYear; year <= kLastViewYear; ++year) {
        std::snprintf(buf, sizeof buf, "%u", year);
        AddFolderNode(part, year, kRootNodeId, NumberedName(buf, u"年"));
        for (uint32_t month = 1; month <= 12; ++month) {
            uint32_t monthId = MonthFolderId(year, month);
            std::snprintf(buf, sizeof buf, "%02u", month);
            AddFolderNode(part, monthId, year, NumberedName(buf, u"月"));
            for (uint32_t day = 1; day <= 31; ++day) {
                std::snprintf(buf, sizeof buf, "%02u", day);
                AddFolderNode(part, DayFolderId(year, month, day), monthId,
                              NumberedName(buf, u"日"));
            }
        }
    }
    LinkChildren(part);
    return part;
}

void AppendSkeleton(ResultSet& rs, PartInfo part, const ScanState* stop) {
    if (!AddPartition(rs, part, stop, false)) FreeTable(part);
}

NodeRef MakeRef(uint32_t id, uint32_t parent, uint32_t slot, uint32_t nodeId) {
    NodeRef r{};
    r.id = id;
    r.parentId = parent;
    r.partitionIndex = slot;
    r.nodeId = nodeId;
    return r;
}

// A folder entry points into a skeleton slot; file entries point at slots
// from 3 on. Only folder entries may receive children.
bool IsFolderEntry(PartInfo& tree, uint32_t id) {
    const NodeRef* ref = GetNodeRef(tree, id);
    return ref != nullptr && ref->partitionIndex < kFoundFilesSlot;
}

// Appends the entries added since the last call to their parents. An entry
// whose parent is not a folder of the tree (a date after the last year folder,
// an unknown time) goes below the lost-files entry, and its parentId says so,
// so that walking up from it always ends at the root.
void LinkTree(PartInfo& tree) {
    uint32_t count = std::min(tree.nodeCount, tree.nodeCapacity);
    for (uint32_t id = std::max<uint32_t>(tree.linkedCount, 1); id < count; ++id) {
        if (id == kRootNodeId) continue;
        NodeRef* ref = GetNodeRef(tree, id);
        if (ref == nullptr) continue;
        uint32_t parent = ref->parentId;
        if (parent == id || !IsFolderEntry(tree, parent)) {
            parent = id == kLostFilesNodeId ? kRootNodeId : kLostFilesNodeId;
            ref->parentId = parent;
        }
        AppendChild(tree, parent, id, RecordKind::NodeRef);
    }
    tree.linkedCount = std::max(tree.linkedCount, count);
}

// The mirror of a skeleton slot: one folder entry per valid node of ids
// [first, last], with the skeleton's ids and parents, pointing at `target`.
void MirrorSkeleton(PartInfo& tree, PartInfo& skeleton, uint32_t first, uint32_t last,
                    uint32_t target) {
    ReserveNodes(tree, last + 1, RecordKind::NodeRef);
    for (uint32_t id = first; id <= last; ++id) {
        if (id == kRootNodeId || id == kLostFilesNodeId) continue;
        const FileNode* n = GetNode(skeleton, id);
        if (n == nullptr) continue;
        NodeRef ref = MakeRef(id, n->parentId, target, id);
        AddNodeRef(tree, ref, false);
    }
}

void BuildClassTree(ResultSet& rs, uint32_t tree, uint32_t mirrorSlot, uint32_t first,
                    uint32_t last) {
    PartInfo& t = rs.classTrees[tree];
    FreeTable(t, RecordKind::NodeRef);
    t = PartInfo();
    t.label = u"Virtual";
    NodeRef root = MakeRef(kRootNodeId, kRootNodeId, tree, kRootNodeId);
    NodeRef lost = MakeRef(kLostFilesNodeId, kRootNodeId, tree, kLostFilesNodeId);
    AddNodeRef(t, root, false);
    AddNodeRef(t, lost, false);
    MirrorSkeleton(t, rs.partitions[mirrorSlot], first, last, tree);
    LinkTree(t);
}

void AddFileEntry(PartInfo& tree, uint32_t parent, uint32_t slot, uint32_t nodeId) {
    NodeRef ref = MakeRef(0, parent, slot, nodeId);
    AddNodeRef(tree, ref, false);
}

// Grows each tree once for all the entries a partition brings: growing step
// by step would copy a tree of millions of entries dozens of times.
void ReserveForListedFiles(ResultSet& rs, PartInfo& part, uint32_t count) {
    uint32_t typed = 0, listed = 0;
    for (uint32_t id = kLostFilesNodeId; id < count; ++id) {
        const FileNode* n = GetNode(part, id);
        if (n == nullptr || IsDirectory(*n) || (n->flags & kFlagListed) == 0) continue;
        ++listed;
        if (n->typeId >= kFirstFileType && n->typeId <= kLastFileType) ++typed;
    }
    const uint32_t added[kClassTreeCount] = {typed, listed, listed};
    for (uint32_t t = 0; t < kClassTreeCount; ++t) {
        PartInfo& tree = rs.classTrees[t];
        uint64_t wanted = uint64_t(tree.nodeCount) + added[t];
        if (added[t] != 0) {
            ReserveNodes(tree, uint32_t(std::min<uint64_t>(wanted, kNodeRefLimit)),
                         RecordKind::NodeRef);
        }
    }
}

void PostClassifyProgress(uint32_t index, uint32_t count) {
    ProgressSnapshot snap;
    snap.phase = kPhaseClassify;
    snap.classify.nodeIndex = index;
    snap.classify.nodeCount = count;
    PostProgress(snap);
}

}  // namespace

uint32_t MonthFolderId(uint32_t year, uint32_t month) {
    return kFirstMonthFolder + (year - kFirstViewYear) * 12 + (month - 1);
}

uint32_t DayFolderId(uint32_t year, uint32_t month, uint32_t day) {
    return kFirstDayFolder + ((year - kFirstViewYear) * 12 + (month - 1)) * 31 + (day - 1);
}

uint32_t DateViewParent(uint32_t packed) {
    uint32_t code = packed >> 26;
    uint32_t month = (packed >> 22) & 0xF;
    uint32_t day = (packed >> 17) & 0x1F;
    // An unknown time, or fields a packed time never holds, would land in the
    // wrong folder (month 0 or day 0 give the last day of the month before);
    // such files are listed with the lost files, like dates after the last
    // year folder.
    if (packed == 0 || month < 1 || month > 12 || day < 1) return kLostFilesNodeId;
    uint32_t id = (code * 12 + month - 1) * 31 + day + (kFirstDayFolder - 1);
    return id <= kLastDayFolder ? id : kLostFilesNodeId;
}

void BuildViewSkeletons(ResultSet& rs, const ScanState* stop) {
    if (rs.partitions == nullptr || rs.partitionCount != 0) return;
    BuildTypeCatalogue();
    AppendSkeleton(rs, BuildTypeSkeleton(), stop);
    AppendSkeleton(rs, BuildDateSkeleton(), stop);
    AppendSkeleton(rs, BuildDateSkeleton(), stop);
    if (rs.partitionCount < kClassTreeCount) return;
    BuildClassTree(rs, 0, 0, kRootNodeId, kLastFileType);
    BuildClassTree(rs, 1, 1, kFirstViewYear, kLastDayFolder);
    BuildClassTree(rs, 2, 1, kFirstViewYear, kLastDayFolder);
}

void BuildFoundFilesPartition(ResultSet& rs, bool notify) {
    if (rs.partitions == nullptr || rs.partitionCount != kFoundFilesSlot) return;
    BuildTypeCatalogue();
    AppendFoundFilesPartition(rs, &AddCategoryAndTypeFolders, notify);
}

void ClassifyPartition(ResultSet& rs, uint32_t slot, const ScanState* stop) {
    if (rs.partitions == nullptr || slot < kFoundFilesSlot || slot >= rs.partitionCount) return;
    PartInfo& part = rs.partitions[slot];
    if (part.fsKind == kFsFoundFiles) return;
    // Without the skeletons and their trees there is nothing to file into.
    if (rs.classTrees[0].nodes == nullptr) return;
    PartInfo& byType = rs.classTrees[0];
    PartInfo& byCreated = rs.classTrees[1];
    PartInfo& byModified = rs.classTrees[2];

    uint32_t count = std::min(part.nodeCount, part.nodeCapacity);
    ReserveForListedFiles(rs, part, count);
    for (uint32_t id = kLostFilesNodeId; id < count; ++id) {
        if (StopRequested(stop)) break;
        if (id % kProgressStride == 0) PostClassifyProgress(id, count);
        const FileNode* n = GetNode(part, id);
        if (n == nullptr || IsDirectory(*n) || (n->flags & kFlagListed) == 0) continue;
        if (n->typeId >= kFirstFileType && n->typeId <= kLastFileType) {
            AddFileEntry(byType, n->typeId, slot, id);
        }
        AddFileEntry(byCreated, DateViewParent(n->created), slot, id);
        AddFileEntry(byModified, DateViewParent(n->modified), slot, id);
    }
    for (PartInfo& tree : rs.classTrees) {
        LinkTree(tree);
        tree.listedTotal = CountClassTree(rs, tree);
    }
}

uint32_t CountClassTree(ResultSet& rs, PartInfo& tree) {
    struct Frame {
        uint32_t id;
        uint32_t next;
        uint32_t sum;
    };
    uint32_t count = std::min(tree.nodeCount, tree.nodeCapacity);
    if (GetNodeRef(tree, kRootNodeId) == nullptr) return 0;
    // An entry met twice (only damaged child lists do that) adds nothing, so
    // the walk ends whatever the lists hold.
    std::vector<uint8_t> seen(count, 0);
    std::vector<Frame> stack;
    seen[kRootNodeId] = 1;
    stack.push_back(Frame{kRootNodeId, 0, 0});
    uint32_t total = 0;
    while (!stack.empty()) {
        Frame& top = stack.back();
        NodeRef* ref = GetNodeRef(tree, top.id);
        if (ref != nullptr && ref->childIds != nullptr &&
            top.next < std::min(ref->childCount, ref->childCapacity)) {
            uint32_t child = ref->childIds[top.next++];
            if (child < count && !seen[child] && GetNodeRef(tree, child) != nullptr) {
                seen[child] = 1;
                stack.push_back(Frame{child, 0, 0});
            }
            continue;
        }
        Frame done = stack.back();
        stack.pop_back();
        uint32_t value = 0;
        if (FileNode* target = TreeRowNodeOfRef(rs, ref)) {
            if (IsDirectory(*target)) {
                target->listedCount = done.sum;
                if (done.sum != 0) target->flags |= kFlagListed;
                value = done.sum;
            } else {
                value = (target->flags & kFlagListed) ? 1 : 0;
            }
        }
        if (stack.empty()) {
            total = value;
        } else {
            stack.back().sum += value;
        }
    }
    return total;
}

FileNode* TreeRowNodeOfRef(ResultSet& rs, const NodeRef* ref) {
    if (ref == nullptr || rs.partitions == nullptr || ref->partitionIndex >= rs.partitionCount) {
        return nullptr;
    }
    return GetNode(rs.partitions[ref->partitionIndex], ref->nodeId);
}

void InstallClassificationViews() {
    ClassificationHook hook;
    hook.buildViewSkeletons = &BuildViewSkeletons;
    hook.buildFoundFilesPartition = &BuildFoundFilesPartition;
    hook.classifyPartition = &ClassifyPartition;
    SetClassificationHook(hook);
}

}  // namespace kestrel
