// The post-scan reassembly end to end on the scan fixture disk, and the
// passes over the found-files list on small synthetic lists.
#include "scan/reassembly.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <string>

#include "app/observer.h"
#include "app/run_state.h"
#include "carving/signature_find.h"
#include "carving/type_catalogue.h"
#include "fs/file_node.h"
#include "fs/partition_tree.h"
#include "fs/result_set.h"
#include "scan/found_files_partition.h"
#include "scan/post_scan_steps.h"
#include "tests/scan/scan_test_util.h"

namespace kestrel {
namespace {

using namespace kestrel::test;

struct CountingObserver : IObserver {
    std::vector<std::pair<uint32_t, uint64_t>> seen;
    void OnMessage(uint32_t code, uint64_t wParam, int64_t) override {
        seen.emplace_back(code, wParam);
    }
};

// The node at a path of names below the root, or null.
const FileNode* AtPath(const PartInfo& part, const std::vector<std::u16string>& path) {
    const FileNode* n = GetNode(part, kRootNodeId);
    for (const std::u16string& name : path) {
        const FileNode* next = nullptr;
        for (uint32_t k = 0; n && k < n->childCount && !next; ++k) {
            const FileNode* c = GetNode(part, n->childIds[k]);
            if (c && name == c->name) next = c;
        }
        n = next;
    }
    return n;
}

// Slots from 4 on by start LBA.
std::map<uint64_t, const PartInfo*> ReadSlots(const ResultSet& rs) {
    std::map<uint64_t, const PartInfo*> out;
    for (uint32_t i = kFirstReadSlot; i < rs.partitionCount; ++i)
        out.emplace(rs.partitions[i].startLba, &rs.partitions[i]);
    return out;
}

void Overwrite(const std::string& path, uint64_t lba, size_t bytes) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    const std::string zeros(bytes, '\0');
    f.seekp(std::streamoff(lba * 512));
    f.write(zeros.data(), std::streamsize(zeros.size()));
}

class Reassembly : public ::testing::Test {
protected:
    void Scan(const PartInfo& scanned, int32_t mode, bool removeDuplicates = true) {
        kestrel::Run().RecoverMode = mode;
        kestrel::Run().CurPartInfo = scanned;
        s_.scanned = scanned;
        s_.recoverMode = mode;
        s_.options = ScanOptions{};
        s_.options.scanStart = scanned.startLba;
        s_.options.scanSize = scanned.sizeSectors;
        s_.options.analyseFat = s_.options.analyseNtfs = s_.options.analyseExfat = 1;
        s_.options.removeDuplicates = removeDuplicates;
        s_.pollMs = 2;
        s_.pauseMs = 5;
        s_.results = &rs_;
        AddObserver(rs_, &observer_);
        InstallReassemblyHooks(s_);
        ScanState state{kScanRunning};
        RunDeepScan(s_, state);
        EXPECT_EQ(state.load(), kScanFinished);
    }
    void ScanDisk(const std::string& path, bool removeDuplicates = true) {
        Scan(ImageRecord(path, 0, kDiskSectors, kDiskSectors), 3, removeDuplicates);
    }
    const PartInfo& Found() const { return rs_.partitions[kFoundFilesSlot]; }

