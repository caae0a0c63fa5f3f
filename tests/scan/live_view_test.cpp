// The live view of the deep scan: partitions shown while the scan runs, carved
// finds joining the found files, and the bookkeeping behind both.
#include "scan/live_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "app/observer.h"
#include "app/run_state.h"
#include "carving/type_catalogue.h"
#include "fs/fat_geometry.h"
#include "fs/partition_tree.h"
#include "fs/result_set.h"
#include "scan/live_view_groups.h"
#include "scan/live_view_index.h"
#include "scan/reassembly.h"
#include "scan/scan_session.h"
#include "tests/fs/ntfs_record_builder.h"
#include "tests/scan/scan_test_util.h"

namespace kestrel {
namespace {

using namespace kestrel::test;

// What the browser would learn: every partition added, with the record in
// its slot and how far the scan was when it came.
struct PartitionLog : IObserver {
    ResultSet* rs = nullptr;
    const ScanSession* s = nullptr;
    std::thread::id preparingThread = std::this_thread::get_id();  // RunDeepScan's caller
    struct Entry {
        uint64_t slot;
        uint64_t start;
        uint32_t fsKind;
        size_t blocksDone;
        bool onPreparingThread;  // the reader, before it reads; blocks come on the processor
    };
    std::vector<Entry> added;
    size_t addedBeforeComplete = SIZE_MAX;
    void OnMessage(uint32_t code, uint64_t w, int64_t) override {
        if (code == kMsgDeepScanComplete && addedBeforeComplete == SIZE_MAX)
            addedBeforeComplete = added.size();
        // Slot 3 is announced by the reset of a set; only volumes count here.
        if (code != kMsgPartitionAdded || w < kFirstReadSlot || w >= rs->partitionCount) return;
        added.push_back({w, rs->partitions[w].startLba, rs->partitions[w].fsKind,
                         s->processedBlocks.size(), std::this_thread::get_id() == preparingThread});
    }
    std::multiset<uint64_t> Starts() const {
        std::multiset<uint64_t> out;
        for (const Entry& e : added) out.insert(e.start);
        return out;
    }
};

void ResetForLiveScan(ScanSession& s) {
    ResetResultSet(*s.results);
    ResetLiveView(s);
}

struct LiveScan {
    ScanSession s;
    ResultSet rs;
    PartitionLog log;
    ScanState state{kScanRunning};

    LiveScan(const PartInfo& part, int32_t mode) {
        BuildTypeCatalogue();
        s.scanned = part;
        s.recoverMode = mode;
        s.options.scanStart = part.startLba;
        s.options.scanSize = part.sizeSectors;
        s.options.showWhileScanning = 1;
        s.options.analyseFat = s.options.analyseNtfs = s.options.analyseExfat = 1;
        kestrel::Run().RecoverMode = mode;
        kestrel::Run().CurPartInfo = part;
        s.pollMs = 2;
        s.pauseMs = 5;
        s.results = &rs;
        s.hooks.resetForScan = &ResetForLiveScan;
        s.hooks.liveStart = &LiveStart;
        s.hooks.liveBootRecord = &LiveBootRecord;
        s.hooks.liveBlockEnd = &LiveBlockEnd;
        s.hooks.liveSignatureFinds = &LiveSignatureFinds;
        log.rs = &rs;
        log.s = &s;
        AddObserver(rs, &log);
    }
    ~LiveScan() { ReleaseLiveView(s); }
    void Run() { RunDeepScan(s, state); }

