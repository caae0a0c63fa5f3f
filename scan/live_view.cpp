// The live view keeps its state per session in a small registry keyed by the
// session's address: the known partition starts, the shown-file index, the
// file-record groups and, for the free-space scan, the free-cluster map. The
// registry entry is made on first use, cleared by ResetLiveView when the
// next scan of that session is prepared and dropped by ReleaseLiveView. Only one thread works a
// session at a time (the reader in preparation, then the processor), so the state itself needs no
// lock; the registry does.
#include "scan/live_view.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

#include "carving/type_catalogue.h"
#include "carving/type_ids.h"
#include "fs/file_node.h"
#include "fs/ntfs_orphan_partitions.h"
#include "fs/partition_tree.h"
#include "fs/result_set.h"
#include "fs/type_folders.h"
#include "scan/block_schedule.h"
#include "scan/found_files_partition.h"
#include "scan/length_estimate.h"
#include "scan/live_view_groups.h"
#include "scan/live_view_index.h"
#include "scan/partition_discovery.h"
#include "scan/scan_catalogue.h"
#include "storage/part_builders.h"
#include "storage/sector_source.h"

namespace kestrel {
namespace {

constexpr uint32_t kFileTypeLimit = 154;
// How many partitions the live view shows at most, and the thresholds above
// which a run of loose file records must be large to be rebuilt.
constexpr uint32_t kMostShown = 49;
constexpr uint32_t kManyShown = 20, kManyShownRecords = 10240;
constexpr uint32_t kSomeShown = 10, kSomeShownRecords = 1024;
constexpr uint32_t kRebuildCeiling = 50;
// A find's estimated length stops at 3686400 sectors, so a neighbour further
// away than that many blocks cannot change it: the neighbour searches stop
// there instead of walking a whole empty disk for every block.
constexpr uint64_t kNeighbourBlocks = 3686400 / kScanBlockSectors + 1;

struct LiveViewState {
    std::vector<uint64_t> knownStarts;  // sorted
    ShownFileIndex shown;
    FileRecordGroups groups;
    bool freeMapBuilt = false;
    FreeClusterMap freeMap;
};

std::mutex gRegistryLock;
std::map<const ScanSession*, std::unique_ptr<LiveViewState>> gRegistry;

void ResetState(LiveViewState& st, const ScanSession& s) {
    st.knownStarts.clear();
    st.shown.Reset(std::max<uint64_t>(DeviceBlockCount(s.scanned), s.catalogue.BlockCount()));
    st.groups.Clear();
    st.freeMapBuilt = false;
    st.freeMap = FreeClusterMap();
}

LiveViewState& StateOf(ScanSession& s) {
    std::lock_guard<std::mutex> hold(gRegistryLock);
    std::unique_ptr<LiveViewState>& slot = gRegistry[&s];
    if (!slot) {
        slot = std::make_unique<LiveViewState>();
        ResetState(*slot, s);
    }
    return *slot;
}

// Tests the start and, when it was not known, remembers it.
bool TakeNewStart(LiveViewState& st, uint64_t start) {
    auto at = std::lower_bound(st.knownStarts.begin(), st.knownStarts.end(), start);
    if (at != st.knownStarts.end() && *at == start) return false;
    st.knownStarts.insert(at, start);
    return true;
}

bool InsideRecord(const PartInfo& rec, uint64_t lba) {
    return lba >= rec.startLba && lba - rec.startLba < rec.sizeSectors;
}

uint64_t RecordEnd(const PartInfo& rec) {
    return rec.sizeSectors > UINT64_MAX - rec.startLba ? UINT64_MAX
                                                       : rec.startLba + rec.sizeSectors;
}

bool IsLiveBootCode(uint32_t code) {
    return code == kCodeNtfsBoot || code == kCodeFat32Boot || code == kCodeExfatBoot;
}

uint32_t ShownCount(const ResultSet& rs) {
    return rs.partitionCount > kFirstReadSlot ? rs.partitionCount - kFirstReadSlot : 0;
}

// Reads the partition's file system and shows it; the starts of its files go
// into the index before the result set takes the table over.
void ShowReadPartition(ScanSession& s, LiveViewState& st, PartInfo part, ScanState& state) {
    if (!ReadPartitionTree(part, state)) return;
    AddPartitionFileStarts(part, st.shown);
    if (!AddPartition(*s.results, part, &state, true)) FreeTable(part);
}

const FreeClusterMap& FreeMapOf(ScanSession& s, LiveViewState& st) {
    if (!st.freeMapBuilt) {
        st.freeMapBuilt = true;
        st.freeMap = MakeFreeClusterMap(s.scanned);
    }
    return st.freeMap;
}

bool BlockSettled(const ScanSchedule& sched, uint64_t blockLba) {
    if (sched.rangeEmpty || blockLba < sched.rangeStart || blockLba > sched.rangeEnd) return true;
    return sched.map.Get(blockLba >> kScanBlockShift) == kBlockProcessed;
}

void RebuildRecordRun(ScanSession& s, LiveViewState& st, const std::vector<FileRecordGroup>& run,
                      ScanState& state) {
    std::vector<NtfsRecordFind> records;
    for (const FileRecordGroup& g : run)
        for (const FoundItem& it : g.items)
            if (const FileRecordSummary* summary = FileRecordOf(it))
                records.push_back(NtfsRecordFind{it.lba, summary});
    const uint32_t shown = ShownCount(*s.results);
    const size_t n = records.size();
    if (n == 0 || shown > kMostShown || (shown > kManyShown && n < kManyShownRecords) ||
        (shown > kSomeShown && n < kSomeShownRecords))
        return;
    OrphanRebuildOptions options;
    options.knownPartitions = shown;
    options.live = true;
    options.maxPartitions = kRebuildCeiling - shown;
    std::vector<PartInfo> built = BuildNtfsOrphanPartitions(records, {}, s.scanned, options, state);
    for (PartInfo& part : built) {
        // A rebuilt guess at a start already shown would list the volume twice.
        if (!TakeNewStart(st, part.startLba) || !AddPartition(*s.results, part, &state, true))
            FreeTable(part);
    }
}

// The found-files partition of slot 3, with its type folders; null when the
// set has none. A bare partition (root and lost files only) gets the folder
// skeleton here.
PartInfo* FoundFilesPartition(ResultSet& rs) {
    if (rs.partitions == nullptr || rs.partitionCount <= kFoundFilesSlot) return nullptr;
    PartInfo& found = rs.partitions[kFoundFilesSlot];
    if (found.fsKind != kFsFoundFiles) return nullptr;
    if (found.nodeCount <= kFirstCategory && GetNode(found, kRootNodeId) != nullptr) {
        BuildTypeCatalogue();
        AddCategoryAndTypeFolders(found);
        LinkChildren(found);
    }
    return &found;
}

void AddCarvedFile(PartInfo& found, const FoundItem& item) {
    FileNode n = CarvedFileNode(found, item, kRootNodeId);
    AddNode(found, n, true);
}

// The nearest processed block with items before (step -1) or after (+1) the
// block, through processed blocks of the scan range only.
const std::vector<FoundItem>* NeighbourItems(const ScanSession& s, uint64_t index, int step) {
    const ScanSchedule& sched = s.schedule;
    if (sched.rangeEmpty) return nullptr;
    const uint64_t first = sched.rangeStart >> kScanBlockShift;
    const uint64_t last = sched.rangeEnd >> kScanBlockShift;
    uint64_t b = index;
    for (uint64_t walked = 0; walked < kNeighbourBlocks; ++walked) {
        if (step < 0 ? b <= first : b >= last) return nullptr;
        b = step < 0 ? b - 1 : b + 1;
        if (sched.map.Get(b) != kBlockProcessed) return nullptr;
        if (const std::vector<FoundItem>* items = s.catalogue.BlockItems(b)) return items;
    }
    return nullptr;
}

}  // namespace

void ResetLiveView(ScanSession& s) { ResetState(StateOf(s), s); }

void ReleaseLiveView(const ScanSession& s) {
    std::lock_guard<std::mutex> hold(gRegistryLock);
    gRegistry.erase(&s);
}

void LiveStart(ScanSession& s, ScanState& state) {
    LiveViewState& st = StateOf(s);
    if (s.results == nullptr) return;
    if ((s.recoverMode == 1 || s.recoverMode == 2) && TakeNewStart(st, s.scanned.startLba))
        ShowReadPartition(s, st, WithoutTables(s.scanned), state);
    // Boot records of a reused scan.
    for (uint64_t b = 0; b < s.catalogue.BlockCount(); ++b) {
        const std::vector<FoundItem>* items = s.catalogue.BlockItems(b);
        if (items == nullptr) continue;
        for (const FoundItem& it : *items)
            if (IsLiveBootCode(it.type)) LiveBootRecord(s, it, state);
    }
}

void LiveBootRecord(ScanSession& s, const FoundItem& item, ScanState& state) {
    if (s.results == nullptr || !IsLiveBootCode(item.type) || item.data == nullptr) return;
    if (state.load() == kScanStopRequested) return;
    LiveViewState& st = StateOf(s);
    if (s.recoverMode == 1) {
        // Only a boot record in free space can belong to a lost volume.
        const FreeClusterMap& free = FreeMapOf(s, st);
        if (free.Valid() && !free.IsFreeSector(item.lba)) return;
    }
    PartInfo part;
    {
        ScopedSource src;
        if (!OpenSourcePath(s.scanned.devicePath, *src)) return;
        if (!PartFromBootRecordItem(item, *src, s.scanned, part)) return;
    }
    if (!TakeNewStart(st, part.startLba) || !InsideRecord(s.scanned, part.startLba)) return;
    ShowReadPartition(s, st, part, state);
}

void LiveBlockEnd(ScanSession& s, uint64_t blockLba, uint32_t fileRecords,
                  const std::vector<FoundItem>& items) {
    LiveViewState& st = StateOf(s);
    if (fileRecords != 0) {
        st.groups.Insert(blockLba, items);
        return;
    }
    if (s.results == nullptr) return;
    const auto settled = [&s](uint64_t b) { return BlockSettled(s.schedule, b); };
    // The rebuild checks the stop request through the word; the hooks of a
    // block end have none, so a private running word stands in for it.
    ScanState running{kScanRunning};
    const std::vector<FileRecordGroup> before = st.groups.TakeRunBefore(blockLba, settled);
    if (!before.empty()) RebuildRecordRun(s, st, before, running);
    const std::vector<FileRecordGroup> after = st.groups.TakeRunAfter(blockLba, settled);
    if (!after.empty()) RebuildRecordRun(s, st, after, running);
}

void LiveSignatureFinds(ScanSession& s, uint64_t blockLba, const std::vector<FoundItem>& items) {
    LiveViewState& st = StateOf(s);
    if (s.results == nullptr) return;
    const uint64_t index = blockLba >> kScanBlockShift;
    std::vector<FoundItem> batch;
    batch.reserve(items.size() + 2);
    if (const std::vector<FoundItem>* prev = NeighbourItems(s, index, -1)) {
        if (InsideRecord(s.scanned, prev->back().lba)) batch.push_back(prev->back());
    }
    batch.insert(batch.end(), items.begin(), items.end());
    if (const std::vector<FoundItem>* next = NeighbourItems(s, index, +1))
        batch.push_back(next->front());
    if (batch.size() < 2) return;  // a lone item is the last one: left for later

    const FreeClusterMap* free = nullptr;
    if (s.recoverMode == 1) {
        const FreeClusterMap& m = FreeMapOf(s, st);
        if (m.Valid()) free = &m;
    }
    EstimateFindLengths(batch, RecordEnd(s.scanned), free);

    PartInfo* found = nullptr;
    for (size_t i = 0; i + 1 < batch.size(); ++i) {
        const FoundItem& it = batch[i];
        if (it.type >= kFileTypeLimit || it.status == kFindRejected) continue;
        // Finds below the record's start come from the sectors its first
        // block holds ahead of it; the finished scan does not keep them either.
        if (!InsideRecord(s.scanned, it.lba) || st.shown.Contains(it.lba)) continue;
        if (found == nullptr) found = FoundFilesPartition(*s.results);
        if (found == nullptr) return;
        AddCarvedFile(*found, it);
    }
}

}  // namespace kestrel