    RecordingUi ui_;
    ResultSet rs_;
    ScanSession s_;
    CountingObserver observer_;
};

TEST_F(Reassembly, WholeDiskScanRebuildsEveryVolumeWithItsFiles) {
    ScanDisk(ScanDiskPath());
    ASSERT_GE(rs_.partitionCount, kFoundFilesSlot + 1);
    EXPECT_EQ(Found().fsKind, kFsFoundFiles);
    EXPECT_EQ(Found().label, u"找到的文件");
    const auto slots = ReadSlots(rs_);
    for (const auto& [start, p] : slots)
        std::printf("  partition start %llu kind %u label %s nodes %u listed %u\n",
                    (unsigned long long)start, p->fsKind, Utf8FromWide(p->label).c_str(),
                    p->nodeCount, p->listedTotal);
    const std::map<uint64_t, uint32_t> expected = {{kFat32Start, kFsFat32},
                                                   {kNtfsStart, kFsNtfs},
                                                   {kExfatStart, kFsExfat},
                                                   {kFat16Start, kFsFat16}};
    ASSERT_EQ(slots.size(), expected.size()) << "the EBR's volume and its boot record: once";
    for (const auto& [start, kind] : expected) {
        ASSERT_TRUE(slots.count(start)) << start;
        EXPECT_EQ(slots.at(start)->fsKind, kind) << start;
    }
    EXPECT_TRUE(AtPath(*slots.at(kFat32Start), {u"photos", u"2019", u"beach.jpg"}));
    EXPECT_TRUE(AtPath(*slots.at(kFat32Start), {u"docs", u"notes.zip"}));
    EXPECT_TRUE(AtPath(*slots.at(kFat32Start), {u"readme.txt"}));
    EXPECT_TRUE(AtPath(*slots.at(kNtfsStart), {u"照片", u"snow.jpg"}));
    EXPECT_TRUE(AtPath(*slots.at(kNtfsStart), {u"docs", u"reports", u"archive.zip"}));
    EXPECT_TRUE(AtPath(*slots.at(kNtfsStart), {u"docs", u"note_040.txt"}));
    EXPECT_TRUE(AtPath(*slots.at(kExfatStart), {u"music", u"live", u"cover.jpg"}));
    EXPECT_TRUE(AtPath(*slots.at(kFat16Start), {u"backup", u"readme.txt"}));
    EXPECT_EQ(slots.at(kNtfsStart)->label, u"SCANNTFS");

    // The views hear once that the result is complete, naming the last slot.
    size_t complete = 0;
    for (const auto& [code, w] : observer_.seen)
        if (code == kMsgDeepScanComplete) {
            ++complete;
            EXPECT_EQ(w, rs_.partitionCount - 1);
        }
    EXPECT_EQ(complete, 1u);
    EXPECT_TRUE(s_.foundPartitions.empty()) << "the set owns the tables";
}

TEST_F(Reassembly, CarvedCopiesOfVolumeFilesGoOnlyWhenDuplicatesAreRemoved) {
    BuildTypeCatalogue();
    for (bool remove : {true, false}) {
        ScanDisk(ScanDiskPath(), remove);
        const auto slots = ReadSlots(rs_);
        ASSERT_EQ(slots.size(), 4u);
        const uint32_t jpeg = TypeIdFromFileName(u"x.jpg");
        const FileNode* folder = GetNode(Found(), jpeg);
        // sample.jpg lies on the FAT32, NTFS and exFAT volumes.
        if (remove) {
            EXPECT_EQ(folder, nullptr) << "every carved JPEG is a volume's file";
        } else {
            ASSERT_TRUE(folder);
            EXPECT_EQ(folder->childCount, 3u);
            const FileNode* snow = AtPath(*slots.at(kNtfsStart), {u"照片", u"snow.jpg"});
            ASSERT_TRUE(snow);
            bool carved = false;
            for (uint32_t k = 0; k < folder->childCount; ++k)
                carved = carved || CarvedFileName(snow->locationLba, jpeg) ==
                                       GetNode(Found(), folder->childIds[k])->name;
            EXPECT_TRUE(carved);
        }
    }
}

TEST_F(Reassembly, StopRequestLeavesEveryPartitionWithATree) {
    ScanDisk(ScanDiskPath());
    ScanState stopped{kScanStopRequested};
    ASSERT_TRUE(PostScanProcessing(s_, stopped));
    EXPECT_GE(s_.foundPartitions.size(), 5u) << "the volumes are found, not read";
    for (const PartInfo& p : s_.foundPartitions) {
        EXPECT_NE(GetNode(p, kRootNodeId), nullptr) << p.startLba;
        if (p.fsKind != kFsFoundFiles) {
            EXPECT_LE(p.nodeCount, kRootNodeId + 1) << p.startLba;
        }
    }
    InstallFoundPartitions(s_);
    EXPECT_TRUE(s_.foundPartitions.empty());
    EXPECT_EQ(rs_.partitions[kFoundFilesSlot].fsKind, kFsFoundFiles);
}

TEST_F(Reassembly, VolumesAreFoundWithoutTheMbrAndThroughBackupBootSectors) {
    struct Case {
        const char* name;
        uint64_t zeroLba;
    };
    for (const Case c : {Case{"no-mbr.img", 0}, Case{"no-ntfs-boot.img", kNtfsStart},
                         Case{"no-fat32-boot.img", kFat32Start}}) {
        const std::string path = FixtureCopy("scan/disk.img.gz", c.name);
        Overwrite(path, c.zeroLba, 512);
        ScanDisk(path);
        const auto slots = ReadSlots(rs_);
        for (uint64_t start : {kFat32Start, kNtfsStart, kExfatStart, kFat16Start})
            EXPECT_TRUE(slots.count(start)) << c.name << " " << start;
        EXPECT_EQ(slots.size(), 4u) << c.name;
        if (slots.count(kNtfsStart)) {
            EXPECT_TRUE(AtPath(*slots.at(kNtfsStart), {u"照片", u"snow.jpg"})) << c.name;
        }
        if (slots.count(kFat32Start)) {
            EXPECT_TRUE(AtPath(*slots.at(kFat32Start), {u"photos", u"2019", u"beach.jpg"}))
                << c.name;
        }
    }
}

TEST_F(Reassembly, FreeSpaceScanEndsWithTheVolumeTreeAndOnlyFreeSpaceFinds) {
    struct Case {
        uint64_t start, size;
        uint32_t kind;
        uint8_t type;
        std::vector<std::u16string> path;
    };
    const Case cases[] = {
        {kFat32Start, kFat32Size, kFsFat32, 0x0C, {u"photos", u"2019", u"beach.jpg"}},
        {kNtfsStart, kNtfsSize, kFsNtfs, 0x07, {u"照片", u"snow.jpg"}},
        {kExfatStart, kExfatSize, kFsExfat, 0x07, {u"music", u"live", u"cover.jpg"}},
    };
    const std::vector<uint8_t> disk = ReadWholeFile(ScanDiskPath());
    ASSERT_GE(disk.size(), kDiskSectors * 512);
    for (const Case& c : cases) {
        PartInfo part = ImageRecord(ScanDiskPath(), c.start, c.size, kDiskSectors);
        std::memcpy(part.bootSector, disk.data() + c.start * 512, 512);
        part.fsKind = c.kind;
        part.partType = c.type;
        // The reader leaves the allocation data the free-space scan works from.
        ScanState reading{kScanRunning};
        ASSERT_TRUE(ReadPartitionTree(part, reading)) << c.start;
        Scan(part, 1);
        EXPECT_EQ(rs_.mode, 2u);
        const auto slots = ReadSlots(rs_);
        ASSERT_EQ(slots.size(), 1u) << c.start;
        ASSERT_TRUE(slots.count(c.start)) << c.start;
        EXPECT_EQ(slots.at(c.start)->fsKind, c.kind);
        EXPECT_TRUE(AtPath(*slots.at(c.start), c.path)) << c.start;
        // The volume's files lie in clusters in use: nothing is carved.
        EXPECT_EQ(Found().fsKind, kFsFoundFiles);
        EXPECT_EQ(Found().listedTotal, 0u) << c.start;
        FreeTable(part);
    }
}

TEST_F(Reassembly, FreeSpaceScanListsAFileInFreeClustersAsDeleted) {
    // A copy of the sample JPEG in free clusters near the FAT32 volume's end.
    const std::string path = FixtureCopy("scan/disk.img.gz", "planted-jpeg.img");
    std::vector<uint8_t> jpeg;
    {
        // beach.jpg, the first sector of the volume that opens a JPEG.
        const std::vector<uint8_t> disk = ReadWholeFile(path);
        for (uint64_t lba = kFat32Start; lba < kFat32Start + kFat32Size && jpeg.empty(); ++lba)
            if (disk[lba * 512] == 0xFF && disk[lba * 512 + 1] == 0xD8 &&
                disk[lba * 512 + 2] == 0xFF)
                jpeg.assign(disk.begin() + lba * 512, disk.begin() + lba * 512 + 9483);
    }
    ASSERT_FALSE(jpeg.empty());
    const uint64_t at = kFat32Start + kFat32Size - 4000;
    {
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(std::streamoff(at * 512));
        f.write(reinterpret_cast<const char*>(jpeg.data()), std::streamsize(jpeg.size()));
    }
    const std::vector<uint8_t> disk = ReadWholeFile(path);
    PartInfo part = ImageRecord(path, kFat32Start, kFat32Size, kDiskSectors);
    std::memcpy(part.bootSector, disk.data() + kFat32Start * 512, 512);
    part.fsKind = kFsFat32;
    part.partType = 0x0C;
    ScanState reading{kScanRunning};
    ASSERT_TRUE(ReadPartitionTree(part, reading));
    Scan(part, 1);

    EXPECT_EQ(Found().listedTotal, 1u);
    BuildTypeCatalogue();
    const uint32_t type = TypeIdFromFileName(u"x.jpg");
    const FileNode* folder = GetNode(Found(), type);
    ASSERT_TRUE(folder);
    ASSERT_EQ(folder->childCount, 1u);
    const FileNode* carved = GetNode(Found(), folder->childIds[0]);
    ASSERT_TRUE(carved);
    EXPECT_EQ(std::u16string(carved->name), CarvedFileName(at, type));
    EXPECT_EQ(NodeKind(*carved), kDeletedFile);
    EXPECT_EQ(NodeKind(*folder), kDeletedDir);
    EXPECT_GE(carved->size, jpeg.size());
    FreeTable(part);
}

TEST_F(Reassembly, FreeSpaceScanKeepsItsVolumeWhenTheClassifierRefusesTheBootSector) {
    // Geometry fields other systems' tools write (16 heads, 32 sectors per
    // track) fail the scan's boot-sector test, in the copy and the backup.
    const std::string path = FixtureCopy("scan/disk.img.gz", "odd-geometry.img");
    for (uint64_t lba : {kFat32Start, kFat32Start + 6}) {
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        const uint8_t geometry[4] = {32, 0, 16, 0};
        f.seekp(std::streamoff(lba * 512 + 24));
        f.write(reinterpret_cast<const char*>(geometry), 4);
    }
    const std::vector<uint8_t> disk = ReadWholeFile(path);
    PartInfo part = ImageRecord(path, kFat32Start, kFat32Size, kDiskSectors);
    std::memcpy(part.bootSector, disk.data() + kFat32Start * 512, 512);
    part.fsKind = kFsFat32;
    part.partType = 0x0C;
    ScanState reading{kScanRunning};
    ASSERT_TRUE(ReadPartitionTree(part, reading));
    Scan(part, 1);
    const auto slots = ReadSlots(rs_);
    ASSERT_EQ(slots.size(), 1u);
    ASSERT_TRUE(slots.count(kFat32Start));
    EXPECT_TRUE(AtPath(*slots.at(kFat32Start), {u"photos", u"2019", u"beach.jpg"}));
    FreeTable(part);
}

TEST_F(Reassembly, DamagedStructuresEverywhereNeverBreakTheReassembly) {
    // Random bytes over the boot regions, FATs, record areas and directories
    // of every volume: whatever is found must be read without harm.
    const uint64_t regions[][2] = {
        {kFat32Start, 2200}, {kNtfsStart, 400}, {kNtfsStart + 12280, 300},
        {kExfatStart, 600},  {kExtStart, 2},    {kFat16Start, 400}};
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        const std::string path =
            FixtureCopy("scan/disk.img.gz", "noisy" + std::to_string(seed) + ".img");
        {
            std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
            uint32_t x = seed * 2654435761u;
            for (const auto& r : regions) {
                for (int k = 0; k < 400; ++k) {
                    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                    const uint64_t lba = r[0] + x % r[1];
                    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
                    const char noise[4] = {char(x), char(x >> 8), char(x >> 16), char(x >> 24)};
                    f.seekp(std::streamoff(lba * 512 + (x >> 7) % 508));
                    f.write(noise, 4);
                }
            }
        }
        ScanDisk(path);
        EXPECT_GE(rs_.partitionCount, kFoundFilesSlot + 1) << seed;
        EXPECT_EQ(Found().fsKind, kFsFoundFiles) << seed;
    }
}

