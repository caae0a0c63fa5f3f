#include "fs/file_node.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <type_traits>
#include <vector>

#include "app/guarded_memory.h"
#include "app/run_state.h"
#include "carving/type_catalogue.h"

namespace kestrel {

// Both record kinds share their first six fields, so the linking code can
// treat a NodeRef table and a FileNode table alike through these offsets.
static_assert(offsetof(FileNode, id) == offsetof(NodeRef, id));
static_assert(offsetof(FileNode, parentId) == offsetof(NodeRef, parentId));
static_assert(offsetof(FileNode, childCapacity) == offsetof(NodeRef, childCapacity));
static_assert(offsetof(FileNode, childCount) == offsetof(NodeRef, childCount));
static_assert(offsetof(FileNode, childIds) == offsetof(NodeRef, childIds));
static_assert(offsetof(FileNode, listedCount) == offsetof(NodeRef, listedCount));

namespace {

constexpr uint32_t kFirstChildCapacity = 8;
// Old arrays of tables up to this many nodes may still be read by the UI
// thread while a live view grows the table, so they are released late.
constexpr uint32_t kDeferFreeMaxCount = 499999;
// A name longer than this is cut: no file system stores longer names, and the
// byte size of the copy must stay far from 32-bit overflow.
constexpr size_t kMaxNameUnits = 32767;
constexpr uint32_t kLostFolderSize = 300;

uint32_t LimitOf(RecordKind kind) {
    return kind == RecordKind::FileNode ? kFileNodeLimit : kNodeRefLimit;
}

uint32_t RecordSize(RecordKind kind) {
    return kind == RecordKind::FileNode ? uint32_t(sizeof(FileNode)) : uint32_t(sizeof(NodeRef));
}

template <typename T>
T* Slots(PartInfo& part) {
    return static_cast<T*>(part.nodes);
}

template <typename T>
T* RawSlot(PartInfo& part, uint32_t id) {
    if (part.nodes == nullptr || id >= part.nodeCount || id >= part.nodeCapacity) return nullptr;
    return Slots<T>(part) + id;
}

bool SlotValid(const FileNode& n, uint32_t index) { return n.id == index && n.name != nullptr; }
bool SlotValid(const NodeRef& n, uint32_t index) { return n.id == index; }

template <typename T>
T* ValidSlot(PartInfo& part, uint32_t id) {
    if (id == 0) return nullptr;
    T* slot = RawSlot<T>(part, id);
    return (slot != nullptr && SlotValid(*slot, id)) ? slot : nullptr;
}

void FreeIfSet(void* p) {
    if (p != nullptr) GuardedFree(p);
}

void ReleaseOwned(FileNode& n) {
    FreeIfSet(n.name);
    FreeIfSet(n.childIds);
    FreeIfSet(n.runList);
}
void ReleaseOwned(NodeRef& n) { FreeIfSet(n.childIds); }

// Frees what the old occupant of a slot owns, except the buffers the new
// record takes over (a caller may re-add a modified copy of the same node).
void ReleaseReplaced(FileNode& old, const FileNode& incoming) {
    if (old.name != incoming.name) FreeIfSet(old.name);
    if (old.childIds != incoming.childIds) FreeIfSet(old.childIds);
    if (old.runList != incoming.runList) FreeIfSet(old.runList);
}
void ReleaseReplaced(NodeRef& old, const NodeRef& incoming) {
    if (old.childIds != incoming.childIds) FreeIfSet(old.childIds);
}

void ReleaseArray(void* array, uint32_t count) {
    if (array == nullptr) return;
    if (count > kDeferFreeMaxCount) {
        GuardedFree(array);
    } else {
        DeferFree(array);
    }
}

template <typename T>
bool AppendChildTo(T& parent, uint32_t childId) {
    if (parent.childIds == nullptr) {
        parent.childIds = GuardedNew<uint32_t>(kFirstChildCapacity, __LINE__);
        parent.childCapacity = kFirstChildCapacity;
        parent.childCount = 0;
    }
    if (parent.childCount > parent.childCapacity) parent.childCount = parent.childCapacity;
    if (parent.childCount == parent.childCapacity) {
        uint32_t cap = parent.childCapacity;
        if (cap >= kNodeRefLimit) return false;
        uint32_t grown = std::max<uint32_t>(cap + cap / 2, cap + 1);
        grown = std::max(grown, kFirstChildCapacity);
        uint32_t* bigger = GuardedNew<uint32_t>(grown, __LINE__);
        std::memcpy(bigger, parent.childIds, size_t(parent.childCount) * sizeof(uint32_t));
        GuardedFree(parent.childIds);
        parent.childIds = bigger;
        parent.childCapacity = grown;
    }
    parent.childIds[parent.childCount++] = childId;
    return true;
}

// Marks the ancestors of a newly linked listed node. The walk is bounded by
// the table size because damaged parent ids can form a loop.
void PropagateListed(PartInfo& part, uint32_t parentId) {
    uint32_t id = parentId;
    for (uint32_t steps = 0; steps <= part.nodeCount; ++steps) {
        FileNode* n = ValidSlot<FileNode>(part, id);
        if (n == nullptr || n->parentId == id) return;
        n->flags |= kFlagListed;
        n->listedCount++;
        if (n->parentId == kRootNodeId) return;
        id = n->parentId;
    }
}

uint32_t NextGrowth(uint32_t capacity) {
    if (capacity == 0) return 1024;
    if (capacity < 102400) return capacity + capacity / 2;
    return capacity + 51200;
}

template <typename T>
uint32_t AddRecord(PartInfo& part, T& rec, bool linkNow, RecordKind kind) {
    uint32_t id = rec.id == 0 ? part.nodeCount : rec.id;
    if (id == 0 || id >= LimitOf(kind)) return 0;
    if (id >= part.nodeCapacity) {
        // Readers add nodes one by one: growing by 1024 slots each time would
        // copy the whole table again every 1024 nodes (quadratic; minutes for
        // two million nodes), so the table grows by half, then by 51,200.
        ReserveNodes(part, std::max(id + 1, NextGrowth(part.nodeCapacity)), kind);
        if (id >= part.nodeCapacity) return 0;
    }
    T* slot = Slots<T>(part) + id;
    // Slots at or above count may hold the leftovers of a table that shrank.
    if (id < part.nodeCount && slot->id == id) ReleaseReplaced(*slot, rec);
    std::memcpy(static_cast<void*>(slot), &rec, sizeof(T));
    slot->id = id;
    if (id >= part.nodeCount) part.nodeCount = id + 1;
    if (!linkNow) return id;

    uint32_t parentId = slot->parentId;
    if (parentId == id) return id;
    T* parent = ValidSlot<T>(part, parentId);
    if (parent == nullptr) return id;
    AppendChildTo(*parent, id);
    if constexpr (std::is_same_v<T, FileNode>) {
        if (slot->flags & kFlagListed) {
            PropagateListed(part, parentId);
            part.listedTotal++;
        }
    }
    return id;
}

template <typename T>
void DropOwnedOnFailure(T& rec) {
    ReleaseOwned(rec);
    rec.childIds = nullptr;
    rec.childCount = rec.childCapacity = 0;
    if constexpr (std::is_same_v<T, FileNode>) {
        rec.name = nullptr;
        rec.runList = nullptr;
    }
}

// Iterative post-order walk from one node: deep or damaged trees must not
// exhaust the stack, and a node met a second time (a loop or a node listed
// under two parents) contributes nothing, so every walk ends.
template <typename Visit, typename Finish>
uint32_t WalkCount(PartInfo& part, uint32_t startId, bool startInside, Visit fileValue,
                   Finish finishDir) {
    struct Frame {
        uint32_t id;
        uint32_t next;
        uint32_t sum;
        bool inside;
    };
    FileNode* start = ValidSlot<FileNode>(part, startId);
    if (start == nullptr) return 0;
    if (!IsDirectory(*start)) return fileValue(*start, startInside);
    std::vector<uint8_t> seen(part.nodeCount, 0);
    std::vector<Frame> stack;
    uint32_t result = 0;

    auto enter = [&](uint32_t id, bool inside, uint32_t* parentSum) {
        FileNode* n = ValidSlot<FileNode>(part, id);
        if (n == nullptr || seen[id]) return;
        seen[id] = 1;
        if (!IsDirectory(*n)) {
            uint32_t v = fileValue(*n, inside);
            if (parentSum != nullptr) {
                *parentSum += v;
            } else {
                result = v;
            }
            return;
        }
        stack.push_back(Frame{id, 0, 0, inside});
    };

    enter(startId, startInside, nullptr);
    while (!stack.empty()) {
        Frame& top = stack.back();
        FileNode* n = ValidSlot<FileNode>(part, top.id);
        if (n != nullptr && n->childIds != nullptr &&
            top.next < std::min(n->childCount, n->childCapacity)) {
            uint32_t child = n->childIds[top.next++];
            bool childInside = top.inside || NodeKind(*n) == kDeletedDir;
            size_t depth = stack.size();
            enter(child, childInside, &stack[depth - 1].sum);
            continue;
        }
        Frame done = top;
        stack.pop_back();
        if (n != nullptr) finishDir(*n, done.sum);
        if (stack.empty()) {
            result = done.sum;
        } else {
            stack.back().sum += done.sum;
        }
    }
    return result;
}

}  // namespace

FileNode MakeNode() {
    FileNode n;
    std::memset(static_cast<void*>(&n), 0, sizeof n);
    return n;
}

uint32_t AddNode(PartInfo& part, FileNode& node, bool linkNow, RecordKind kind) {
    if (kind == RecordKind::NodeRef) {
        NodeRef ref;
        std::memcpy(&ref, static_cast<const void*>(&node), sizeof ref);
        uint32_t id = AddRecord(part, ref, linkNow, kind);
        if (id == 0) {
            DropOwnedOnFailure(ref);
            node.childIds = nullptr;
            node.childCount = node.childCapacity = 0;
        }
        return id;
    }
    if (part.fsKind != kFsFoundFiles && node.name != nullptr && NodeKind(node) <= kLiveFile) {
        node.typeId = uint8_t(TypeIdFromFileName(node.name));
    }
    uint32_t id = AddRecord(part, node, linkNow, kind);
    if (id == 0) DropOwnedOnFailure(node);
    return id;
}

uint32_t AddNodeRef(PartInfo& part, NodeRef& ref, bool linkNow) {
    uint32_t id = AddRecord(part, ref, linkNow, RecordKind::NodeRef);
    if (id == 0) DropOwnedOnFailure(ref);
    return id;
}

FileNode* GetNode(PartInfo& part, uint32_t id) { return ValidSlot<FileNode>(part, id); }

const FileNode* GetNode(const PartInfo& part, uint32_t id) {
    return ValidSlot<FileNode>(const_cast<PartInfo&>(part), id);
}

NodeRef* GetNodeRef(PartInfo& part, uint32_t id) { return ValidSlot<NodeRef>(part, id); }

bool ReserveNodes(PartInfo& part, uint32_t wanted, RecordKind kind) {
    uint32_t cap = part.nodeCapacity;
    uint32_t limit = LimitOf(kind);
    if (wanted < cap) return true;
    if (cap >= limit) return false;
    uint32_t grown;
    if (wanted != 0) {
        grown = (wanted - cap >= 1024) ? wanted : cap + 1024;
    } else if (cap == 0) {
        grown = 1024;
        part.nodeCount = 0;
    } else if (cap < 102400) {
        grown = cap + cap / 2;
    } else {
        grown = cap + 51200;
    }
    grown = std::min(grown, limit);
    uint32_t recSize = RecordSize(kind);
    void* array = GuardedAlloc(grown * recSize, __LINE__);
    uint32_t keep = std::min(part.nodeCount, cap);
    if (part.nodes != nullptr && keep != 0) {
        std::memcpy(array, part.nodes, size_t(keep) * recSize);
    }
    void* old = part.nodes;
    part.nodes = array;
    part.nodeCapacity = grown;
    part.nodeCount = keep;
    ReleaseArray(old, keep);
    return true;
}

bool AppendChild(PartInfo& part, uint32_t parentId, uint32_t childId, RecordKind kind) {
    if (kind == RecordKind::FileNode) {
        FileNode* p = ValidSlot<FileNode>(part, parentId);
        return p != nullptr && AppendChildTo(*p, childId);
    }
    NodeRef* p = ValidSlot<NodeRef>(part, parentId);
    return p != nullptr && AppendChildTo(*p, childId);
}

char16_t* CopyNodeName(WStringView name) {
    size_t len = std::min(name.size(), kMaxNameUnits);
    auto* copy = GuardedNew<char16_t>(uint32_t(len + 1), __LINE__);
    if (len != 0) std::memcpy(copy, name.data(), len * sizeof(char16_t));
    copy[len] = 0;
    return copy;
}

void SetNodeName(FileNode& node, WStringView name) {
    char16_t* copy = CopyNodeName(name);
    FreeIfSet(node.name);
    node.name = copy;
}

void AddRootAndLostNodes(PartInfo& part) {
    FileNode root = MakeNode();
    root.id = kRootNodeId;
    root.parentId = kRootNodeId;
    SetNodeKind(root, kLiveDir);
    root.name = CopyNodeName(u".");
    AddNode(part, root, false);

    FileNode lost = MakeNode();
    lost.id = kLostFilesNodeId;
    lost.parentId = kRootNodeId;
    SetNodeKind(lost, kDeletedDir);
    lost.name = CopyNodeName(u"丢失的文件");
    AddNode(part, lost, false);
}

void LinkChildren(PartInfo& part) {
    FileNode* slots = Slots<FileNode>(part);
    if (slots == nullptr) return;
    uint32_t count = std::min(part.nodeCount, part.nodeCapacity);
    // Rebuilt from the parent ids alone, so a second call does not list a
    // child twice.
    for (uint32_t i = 1; i < count; ++i) {
        if (SlotValid(slots[i], i)) slots[i].childCount = 0;
    }
    bool haveLost = ValidSlot<FileNode>(part, kLostFilesNodeId) != nullptr;
    for (uint32_t i = 1; i < count; ++i) {
        if (i == kRootNodeId || !SlotValid(slots[i], i)) continue;
        if (i == kLostFilesNodeId) {
            slots[i].parentId = kRootNodeId;
            AppendChild(part, kRootNodeId, i);
            continue;
        }
        uint32_t p = slots[i].parentId;
        FileNode* parent = p == i ? nullptr : ValidSlot<FileNode>(part, p);
        if (parent == nullptr || !IsDirectory(*parent)) {
            slots[i].parentId = kLostFilesNodeId;
            if (haveLost) AppendChild(part, kLostFilesNodeId, i);
        } else {
            AppendChildTo(*parent, i);
        }
    }
}

void CompactTable(PartInfo& part) {
    FileNode* slots = Slots<FileNode>(part);
    uint32_t count = std::min(part.nodeCount, part.nodeCapacity);
    if (slots == nullptr || count <= 5) return;
    uint32_t valid = 0;
    for (uint32_t i = 0; i < count; ++i) valid += SlotValid(slots[i], i) ? 1 : 0;
    if (count - valid <= 5000) return;

    // newId[old] is the slot a node ends in, 0 for an empty slot. References
    // are rewritten in one pass afterwards: searching a parent's child list for
    // every move would be quadratic in large directories.
    std::vector<uint32_t> newId(count, 0);
    for (uint32_t i = 1; i < std::min<uint32_t>(count, kRootNodeId); ++i) {
        if (SlotValid(slots[i], i)) newId[i] = i;
    }
    uint32_t to = kRootNodeId;
    for (uint32_t j = kRootNodeId; j < count; ++j) {
        if (!SlotValid(slots[j], j)) continue;
        while (to < j && SlotValid(slots[to], to)) ++to;
        if (to < j) {
            std::memcpy(static_cast<void*>(&slots[to]), &slots[j], sizeof(FileNode));
            std::memset(static_cast<void*>(&slots[j]), 0, sizeof(FileNode));
            slots[to].id = to;
            newId[j] = to;
        } else {
            newId[j] = j;
        }
    }
    uint32_t highest = 0;
    for (uint32_t i = 1; i < count; ++i) {
        if (SlotValid(slots[i], i)) highest = std::max(highest, i);
    }
    uint32_t newCount = highest + 1;
    auto remap = [&](uint32_t old) { return old < count ? newId[old] : 0u; };
    for (uint32_t i = 1; i < newCount; ++i) {
        FileNode& n = slots[i];
        if (!SlotValid(n, i)) continue;
        if (i != kRootNodeId) {
            uint32_t p = remap(n.parentId);
            n.parentId = p != 0 ? p : kLostFilesNodeId;
        }
        if (n.childIds == nullptr) continue;
        uint32_t kept = 0;
        for (uint32_t c = 0; c < std::min(n.childCount, n.childCapacity); ++c) {
            uint32_t moved = remap(n.childIds[c]);
            if (moved != 0) n.childIds[kept++] = moved;
        }
        n.childCount = kept;
    }
    part.nodeCount = newCount;

    if (part.nodeCapacity - newCount > 3000) {
        auto* smaller = GuardedAlloc(newCount * uint32_t(sizeof(FileNode)), __LINE__);
        std::memcpy(smaller, part.nodes, size_t(newCount) * sizeof(FileNode));
        void* old = part.nodes;
        part.nodes = smaller;
        part.nodeCapacity = newCount;
        ReleaseArray(old, newCount);
    }
}

void FreeTable(PartInfo& part, RecordKind kind) {
    if (part.nodes != nullptr) {
        uint32_t count = std::min(part.nodeCount, part.nodeCapacity);
        for (uint32_t i = 0; i < count; ++i) {
            if (kind == RecordKind::FileNode) {
                FileNode& n = Slots<FileNode>(part)[i];
                if (n.id == i) ReleaseOwned(n);
            } else {
                NodeRef& n = Slots<NodeRef>(part)[i];
                if (n.id == i) ReleaseOwned(n);
            }
        }
        GuardedFree(part.nodes);
    }
    part.nodes = nullptr;
    part.nodeCapacity = 0;
    part.nodeCount = 0;
    part.listedTotal = 0;
    part.linkedCount = 0;
    FreeIfSet(part.fsTable);
    part.fsTable = nullptr;
    part.fsTableBytes = 0;
    FreeIfSet(part.allocMap);
    part.allocMap = nullptr;
    part.allocMapBytes = 0;
}

void SplitLostFiles(PartInfo& part) {
    FileNode* lost = GetNode(part, kLostFilesNodeId);
    if (lost == nullptr || !IsDirectory(*lost) || lost->childIds == nullptr) return;
    uint32_t total = std::min(lost->childCount, lost->childCapacity);
    if (total <= kLostFolderSize) return;
    if (part.nodeCount > kFileNodeLimit - 100) return;
    std::vector<uint32_t> children(lost->childIds, lost->childIds + total);

    std::vector<uint32_t> folders;
    uint32_t placed = 0;
    for (uint32_t f = 0; placed < total; ++f) {
        char16_t name[16];
        char ascii[16];
        int len = std::snprintf(ascii, sizeof ascii, "%03u", f);
        for (int k = 0; k <= len; ++k) name[k] = char16_t(ascii[k]);
        FileNode folder = MakeNode();
        folder.parentId = kLostFilesNodeId;
        SetNodeKind(folder, kDeletedDir);
        folder.name = CopyNodeName(WStringView(name, size_t(len)));
        folder.childIds = GuardedNew<uint32_t>(kLostFolderSize, __LINE__);
        folder.childCapacity = kLostFolderSize;
        uint32_t take = std::min(kLostFolderSize, total - placed);
        for (uint32_t k = 0; k < take; ++k) folder.childIds[k] = children[placed + k];
        folder.childCount = take;
        // A table near its limit keeps the remaining entries in the lost folder.
        uint32_t id = AddNode(part, folder, false);
        if (id == 0) break;
        for (uint32_t k = 0; k < take; ++k) {
            if (FileNode* child = GetNode(part, children[placed + k])) child->parentId = id;
        }
        folders.push_back(id);
        placed += take;
    }
    lost = GetNode(part, kLostFilesNodeId);
    uint32_t n = 0;
    for (uint32_t id : folders) lost->childIds[n++] = id;
    for (uint32_t k = placed; k < total; ++k) lost->childIds[n++] = children[k];
    lost->childCount = n;
}

void MarkListedByMode(PartInfo& part) {
    bool deletedOnly = Run().RecoverMode == kModeDeletedFiles;
    uint32_t count = std::min(part.nodeCount, part.nodeCapacity);
    for (uint32_t i = kLostFilesNodeId; i < count; ++i) {
        FileNode* n = GetNode(part, i);
        if (n == nullptr) continue;
        uint32_t kind = NodeKind(*n);
        if (kind == kDeletedFile || (kind == kLiveFile && !deletedOnly)) n->flags |= kFlagListed;
    }
}

uint32_t CountListed(PartInfo& part, uint32_t id) {
    return WalkCount(
        part, id, false,
        [](FileNode& n, bool) -> uint32_t { return (n.flags & kFlagListed) ? 1 : 0; },
        [](FileNode& dir, uint32_t sum) {
            dir.listedCount = sum;
            if (sum != 0) dir.flags |= kFlagListed;
        });
}

uint32_t CountDeletedView(PartInfo& part, uint32_t id, bool insideDeletedDir) {
    return WalkCount(
        part, id, insideDeletedDir,
        [](FileNode& n, bool inside) -> uint32_t {
            if (!inside && NodeKind(n) != kDeletedFile) return 0;
            n.flags |= kFlagListed;
            n.listedCount = 1;
            return 1;
        },
        [](FileNode& dir, uint32_t sum) {
            if (sum == 0) return;
            dir.flags |= kFlagListed;
            dir.listedCount = sum;
        });
}

void CountNodeProgress(const FileNode& node, ProgressSnapshot& phase1) {
    CountKindProgress(NodeKind(node), phase1);
}

}  // namespace kestrel