    // Carved files of the found-files partition: start -> node.
    std::map<uint64_t, const FileNode*> Carved() const {
        std::map<uint64_t, const FileNode*> out;
        const PartInfo& found = rs.partitions[kFoundFilesSlot];
        for (uint32_t id = kLastFileType + 1; id < found.nodeCount; ++id)
            if (const FileNode* n = GetNode(found, id)) out[n->locationLba] = n;
        return out;
    }
    // Start sectors of every file of the partitions shown from slot 4 on.
    std::set<uint64_t> ShownFileStarts() const {
        std::set<uint64_t> out;
        for (uint32_t slot = kFirstReadSlot; slot < rs.partitionCount; ++slot) {
            const PartInfo& p = rs.partitions[slot];
            const FileStartResolver starts(p);
            for (uint32_t id = 0; id < p.nodeCount; ++id) {
                uint64_t lba = 0;
                const FileNode* n = GetNode(p, id);
                if (n != nullptr && starts.StartOf(*n, lba)) out.insert(lba);
            }
        }
        return out;
    }
    size_t SignatureFindsAt(const std::set<uint64_t>& starts) const {
        size_t n = 0;
        for (const FoundItem& it : s.catalogue.Collect(false, false, 0, 0))
            n += it.type < 154 && starts.count(it.lba) != 0;
        return n;
    }
};

std::string Utf8Name(const FileNode& n) { return Utf8FromWide(WStringView(n.name)); }

// The disk with its exFAT boot region and the backup region wiped: the
// volume's files can then be found only by their signatures.
std::string DiskWithoutExfatBoot() {
    const std::string path = FixtureCopy("scan/disk.img.gz", "live-no-exfat-boot.img");
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    const std::vector<char> zeros(512, 0);
    for (uint64_t lba : {kExfatStart, kExfatStart + 12}) {
        f.seekp(std::streamoff(lba * 512));
        f.write(zeros.data(), std::streamsize(zeros.size()));
    }
    return path;
}

TEST(LiveView, WholeDiskShowsBootRecordPartitionsAndCarvesOnlyWhatTheyDoNotHold) {
    RecordingUi ui;
    const std::string path = DiskWithoutExfatBoot();
    LiveScan scan(ImageRecord(path, 0, kDiskSectors, kDiskSectors), 3);
    scan.Run();
    ASSERT_EQ(scan.state.load(), kScanFinished);

    // FAT32 and NTFS announce themselves by boot record (the FAT16 logical
    // drive has none the live view follows); each once, although FAT32 has a
    // backup copy too, in slot order, while the block holding the boot record
    // is processed (the blocks are read front to back).
    ASSERT_EQ(scan.log.added.size(), 2u);
    EXPECT_EQ(scan.log.Starts(), (std::multiset<uint64_t>{kFat32Start, kNtfsStart}));
    for (size_t i = 0; i < scan.log.added.size(); ++i) {
        EXPECT_EQ(scan.log.added[i].slot, kFirstReadSlot + i);
        EXPECT_EQ(scan.log.added[i].blocksDone, scan.log.added[i].start >> kScanBlockShift);
        EXPECT_FALSE(scan.log.added[i].onPreparingThread);
    }
    ASSERT_EQ(scan.rs.partitionCount, kFirstReadSlot + 2);
    for (uint32_t slot = kFirstReadSlot; slot < scan.rs.partitionCount; ++slot)
        EXPECT_GT(scan.rs.partitions[slot].nodeCount, 6u) << "slot " << slot << " was read";

    // The files the shown partitions hold were found by signature too, but
    // are not listed again among the found files; the exFAT volume's are.
    const std::set<uint64_t> shownStarts = scan.ShownFileStarts();
    ASSERT_GE(scan.SignatureFindsAt(shownStarts), 2u);  // the JPEG copies at least
    const auto carved = scan.Carved();
    size_t inExfat = 0;
    for (const auto& [lba, node] : carved) {
        EXPECT_EQ(shownStarts.count(lba), 0u) << lba;
        inExfat += lba >= kExfatStart && lba < kExfatStart + kExfatSize;
        char expected[24];
        std::snprintf(expected, sizeof expected, "%08u.", uint32_t(lba));
        EXPECT_EQ(Utf8Name(*node).rfind(expected, 0), 0u) << Utf8Name(*node);
        EXPECT_EQ(node->parentId, node->typeId) << "below its type folder";
        EXPECT_EQ(NodeKind(*node), kLiveFile);
        EXPECT_TRUE(node->flags & kFlagListed);
    }
    EXPECT_GE(inExfat, 1u);
    // Found files were added to a bare slot 3: its type folders came with them.
    ASSERT_FALSE(carved.empty());
    const FileNode* folder =
        GetNode(scan.rs.partitions[kFoundFilesSlot], carved.begin()->second->typeId);
    ASSERT_NE(folder, nullptr);
    EXPECT_TRUE(IsDirectory(*folder));
    EXPECT_TRUE(folder->flags & kFlagListed);
    EXPECT_TRUE(ui.messages.empty());
}

// A reused scan: the boot records its catalogue holds are shown when the
// next scan starts, before it reads anything.
TEST(LiveView, StartShowsTheBootRecordsOfAReusedCatalogue) {
    RecordingUi ui;
    LiveScan scan(ImageRecord(ScanDiskPath(), 0, kDiskSectors, kDiskSectors), 3);
    scan.s.options.showWhileScanning = 0;
    scan.Run();
    ASSERT_TRUE(scan.log.added.empty());
    ASSERT_GT(scan.s.catalogue.ItemCount(), 0u);

    ResetForLiveScan(scan.s);
    ScanState state{kScanRunning};
    LiveStart(scan.s, state);
    EXPECT_EQ(scan.log.Starts(), (std::multiset<uint64_t>{kFat32Start, kNtfsStart, kExfatStart}));
}

// Wired as the reassembly wires it: what the live view showed gives way to
// the finished scan's result, with every volume once.
TEST(LiveView, FinishedScanReplacesTheLiveResult) {
    RecordingUi ui;
    LiveScan scan(ImageRecord(ScanDiskPath(), 0, kDiskSectors, kDiskSectors), 3);
    InstallReassemblyHooks(scan.s);
    scan.Run();
    ASSERT_EQ(scan.state.load(), kScanFinished);
    EXPECT_EQ(scan.log.addedBeforeComplete, 3u) << "FAT32, NTFS and exFAT shown while scanning";
    std::multiset<uint64_t> starts;
    for (uint32_t slot = kFirstReadSlot; slot < scan.rs.partitionCount; ++slot)
        starts.insert(scan.rs.partitions[slot].startLba);
    for (uint64_t start : {kFat32Start, kNtfsStart, kExfatStart, kFat16Start})
        EXPECT_EQ(starts.count(start), 1u) << start;
}

// Free-space and partition scans show the scanned partition before the
// first block is read. A boot record whose volume starts outside the scanned
// record is not shown, and the scanned volume's own boot records (and their
// backups) do not show it a second time.
TEST(LiveView, PartitionScansShowTheScannedVolumeAtOnceAndNothingOutsideIt) {
    struct Case {
        const char* name;
        int32_t mode;
        uint64_t start, size;
        uint32_t fsKind;
        uint64_t foreignBoot;  // a boot record in the scanned blocks, of a volume before the record
    };
    const Case cases[] = {
        {"exfat mode 2", 2, kExfatStart, kExfatSize, kFsExfat, kNtfsStart + kNtfsSize - 1},
        {"ntfs mode 1", 1, kNtfsStart, kNtfsSize, kFsNtfs, 0},
        {"fat32 mode 2", 2, kFat32Start, kFat32Size, kFsFat32, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingUi ui;
        PartInfo rec = ImageRecord(ScanDiskPath(), c.start, c.size, kDiskSectors);
        rec.fsKind = c.fsKind;
        std::memcpy(rec.bootSector, ReadWholeFile(ScanDiskPath()).data() + c.start * 512, 512);
        LiveScan scan(rec, c.mode);
        scan.Run();
        ASSERT_EQ(scan.state.load(), kScanFinished);

        ASSERT_EQ(scan.log.added.size(), 1u);
        EXPECT_EQ(scan.log.added[0].start, c.start);
        EXPECT_EQ(scan.log.added[0].fsKind, c.fsKind);
        EXPECT_EQ(scan.log.added[0].blocksDone, 0u);
        EXPECT_TRUE(scan.log.added[0].onPreparingThread);
        if (c.foreignBoot != 0) {
            bool seen = false;
            for (const FoundItem& it : scan.s.catalogue.Collect(false, false, 0, 0))
                seen |= it.lba == c.foreignBoot && it.type == kCodeNtfsBoot;
            EXPECT_TRUE(seen) << "the scan met the foreign boot record";
        }
        for (const auto& [lba, node] : scan.Carved()) {
            EXPECT_GE(lba, c.start);
            EXPECT_LT(lba, c.start + c.size);
        }
    }
}

// A free-space scan shows a volume whose boot record lies in free clusters
// of the scanned partition (a lost volume written over deleted data), and
// not one whose boot record sits in a cluster in use.
TEST(LiveView, FreeSpaceScanShowsOnlyBootRecordsInFreeClusters) {
    constexpr uint64_t kLostStart = 40960;  // free clusters of the FAT32 volume
    const std::vector<uint8_t> disk = ReadWholeFile(ScanDiskPath());
    ASSERT_EQ(disk.size(), kDiskSectors * 512);
    FatGeometry g;
    ASSERT_TRUE(
        ParseFatGeometry(ByteView(disk.data() + kFat32Start * 512, 512), kFat32Start, kFsFat32, g));
    const uint32_t cluster = uint32_t(2 + (kLostStart - g.dataLba) / g.sectorsPerCluster);
    ASSERT_EQ(g.ClusterLba(cluster), kLostStart);
    for (bool inUse : {false, true}) {
        SCOPED_TRACE(inUse ? "boot record in a used cluster" : "boot record in free space");
        const std::string path = FixtureCopy("scan/disk.img.gz", "live-lost-exfat.img");
        {
            std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
            // A copy of the exFAT volume inside the FAT32 one.
            f.seekp(std::streamoff(kLostStart * 512));
            f.write(reinterpret_cast<const char*>(disk.data() + kExfatStart * 512),
                    std::streamsize(kExfatSize * 512));
            if (inUse) {
                // Both boot regions (main and backup, 12 sectors each) in use.
                const uint8_t end[4] = {0xFF, 0xFF, 0xFF, 0x0F};
                for (uint32_t copy = 0; copy < g.fatCount; ++copy) {
                    for (uint32_t c = cluster; c < cluster + 24 / g.sectorsPerCluster; ++c) {
                        f.seekp(std::streamoff((g.fatLba + uint64_t(copy) * g.fatSectors) * 512 +
                                               uint64_t(c) * 4));
                        f.write(reinterpret_cast<const char*>(end), 4);
                    }
                }
            }
        }
        // The device page hands over a volume its reader has read (FAT copy
        // included).
        PartInfo rec = ImageRecord(path, kFat32Start, kFat32Size, kDiskSectors);
        rec.fsKind = kFsFat32;
        std::memcpy(rec.bootSector, disk.data() + kFat32Start * 512, 512);
        ScanState readState{kScanRunning};
        ASSERT_TRUE(ReadPartitionTree(rec, readState));
        RecordingUi ui;
        {
            LiveScan scan(rec, 1);
            scan.Run();
            ASSERT_EQ(scan.state.load(), kScanFinished);
            std::multiset<uint64_t> expected{kFat32Start};
            if (!inUse) expected.insert(kLostStart);
            EXPECT_EQ(scan.log.Starts(), expected);
        }
        FreeTable(rec);
    }
}

constexpr uint64_t kLooseRunLba = 0x600000 + 0x8000;  // block aligned

// A sparse disk with a run of `records` FILE records at kLooseRunLba and an
// empty block after them; its boot sector and everything else are zeros.
std::string LooseRecordImage(uint32_t records, uint64_t& deviceSectors) {
    std::vector<SectorPatch> patches;
    for (uint32_t r = 0; r < records; ++r) {
        NtfsRecordBuilder b(r);
        b.StandardInfo(FileTimeFromUnix(1600000000), FileTimeFromUnix(1600000000));
        std::u16string name = u"file" + std::u16string(1, char16_t(u'A' + r % 26)) + u".txt";
        b.FileName(5, 1, name);
        b.Resident(0x80, std::vector<uint8_t>(40, uint8_t('x')));
        patches.push_back({kLooseRunLba + 2 * r, b.Disk()});
    }
    deviceSectors = kLooseRunLba + 3 * kScanBlockSectors;
    return WriteImage("loose-records-" + std::to_string(records) + ".img", deviceSectors, patches);
}

// Partitions the view shows already when the scan begins (see the reset below).
uint32_t gShownBeforeScan = 0;
void ResetWithShownPartitions(ScanSession& s) {
    ResetForLiveScan(s);
    for (uint32_t i = 0; i < gShownBeforeScan; ++i) {
        PartInfo p;
        p.fsKind = kFsFat32;
        p.startLba = 1000 + i;
        AddRootAndLostNodes(p);
        LinkChildren(p);
        if (!AddPartition(*s.results, p, nullptr, false)) FreeTable(p);
    }
}

// A run of loose FILE records far out on a disk whose boot sector is gone is
// rebuilt as soon as the block after it is processed.
TEST(LiveView, LooseFileRecordRunBecomesAPartitionWhileScanning) {
    uint64_t deviceSectors = 0;
    const std::string path = LooseRecordImage(64, deviceSectors);
    RecordingUi ui;
    LiveScan scan(ImageRecord(path, kLooseRunLba, 2 * kScanBlockSectors, deviceSectors), 2);
    scan.Run();
    ASSERT_EQ(scan.state.load(), kScanFinished);

    ASSERT_EQ(scan.log.added.size(), 1u);
    const auto& e = scan.log.added[0];
    EXPECT_EQ(e.fsKind, kFsNtfs);
    // With no geometry to go by, the rebuild assumes a record area 3 GiB in.
    EXPECT_EQ(e.start, kLooseRunLba - 0x600000);
    EXPECT_EQ(e.blocksDone, 1u) << "shown once the empty block after the run was done";
    EXPECT_GE(scan.rs.partitions[e.slot].nodeCount, 64u);
}

// The more partitions are shown, the larger a run must be to be rebuilt
// while the scan runs; beyond 49 none is.
TEST(LiveView, RecordRunsMustBeLargerTheMorePartitionsAreShown) {
    struct Case {
        uint32_t records, shown;
        bool rebuilt;
    };
    const Case cases[] = {
        {64, 10, true},   {64, 11, false},   {1100, 11, true},
        {1100, 20, true}, {1100, 21, false}, {1100, 50, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.records << " records, " << c.shown << " shown");
        uint64_t deviceSectors = 0;
        const std::string path = LooseRecordImage(c.records, deviceSectors);
        RecordingUi ui;
        gShownBeforeScan = c.shown;
        LiveScan scan(ImageRecord(path, kLooseRunLba, 2 * kScanBlockSectors, deviceSectors), 2);
        scan.s.hooks.resetForScan = &ResetWithShownPartitions;
        scan.Run();
        gShownBeforeScan = 0;
        ASSERT_EQ(scan.state.load(), kScanFinished);
        EXPECT_EQ(scan.rs.partitionCount, kFirstReadSlot + c.shown + (c.rebuilt ? 1 : 0));
        EXPECT_EQ(scan.log.added.size(), c.rebuilt ? 1u : 0u);
    }
}

TEST(LiveView, FileRecordRunsAreTakenWholeOnceTheirFarEndIsSettled) {
    auto records = [](uint64_t blockLba, uint32_t n) {
        std::vector<FoundItem> items;
        static uint8_t payload;  // any non-null summary pointer will do here
        for (uint32_t i = 0; i < n; ++i) {
            FoundItem it;
            it.type = kCodeFileRecord;
            it.lba = blockLba + 2 * i;
            it.data = &payload;
            items.push_back(it);
        }
        FoundItem other;
        other.type = kCodeIndexBlock;
        other.lba = blockLba + 100;
        items.push_back(other);
        return items;
    };
    const uint64_t B = kScanBlockSectors;
    FileRecordGroups groups;
    groups.Insert(5 * B, records(5 * B, 3));
    groups.Insert(3 * B, records(3 * B, 2));
    groups.Insert(4 * B, records(4 * B, 1));
    groups.Insert(8 * B, records(8 * B, 4));
    groups.Insert(0, records(0, 1));
    groups.Insert(9 * B, {});  // no records: no group
    ASSERT_EQ(groups.Count(), 5u);

    std::vector<uint64_t> asked;
    bool answer = false;
    auto settled = [&](uint64_t b) {
        asked.push_back(b);
        return answer;
    };
    // Run 3..5 ends below block 6; its far side (block 2) is not settled yet.
    EXPECT_TRUE(groups.TakeRunBefore(6 * B, settled).empty());
    EXPECT_EQ(asked, std::vector<uint64_t>{2 * B});
    answer = true;
    const auto run = groups.TakeRunBefore(6 * B, settled);
    ASSERT_EQ(run.size(), 3u);
    EXPECT_EQ(run[0].blockLba, 3 * B);
    EXPECT_EQ(run[2].blockLba, 5 * B);
    EXPECT_EQ(run[0].items.size(), 2u) << "only the FILE records";
    // Taken runs leave the list: the same run is never rebuilt twice.
    EXPECT_TRUE(groups.TakeRunBefore(6 * B, settled).empty());
    // Run 8 starts above block 7 and is bounded by block 9.
    asked.clear();
    EXPECT_EQ(groups.TakeRunAfter(7 * B, settled).size(), 1u);
    EXPECT_EQ(asked, std::vector<uint64_t>{9 * B});
    // Nothing lies below block 0: its run needs no question.
    asked.clear();
    answer = false;
    EXPECT_EQ(groups.TakeRunBefore(B, settled).size(), 1u);
    EXPECT_TRUE(asked.empty());
    EXPECT_EQ(groups.Count(), 0u);
}

TEST(LiveView, ShownFileIndexFindsStartsAddedInAnyOrder) {
    ShownFileIndex index;
    index.Reset(4);
    const uint64_t starts[] = {0x4005, 0x4001, 20, 0x4003, 0x4001, 3 * 0x4000 + 7};
    for (uint64_t s : starts) index.Add(s);
    for (int i = 0; i < 40; ++i) index.Add(0x8000 + uint64_t(40 - i) * 3);  // grows past 8
    index.Add(4 * 0x4000);  // beyond the device: dropped
    for (uint64_t s : starts) EXPECT_TRUE(index.Contains(s)) << s;
    EXPECT_TRUE(index.Contains(0x8000 + 3));
    EXPECT_TRUE(index.Contains(0x8000 + 120));
    EXPECT_FALSE(index.Contains(0x8000 + 4));
    EXPECT_FALSE(index.Contains(0x4002));
    EXPECT_FALSE(index.Contains(4 * 0x4000));
    EXPECT_FALSE(index.Contains(UINT64_MAX));
    index.Reset(4);
    EXPECT_FALSE(index.Contains(20));
}

}  // namespace
}  // namespace kestrel