FoundItem Find(uint8_t type, uint64_t lba, uint64_t length, uint8_t status = kFindComplete) {
    FoundItem it;
    it.type = type;
    it.lba = lba;
    it.status = status;
    it.SetFileLength(length);
    return it;
}

constexpr uint8_t kJpeg = 36, kPng = 37;

TEST(FoundFiles, FindsWhollyInsideALargerFindOfTheirTypeGo) {
    std::vector<FoundItem> items = {
        Find(kJpeg, 100, 100 * 512),     // 100..199
        Find(kJpeg, 120, 10 * 512),      // inside
        Find(kJpeg, 150, 49 * 512 + 1),  // ends in sector 199: inside
        Find(kJpeg, 190, 20 * 512),      // runs past the end: stays
        Find(kPng, 130, 512),            // another type: stays
        Find(kJpeg, 140, 512, 0),        // length not known: stays
    };
    MarkNestedDuplicates(items);
    const uint8_t expected[] = {4, 5, 5, 4, 4, 0};
    for (size_t i = 0; i < items.size(); ++i) EXPECT_EQ(items[i].status, expected[i]) << i;
}

TEST(FoundFiles, PartitionNamesTypeFoldersAndTidying) {
    BuildTypeCatalogue();
    PartInfo device;
    std::vector<FoundItem> items = {
        Find(kJpeg, 2048, 5000), Find(kJpeg, (uint64_t(3) << 32) | 7, 1),
        Find(kJpeg, 4096, 1, kFindRejected), Find(kCodeFatDir, 5000, 0, 0)};
    for (int32_t mode : {3, 1}) {
        PartInfo found = BuildFoundFilesPartition(items, device, mode);
        EXPECT_EQ(found.fsKind, kFsFoundFiles);
        const FileNode* folder = GetNode(found, kJpeg);
        ASSERT_TRUE(folder);
        ASSERT_EQ(folder->childCount, 2u);
        const FileNode* a = GetNode(found, folder->childIds[0]);
        const FileNode* b = GetNode(found, folder->childIds[1]);
        const std::u16string ext = TypeNameTable(kJpeg);
        EXPECT_EQ(std::u16string(a->name), u"00002048." + ext);
        EXPECT_EQ(std::u16string(b->name), u"3_00000007." + ext);
        EXPECT_EQ(a->size, 5000u);
        EXPECT_EQ(a->locationLba, 2048u);
        EXPECT_EQ(GetNode(found, kPng), nullptr) << "empty type folders are removed";
        const uint32_t jpegCategory = folder->parentId;
        for (uint32_t c = kFirstCategory; c <= kLastCategory; ++c) {
            const FileNode* cat = GetNode(found, c);
            ASSERT_TRUE(cat) << c;
            const bool live = c == jpegCategory;
            // Free-space scans show everything below the root the other way round.
            EXPECT_EQ(NodeKind(*cat), (live != (mode == 1)) ? kLiveDir : kDeletedDir) << c;
        }
        EXPECT_EQ(NodeKind(*a), mode == 1 ? kDeletedFile : kLiveFile);
        EXPECT_EQ(NodeKind(*GetNode(found, kRootNodeId)), kLiveDir);
        FreeTable(found);
    }
}

