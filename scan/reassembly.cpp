#include "scan/reassembly.h"

#include <algorithm>

#include "app/observer.h"
#include "app/progress.h"
#include "fs/exfat_dir_partitions.h"
#include "fs/fat_dir_partitions.h"
#include "fs/fat_visited.h"
#include "fs/file_node.h"
#include "fs/ntfs_known_extents.h"
#include "fs/ntfs_orphan_partitions.h"
#include "fs/partition_tree.h"
#include "fs/result_set.h"
#include "scan/found_files_partition.h"
#include "scan/length_estimate.h"
#include "scan/live_view.h"
#include "scan/partition_discovery.h"
#include "scan/post_scan_steps.h"
#include "scan/scan_catalogue.h"
#include "scan/sector_classifier.h"
#include "storage/part_builders.h"
#include "storage/sector_source.h"

namespace kestrel {
namespace {

constexpr const char16_t* kTitle = u"准备恢复文件";

void Say(const char16_t* text) { PostProgressText(kTitle, text); }

bool Stopped(const ScanState& state) { return state.load() == kScanStopRequested; }

uint64_t RecordSize(const PartInfo& p) {
    // A record without a size stands for all of its device.
    return p.sizeSectors == 0 ? UINT64_MAX - p.startLba : p.sizeSectors;
}

uint64_t RecordEnd(const PartInfo& p) {
    const uint64_t size = RecordSize(p);
    return size > UINT64_MAX - p.startLba ? UINT64_MAX : p.startLba + size;
}

// The whole device the scanned record lies on: what the builders read from
// and the identity every found record takes over.
PartInfo DeviceRecord(const PartInfo& scanned) { return RecordOnDevice(scanned); }

void FreeAll(std::vector<PartInfo>& list) {
    for (PartInfo& p : list) FreeTable(p);
    list.clear();
}

void Append(std::vector<PartInfo>& to, std::vector<PartInfo>&& from) {
    for (PartInfo& p : from) to.push_back(std::move(p));
}

// The free-space scan's own volume goes through the boot-record rules like
// any other, so its tree is read again below with the rest.
void AddScannedBootRecord(const PartInfo& scanned, std::vector<FoundItem>& items) {
    const uint32_t code = ClassifySector(scanned.bootSector, scanned.startLba);
    if (code != kCodeNtfsBoot && code != kCodeFat16Boot && code != kCodeFat32Boot &&
        code != kCodeExfatBoot)
        return;
    FoundItem it;
    it.type = uint8_t(code);
    it.lba = scanned.startLba;
    it.data = const_cast<uint8_t*>(scanned.bootSector);  // borrowed, never freed
    const auto at = std::lower_bound(items.begin(), items.end(), it.lba,
                                     [](const FoundItem& a, uint64_t l) { return a.lba < l; });
    items.insert(at, it);
}

// The free-space scan's volume is readable by definition: should its boot
// sector fail the stricter tests of the scan, the record itself stands in.
void KeepScannedVolume(const PartInfo& scanned, const PartInfo& device,
                       std::vector<PartInfo>& list) {
    const uint32_t k = scanned.fsKind;
    if (k != kFsNtfs && k != kFsFat16 && k != kFsFat32 && k != kFsExfat) return;
    if (HasPartitionStart(list, scanned.startLba)) return;
    PartInfo fresh = WithoutTables(scanned);
    fresh.devicePath = device.devicePath;
    list.push_back(fresh);
}

void ReadPartitions(std::vector<PartInfo>& list, UsedStructures& used, ScanState& state) {
    for (PartInfo& p : list) {
        // After a stop request the partitions left keep an empty tree.
        const bool read = !Stopped(state) && ReadPartitionTree(p, state);
        // The FAT reader forgets its directories at the start of the next
        // partition: keep what this one marked.
        if (p.fsKind == kFsFat16 || p.fsKind == kFsFat32) used.AddFatDirectories(FatVisitedLbas());
        if (!read && GetNode(p, kRootNodeId) == nullptr) {
            FreeTable(p);
            AddRootAndLostNodes(p);
            LinkChildren(p);
        }
    }
    used.TakeNtfsExtents();
}

void AddPseudoPartitions(const std::vector<FoundItem>& items, const PartInfo& device,
                         std::vector<PartInfo>& list, ScanState& state) {
    Say(u"正在获取exFat格式的分区信息，预计要几十秒钟，请稍等！");
    std::vector<uint64_t> exfatDirs;
    std::vector<NtfsRecordFind> records;
    std::vector<NtfsIndexFind> indexBlocks;
    std::vector<FatDirFind> fatDirs;
    for (const FoundItem& it : items) {
        switch (it.type) {
            case kCodeExfatRootDir:
            case kCodeExfatDir:
                exfatDirs.push_back(it.lba);
                break;
            case kCodeFileRecord:
                if (const FileRecordSummary* s = FileRecordOf(it)) records.push_back({it.lba, s});
                break;
            case kCodeIndexBlock:
                indexBlocks.push_back({it.lba, it.payload});
                break;
            case kCodeFatDir:
                fatDirs.push_back({kFatSubdirFind, it.lba, it.payload, it.extra});
                break;
            case kCodeFatRootDir:
                fatDirs.push_back({kFatRootDirFind, it.lba, 0, 0});
                break;
            default:
                break;
        }
    }
    if (!exfatDirs.empty() && !Stopped(state))
        Append(list, BuildExfatDirPartitions(exfatDirs, device, list, state));
    if (!records.empty() && !Stopped(state)) {
        OrphanRebuildOptions options;
        options.knownPartitions = uint32_t(list.size());
        Append(list, BuildNtfsOrphanPartitions(records, indexBlocks, device, options, state));
    }
    if (!fatDirs.empty() && !Stopped(state))
        Append(list, BuildFatDirPartitions(fatDirs, device, uint32_t(list.size()), state));
}

void ResetForScan(ScanSession& s) {
    ResetLiveView(s);
    FreeAll(s.foundPartitions);
    if (s.results) ResetResultSet(*s.results, nullptr, true);
}

bool PostScanHook(ScanSession& s, ScanState& state) { return PostScanProcessing(s, state); }

void RebuildTreeHook(ScanSession& s) { InstallFoundPartitions(s); }

// A record whose name begins with "$M" opens a copy of the area's first
// records; without the geometry only its own position tells where that
// copy begins.
bool MftStartOfRecord(const FoundItem& record, uint64_t& areaStart) {
    uint32_t number = 0;
    if (!FileRecordNumber(record, number) || record.lba < 2 * uint64_t(number)) return false;
    areaStart = record.lba - 2 * uint64_t(number);
    return true;
}

}  // namespace

bool PostScanProcessing(ScanSession& s, ScanState& state) {
    const PartInfo& scanned = s.scanned;
    const bool freeSpace = s.recoverMode == 1;

    Say(u"处理搜索到的信息");
    std::vector<FoundItem> items =
        s.catalogue.Collect(false, true, scanned.startLba, RecordSize(scanned));
    std::stable_sort(items.begin(), items.end(),
                     [](const FoundItem& a, const FoundItem& b) { return a.lba < b.lba; });
    FreeClusterMap freeMap;
    if (freeSpace) {
        freeMap = MakeFreeClusterMap(scanned);
        KeepFindsInFreeSpace(items, freeMap, IsOn(s.options.clusterAlign));
    }
    ApplyScanOptionFilter(items, s.options);
    EstimateFindLengths(items, RecordEnd(scanned), freeSpace ? &freeMap : nullptr);

    const PartInfo device = DeviceRecord(scanned);
    ScopedSource src;
    if (!OpenSourceFromPart(device, *src)) return false;
    std::vector<PartInfo> list;
    ClearNtfsKnownExtents();
    ClearFatVisitedList();
    if (freeSpace) AddScannedBootRecord(scanned, items);

    Say(u"整理搜索到的分区关键信息!");
    AddPartitionsFromTablesAndBootRecords(items, *src, device, list);
    if (freeSpace) KeepScannedVolume(scanned, device, list);
    Say(u"正在获取NTFS格式的分区信息，预计要几十秒钟，请稍等！");
    AddNtfsPartitionsFromRecordRuns(items, *src, device, list);
    for (PartInfo& p : list) p.devicePath = device.devicePath;
    DropPartitionsOutsideOptions(list, s.options);

    UsedStructures used;
    ReadPartitions(list, used, state);
    NeutraliseUsedStructures(items, used);
    AddPseudoPartitions(items, device, list, state);
    KeepBusyPartitions(list, s.recoverMode);

    Say(u"处理根据文件标志搜索到的各种文件!");
    MarkNestedDuplicates(items);
    if (IsOn(s.options.removeDuplicates)) MarkDuplicatesOfPartitionFiles(items, list);
    list.push_back(BuildFoundFilesPartition(items, device, s.recoverMode));

    for (PartInfo& p : list) SplitLostFiles(p);
    FreeAll(s.foundPartitions);
    s.foundPartitions = std::move(list);
    return !s.foundPartitions.empty();
}

void InstallFoundPartitions(ScanSession& s) {
    if (s.results == nullptr) {
        FreeAll(s.foundPartitions);
        return;
    }
    ResultSet& rs = *s.results;
    ResetResultSet(rs);
    auto found = std::find_if(s.foundPartitions.begin(), s.foundPartitions.end(),
                              [](const PartInfo& p) { return p.fsKind == kFsFoundFiles; });
    if (found != s.foundPartitions.end() && rs.partitionCount > kFoundFilesSlot) {
        // The reset's bare found-files partition gives way to the one built.
        FreeTable(rs.partitions[kFoundFilesSlot]);
        rs.partitions[kFoundFilesSlot] = PartInfo();
        rs.partitionCount = kFoundFilesSlot;
        if (!AddPartition(rs, *found, nullptr, false)) FreeTable(*found);
    } else if (found != s.foundPartitions.end()) {
        FreeTable(*found);
    }
    for (auto it = s.foundPartitions.begin(); it != s.foundPartitions.end(); ++it) {
        if (it == found) continue;
        if (!AddPartition(rs, *it, nullptr, false)) FreeTable(*it);
    }
    // The set owns the tables now.
    s.foundPartitions.clear();
    NotifyObservers(rs, kMsgDeepScanComplete, rs.partitionCount ? rs.partitionCount - 1 : 0, 0);
}

void InstallReassemblyHooks(ScanSession& s) {
    PostScanHooks& h = s.hooks;
    h.resetForScan = &ResetForScan;
    h.liveStart = &LiveStart;
    h.liveBootRecord = &LiveBootRecord;
    h.liveBlockEnd = &LiveBlockEnd;
    h.liveSignatureFinds = &LiveSignatureFinds;
    h.postScan = &PostScanHook;
    h.rebuildTree = &RebuildTreeHook;
    h.mftStart = &MftStartOfRecord;
}

}  // namespace kestrel
