#include "fs/result_set.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <new>

#include "app/guarded_memory.h"
#include "app/run_state.h"

namespace kestrel {
namespace {

ClassificationHook gHook;
// The set whose figures the memory manager's summary reports: the last one reset.
std::atomic<const ResultSet*> gSummarySet{nullptr};

WString AsciiToWide(const char* text) {
    WString out;
    for (; *text != 0; ++text) out.push_back(char16_t(static_cast<unsigned char>(*text)));
    return out;
}

WString SummaryOfRegisteredSet() {
    const ResultSet* rs = gSummarySet.load();
    return rs == nullptr ? WString() : ResultSetSummaryText(*rs);
}

PartInfo* AllocatePartitionSlots() {
    void* block = GuardedAlloc(kPartitionSlots * uint32_t(sizeof(PartInfo)), __LINE__);
    auto* slots = static_cast<PartInfo*>(block);
    for (uint32_t i = 0; i < kPartitionSlots; ++i) new (&slots[i]) PartInfo();
    return slots;
}

void ReleasePartitionSlots(PartInfo* slots) {
    for (uint32_t i = 0; i < kPartitionSlots; ++i) slots[i].~PartInfo();
    GuardedFree(slots);
}

}  // namespace

ResultSet::~ResultSet() {
    const ResultSet* self = this;
    gSummarySet.compare_exchange_strong(self, nullptr);
    ClearResultSet(*this);
}

void SetClassificationHook(const ClassificationHook& hook) { gHook = hook; }

void ResetResultSet(ResultSet& rs, const ScanState* stop, bool notify) {
    ClearResultSet(rs);
    rs.filterState = kFilterRebuilt;
    rs.mode = Run().RecoverMode == kModeDeletedFiles ? 2 : 0;
    rs.partitions = AllocatePartitionSlots();
    rs.partitionCount = 0;
    gSummarySet.store(&rs);
    SetResultSetSummaryHook(&SummaryOfRegisteredSet);

    if (gHook.buildViewSkeletons != nullptr) gHook.buildViewSkeletons(rs, stop);
    // Slot 3 is the found-files partition whatever the skeleton builder did.
    while (rs.partitionCount < kFoundFilesSlot) rs.partitionCount++;
    if (rs.partitionCount > kFoundFilesSlot) return;
    if (gHook.buildFoundFilesPartition != nullptr) {
        gHook.buildFoundFilesPartition(rs, notify);
    } else {
        AppendFoundFilesPartition(rs, nullptr, notify);
    }
}

void ClearResultSet(ResultSet& rs) {
    if (rs.partitions != nullptr) {
        uint32_t used = std::min(rs.partitionCount, kPartitionSlots);
        for (uint32_t i = 0; i < used; ++i) FreeTable(rs.partitions[i]);
        ReleasePartitionSlots(rs.partitions);
        rs.partitions = nullptr;
    }
    rs.partitionCount = 0;
    for (PartInfo& tree : rs.classTrees) {
        FreeTable(tree, RecordKind::NodeRef);
        tree = PartInfo();
    }
}

bool AddPartition(ResultSet& rs, const PartInfo& part, const ScanState* stop, bool notify) {
    if (rs.partitions == nullptr || rs.partitionCount >= kPartitionSlots) return false;
    uint32_t slot = rs.partitionCount;
    rs.partitions[slot] = part;
    rs.partitionCount++;
    if (slot >= kFoundFilesSlot) {
        UpdatePartitionCounts(rs, slot);
        if (gHook.classifyPartition != nullptr) gHook.classifyPartition(rs, slot, stop);
    }
    if (notify) {
        NotifyObservers(rs, kMsgPartitionAdded, slot, 0);
        if (rs.partitionCount == kFirstReadSlot + 1 &&
            rs.partitions[kFoundFilesSlot].listedTotal == 0 && rs.mainWindow != nullptr) {
            rs.mainWindow->OnMessage(kMsgFirstPartitionNoFound, 0, 0);
        }
    }
    return true;
}

void UpdatePartitionCounts(ResultSet& rs, uint32_t slot) {
    if (rs.partitions == nullptr || slot < kFoundFilesSlot || slot >= rs.partitionCount) return;
    PartInfo& part = rs.partitions[slot];
    MarkListedByMode(part);
    if (rs.mode == 2 && part.startLba == Run().CurPartInfo.startLba) {
        part.listedTotal = CountDeletedView(part, kRootNodeId, false);
    } else {
        part.listedTotal = CountListed(part, kRootNodeId);
    }
}

PartInfo* TreeRowPart(ResultSet& rs, TreeRow row) {
    if (IsClassTreeRow(row)) {
        uint32_t tree = row & 0xFFFF;
        return tree < kClassTreeCount ? &rs.classTrees[tree] : nullptr;
    }
    if (rs.partitions == nullptr || row >= rs.partitionCount) return nullptr;
    return &rs.partitions[row];
}

FileNode* TreeRowNode(ResultSet& rs, TreeRow row, uint32_t id) {
    PartInfo* part = TreeRowPart(rs, row);
    if (part == nullptr) return nullptr;
    if (!IsClassTreeRow(row)) return GetNode(*part, id);
    NodeRef* ref = GetNodeRef(*part, id);
    if (ref == nullptr || rs.partitions == nullptr || ref->partitionIndex >= rs.partitionCount) {
        return nullptr;
    }
    return GetNode(rs.partitions[ref->partitionIndex], ref->nodeId);
}

bool IsNodeVisible(const ResultSet& rs, const FileNode& node) {
    uint16_t bit = rs.filterState == kFilterActive ? kFlagFilterMatch : kFlagListed;
    return (node.flags & bit) != 0;
}

bool RenameNode(ResultSet& rs, TreeRow row, uint32_t id, WStringView newName,
                const IObserver* sender) {
    if (newName.empty()) return false;
    FileNode* node = TreeRowNode(rs, row, id);
    if (node == nullptr || !IsNodeVisible(rs, *node)) return false;
    SetNodeName(*node, newName);
    NotifyObservers(rs, kMsgNodeRenamed, row, id, sender);
    return true;
}

void AddObserver(ResultSet& rs, IObserver* observer) {
    if (observer == nullptr) return;
    if (std::find(rs.observers.begin(), rs.observers.end(), observer) == rs.observers.end()) {
        rs.observers.push_back(observer);
    }
}

void RemoveObserver(ResultSet& rs, IObserver* observer) {
    rs.observers.erase(std::remove(rs.observers.begin(), rs.observers.end(), observer),
                       rs.observers.end());
}

void NotifyObservers(const ResultSet& rs, uint32_t code, uint64_t wParam, int64_t lParam,
                     const IObserver* sender) {
    // A copy: an observer may register or leave while it is being told.
    std::vector<IObserver*> targets = rs.observers;
    for (IObserver* o : targets) {
        if (o != sender) o->OnMessage(code, wParam, lParam);
    }
}

WString ResultSetSummaryText(const ResultSet& rs) {
    char buf[48];
    uint32_t count = std::min(rs.partitionCount, kPartitionSlots);
    uint32_t real = count > kFoundFilesSlot ? count - kFoundFilesSlot : 0;
    std::snprintf(buf, sizeof buf, "RealPartNum: %u  ", real);
    WString text = AsciiToWide(buf);
    if (rs.partitions == nullptr) return text;
    for (uint32_t i = 0; i < real; ++i) {
        std::snprintf(buf, sizeof buf, "[%u,%u] ", i, rs.partitions[kFoundFilesSlot + i].nodeCount);
        text += AsciiToWide(buf);
    }
    return text;
}

void AppendFoundFilesPartition(ResultSet& rs, void (*addFolders)(PartInfo&), bool notify) {
    PartInfo found;
    found.fsKind = kFsFoundFiles;
    found.label = u"找到的文件";
    found.devicePath = Run().CurPartInfo.devicePath;
    AddRootAndLostNodes(found);
    if (addFolders) addFolders(found);
    LinkChildren(found);
    if (FileNode* root = GetNode(found, kRootNodeId)) root->flags |= kFlagListed;
    if (!AddPartition(rs, found, nullptr, notify)) FreeTable(found);
}

}  // namespace kestrel
