#pragma once
// The results of one recovery run: up to 4096 partition slots (0..2 the
// folder skeletons of the three classification views, 3 the found-files
// partition, read or rebuilt partitions from 4 on), the three classification
// trees of NodeRef entries, and the observers told about changes. The set
// owns every node table it holds.
#include <cstdint>
#include <vector>

#include "app/observer.h"
#include "app/scan_state.h"
#include "fs/file_node.h"
#include "platform/wide_text.h"
#include "storage/part_info.h"

namespace kestrel {

constexpr uint32_t kPartitionSlots = 4096;
constexpr uint32_t kFoundFilesSlot = 3;
constexpr uint32_t kFirstReadSlot = 4;
constexpr uint32_t kClassTreeCount = 3;
constexpr int32_t kFilterActive = -1;
constexpr int32_t kFilterRebuilt = -2;

struct ResultSet {
    uint32_t mode = 0;  // 2: show deleted files after a deep scan started in RecoverMode 1
    PartInfo* partitions = nullptr;  // kPartitionSlots records once reset
    uint32_t partitionCount = 0;
    PartInfo classTrees[kClassTreeCount];  // 0 by type, 1 by creation, 2 by modification
    std::vector<IObserver*> observers;
    IObserver* mainWindow = nullptr;  // receives 1128
    int32_t filterState = kFilterRebuilt;

    ResultSet() = default;
    ResultSet(const ResultSet&) = delete;
    ResultSet& operator=(const ResultSet&) = delete;
    ~ResultSet();
};

// A TreeRow addresses one tree: with bit 16 set the low bits pick a
// classification tree, otherwise it is a partition slot.
using TreeRow = uint32_t;
constexpr uint32_t kClassTreeRowBit = 1u << 16;
inline TreeRow ClassTreeRow(uint32_t tree) { return kClassTreeRowBit | tree; }
inline bool IsClassTreeRow(TreeRow row) { return (row & kClassTreeRowBit) != 0; }

// What the classification views add to the set. Each function may be null;
// the set then keeps the bare structure (empty skeleton slots, a found-files
// partition with only its root and lost-files folder, no classification).
struct ClassificationHook {
    // Fills slots 0..2 and the three trees; partitionCount is 0 on entry.
    void (*buildViewSkeletons)(ResultSet& rs, const ScanState* stop) = nullptr;
    // Appends slot 3, the found-files partition, and sends 1229 when notify.
    void (*buildFoundFilesPartition)(ResultSet& rs, bool notify) = nullptr;
    // Adds the listed files of one slot (3 and up) to the trees and recounts.
    void (*classifyPartition)(ResultSet& rs, uint32_t slot, const ScanState* stop) = nullptr;
};
void SetClassificationHook(const ClassificationHook& hook);

// Appends the empty found-files partition (slot 3) on the device being
// recovered, its root listed; addFolders (may be null) adds its folders.
void AppendFoundFilesPartition(ResultSet& rs, void (*addFolders)(PartInfo&), bool notify);

// Clears the set and rebuilds slots 0..3 for a new deep scan.
void ResetResultSet(ResultSet& rs, const ScanState* stop = nullptr, bool notify = false);
// Frees every table of the set; partitionCount becomes 0.
void ClearResultSet(ResultSet& rs);

// Appends a partition (the set takes over its node table), counts it,
// classifies it and notifies. False when the set is full: the caller then
// still owns the table.
bool AddPartition(ResultSet& rs, const PartInfo& part, const ScanState* stop, bool notify);
void UpdatePartitionCounts(ResultSet& rs, uint32_t slot);

// The partition record a row names (a slot or a classification tree), null
// when there is none.
PartInfo* TreeRowPart(ResultSet& rs, TreeRow row);
// The file node (row, id) stands for, through the NodeRef for classification
// trees; null when absent. Visibility is not tested.
FileNode* TreeRowNode(ResultSet& rs, TreeRow row, uint32_t id);
// Listed decides, or FilterMatch while a filter is active.
bool IsNodeVisible(const ResultSet& rs, const FileNode& node);

// Replaces the name of a visible node and sends 1231 (row, id).
bool RenameNode(ResultSet& rs, TreeRow row, uint32_t id, WStringView newName,
                const IObserver* sender = nullptr);

void AddObserver(ResultSet& rs, IObserver* observer);
void RemoveObserver(ResultSet& rs, IObserver* observer);
// A synchronous call to every registered observer except the sender.
void NotifyObservers(const ResultSet& rs, uint32_t code, uint64_t wParam, int64_t lParam,
                     const IObserver* sender = nullptr);

// "RealPartNum: %u  " and "[%u,%u] " per slot from 3 on (number, node count),
// the text the memory manager adds to its first report at 1000 MiB.
WString ResultSetSummaryText(const ResultSet& rs);

}  // namespace kestrel