// A partition with `files` user files (and a "$" file that does not count).
PartInfo PartitionWithFiles(uint64_t start, uint32_t files, uint32_t kind) {
    PartInfo p;
    p.startLba = start;
    p.fsKind = kFsFatDirs;
    AddRootAndLostNodes(p);
    for (uint32_t i = 0; i <= files; ++i) {
        FileNode n = MakeNode();
        n.parentId = kRootNodeId;
        n.name = CopyNodeName(i == files ? u"$Secret" : u"file.txt");
        SetNodeKind(n, kind);
        AddNode(p, n, false);
    }
    LinkChildren(p);
    return p;
}

TEST(PostScanSteps, NinePartitionsDropThoseWithTwoFilesOrFewer) {
    for (size_t count : {8u, 9u}) {
        std::vector<PartInfo> list;
        for (size_t i = 0; i < count; ++i)
            list.push_back(PartitionWithFiles(i * 1000, i == 3 ? 2 : 3, kLiveFile));
        KeepBusyPartitions(list, 3);
        ASSERT_EQ(list.size(), 8u) << count;
        const bool kept = std::any_of(list.begin(), list.end(),
                                      [](const PartInfo& p) { return p.startLba == 3000; });
        EXPECT_EQ(kept, count == 8) << count;
        for (PartInfo& p : list) FreeTable(p);
    }
    // The free-space scan counts deleted files.
    std::vector<PartInfo> list;
    for (size_t i = 0; i < 9; ++i) list.push_back(PartitionWithFiles(i, 3, kLiveFile));
    KeepBusyPartitions(list, 1);
    EXPECT_TRUE(list.empty());
}

TEST(PostScanSteps, StructuresTheReadersUsedTakeNoFurtherPart) {
    UsedStructures used;
    used.recordAreas.Add(100, 200);
    used.recordAreas.Add(1000, 5000);
    used.recordAreas.Add(1011, 1021);  // inside the one before, odd start
    used.recordAreas.Sort();
    used.indexAreas.Add(500, 508);
    used.indexAreas.Sort();
    used.AddFatDirectories({900});
    struct Case {
        uint8_t type;
        uint64_t lba;
        bool used;
    };
    const Case cases[] = {
        {kCodeFileRecord, 100, true},  {kCodeFileRecord, 101, false}, {kCodeFileRecord, 198, true},
        {kCodeFileRecord, 200, false}, {kCodeFileRecord, 4000, true}, {kCodeFileRecord, 1013, true},
        {kCodeIndexBlock, 507, true},  {kCodeIndexBlock, 508, false}, {kCodeFatDir, 900, true},
        {kCodeFatRootDir, 900, true},  {kCodeFatDir, 901, false},     {kCodeExfatDir, 900, false},
        {kCodeNtfsBoot, 100, false},   {kJpeg, 100, false},
    };
    std::vector<FoundItem> items;
    for (const Case& c : cases) items.push_back(Find(c.type, c.lba, 0, 0));
    NeutraliseUsedStructures(items, used);
    for (size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(items[i].type == kCodeNothing, cases[i].used)
            << int(cases[i].type) << " at " << cases[i].lba;
}

TEST(PostScanSteps, OptionSwitchesDropStructuresAndUnselectedTypes) {
    BuildTypeCatalogue();
    const std::vector<FoundItem> all = {Find(kJpeg, 1, 0),          Find(kPng, 2, 0),
                                        Find(kCodeNtfsBoot, 3, 0),  Find(kCodeIndexBlock, 4, 0),
                                        Find(kCodeFat32Boot, 5, 0), Find(kCodeFatRootDir, 6, 0),
                                        Find(kCodeExfatDir, 7, 0),  Find(kCodeEbr, 8, 0)};
    ScanOptions o;
    o.analyseFat = o.analyseNtfs = o.analyseExfat = 1;
    std::vector<FoundItem> items = all;
    ApplyScanOptionFilter(items, o);
    EXPECT_EQ(items.size(), all.size());

    o.analyseNtfs = 0;
    o.analyseExfat = 0;
    CFileTypeCatalogue::Instance().SetTypeSelected(kPng, false);
    items = all;
    ApplyScanOptionFilter(items, o);
    CFileTypeCatalogue::Instance().SetTypeSelected(kPng, true);
    std::vector<uint64_t> kept;
    for (const FoundItem& it : items) kept.push_back(it.lba);
    EXPECT_EQ(kept, (std::vector<uint64_t>{1, 5, 6, 8}));
}

}  // namespace
}  // namespace kestrel
