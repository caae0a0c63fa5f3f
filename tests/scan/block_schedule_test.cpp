// The read order: priority range, sweep, SmartScan samples and pointers,
// the free-space-only queue, and that no block is handed out twice.
#include "scan/block_schedule.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "fs/ntfs_record_summary.h"
#include "scan/free_space.h"
#include "scan/scan_catalogue.h"
#include "tests/scan/scan_test_util.h"

namespace kestrel {
namespace {

constexpr uint64_t B = kScanBlockSectors;

PartInfo Record(uint64_t start, uint64_t size, uint64_t device, uint32_t removable = 0) {
    PartInfo p;
    p.startLba = start;
    p.sizeSectors = size;
    p.deviceSectors = device;
    p.isRemovable = removable;
    return p;
}

// Every block the schedule hands out, in order.
std::vector<uint64_t> Drain(ScanSchedule& s) {
    std::vector<uint64_t> out;
    uint64_t lba = 0;
    while (NextBlock(s, lba) && out.size() < 100000) out.push_back(lba / B);
    return out;
}

void Prepare(ScanSchedule& s, const PartInfo& p, ScanOptions o = {}, int32_t mode = 2,
             const BlockAllocatedQuery& q = {}) {
    s.map.Allocate(DeviceBlockCount(p));
    SetUpReadOrder(s, p, o, mode, q);
}

TEST(BlockSchedule, PriorityRangeFirstThenTheSweepSkipsWhatWasRead) {
    ScanSchedule s;
    ScanOptions o;
    o.priorityStart = 5 * B + 100;
    o.prioritySize = 3 * B;
    Prepare(s, Record(0, 12 * B, 12 * B), o);
    EXPECT_EQ(Drain(s), (std::vector<uint64_t>{5, 6, 7, 8, 0, 1, 2, 3, 4, 9, 10, 11}));
}

TEST(BlockSchedule, PriorityBlocksOutsideTheRecordAreSkipped) {
    ScanSchedule s;
    ScanOptions o;
    o.priorityStart = 8 * B;
    o.prioritySize = 5 * B;
    Prepare(s, Record(2 * B + 7, 8 * B - 7, 20 * B), o);
    EXPECT_EQ(Drain(s), (std::vector<uint64_t>{8, 9, 2, 3, 4, 5, 6, 7}));
}

TEST(BlockSchedule, RangeCoversTheBlocksHoldingTheRecordsSectors) {
    struct Case {
        uint64_t start, size, device;
        std::vector<uint64_t> blocks;
    } cases[] = {
        {0, 3 * B, 3 * B, {0, 1, 2}},      // end on a block boundary: no block past it
        {B / 2, 2 * B, 4 * B, {0, 1, 2}},  // starts and ends inside blocks
        {B - 1, 2, 4 * B, {0, 1}},
        {3 * B, 0, 4 * B, {}},                   // empty record
        {2 * B, 5 * B, 3 * B, {2, 3, 4, 5, 6}},  // record past the device size: map grows
    };
    for (const Case& c : cases) {
        ScanSchedule s;
        Prepare(s, Record(c.start, c.size, c.device));
        EXPECT_EQ(Drain(s), c.blocks) << c.start << "+" << c.size;
    }
}

TEST(BlockSchedule, SmartScanOnlyForLargeWholeDisks) {
    const uint64_t gib = 0x200000;
    EXPECT_TRUE(ComputeSmartScan(Record(0, 80 * gib, 80 * gib, 0)));
    EXPECT_FALSE(ComputeSmartScan(Record(0, 80 * gib, 80 * gib, 1)));
    EXPECT_TRUE(ComputeSmartScan(Record(0, 401 * gib, 401 * gib, 1)));
    EXPECT_FALSE(ComputeSmartScan(Record(0, 75 * gib, 75 * gib, 0)));
    EXPECT_FALSE(ComputeSmartScan(Record(2048, 80 * gib, 80 * gib + 2048, 0)));
    EXPECT_FALSE(ComputeSmartScan(Record(0, 80 * gib, 81 * gib, 0)));
}

TEST(BlockSchedule, SmartScanSamplesEveryGiBThenFollowsPointersOnce) {
    const uint64_t gib = 0x200000, perGib = gib / B;
    ScanSchedule s;
    Prepare(s, Record(0, 80 * gib, 80 * gib));
    ASSERT_TRUE(s.smartScan);
    uint64_t lba = 0;
    for (uint64_t g = 0; g < 80; ++g) {
        ASSERT_TRUE(NextBlock(s, lba));
        EXPECT_EQ(lba, g * gib);
    }
    // An NTFS boot sector in block 3 of the sweep points at its backup and at
    // the block before it.
    FoundItem boot;
    boot.type = kCodeNtfsBoot;
    boot.lba = 3 * B + 63;
    uint8_t sector[512] = {};
    StoreU64(sector + 0x28, 10 * B);
    boot.data = CopySectorPayload(sector);
    FollowPointers(s, &boot, 1, nullptr);
    FreeItemPayload(boot);
    std::set<uint64_t> first;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(NextBlock(s, lba));
        first.insert(lba / B);
    }
    EXPECT_EQ(first, (std::set<uint64_t>{2, 13, 14}));
    // The sweep goes on and never returns a block twice.
    std::vector<uint64_t> rest = Drain(s);
    std::set<uint64_t> all(rest.begin(), rest.end());
    EXPECT_EQ(all.size(), rest.size());
    EXPECT_EQ(rest.size(), 80 * perGib - 80 - 3);
    EXPECT_EQ(all.count(13), 0u);
    EXPECT_EQ(all.count(0), 0u);
}

TEST(BlockSchedule, PrioritisingIsIgnoredOutsideTheRangeOrWithoutSmartScan) {
    ScanSchedule plain;
    Prepare(plain, Record(0, 4 * B, 4 * B));
    PrioritiseBlock(plain, 3 * B);
    EXPECT_EQ(Drain(plain), (std::vector<uint64_t>{0, 1, 2, 3}));

    const uint64_t disk = 0x9600000 + 8 * B;  // just over 75 GiB
    ScanSchedule smart;
    Prepare(smart, Record(0, disk, disk));
    ASSERT_TRUE(smart.smartScan);
    const size_t queued = smart.queue.size();
    PrioritiseBlock(smart, disk + B);  // past the end
    EXPECT_EQ(smart.queue.size(), queued);
    PrioritiseBlock(smart, 7 * B + 5);
    uint64_t lba = 0;
    ASSERT_TRUE(NextBlock(smart, lba));
    EXPECT_EQ(lba, 7 * B);
}

TEST(BlockSchedule, FileRecordRunsPointAtTheStartOfTheirArea) {
    const uint64_t disk = 0x9600000 + 64 * B;
    ScanSchedule s;
    Prepare(s, Record(0, disk, disk));
    s.queue.clear();
    // Records 100..104 at consecutive 2-sector steps in block 40: the area
    // begins 200 sectors before the first one, in block 39.
    std::vector<FoundItem> items;
    for (uint32_t n = 0; n < 5; ++n) {
        FoundItem it;
        it.type = kCodeFileRecord;
        it.lba = 40 * B + 100 + 2 * n;
        auto* sum = new FileRecordSummary;
        sum->recordNumber = 100 + n;
        sum->name = u"file";
        it.data = sum;
        items.push_back(it);
    }
    FollowPointers(s, items.data(), items.size(), nullptr);
    uint64_t lba = 0;
    ASSERT_TRUE(NextBlock(s, lba));
    EXPECT_EQ(lba, 39 * B);
    // Three records are not a run worth following.
    ScanSchedule t;
    Prepare(t, Record(0, disk, disk));
    t.queue.clear();
    FollowPointers(t, items.data(), 3, nullptr);
    EXPECT_TRUE(t.queue.empty());
    for (FoundItem& it : items) FreeItemPayload(it);
}

TEST(BlockSchedule, FreeSpaceOnlyQueuesBlocksWithAFreeCluster) {
    // The FAT32 volume of the scan fixture: 512-byte clusters, cluster 2 at
    // the data-area start. A FAT marking every cluster used leaves only the
    // blocks that reach the ends of the data area; one free cluster brings
    // its block back.
    const std::vector<uint8_t> disk = test::ReadWholeFile(test::ScanDiskPath());
    ASSERT_GE(disk.size(), test::kDiskSectors * 512);
    PartInfo p = Record(test::kFat32Start, test::kFat32Size, test::kDiskSectors);
    p.fsKind = kFsFat32;
    std::memcpy(p.bootSector, disk.data() + test::kFat32Start * 512, 512);
    const ByteView boot(p.bootSector, 512);
    const uint64_t dataStart =
        test::kFat32Start + boot.U16(14) + uint64_t(boot.U8(16)) * boot.U32(36);
    std::vector<uint8_t> fat(size_t(boot.U32(36)) * 512, 0xFF);
    p.fsTable = fat.data();
    p.fsTableBytes = uint32_t(fat.size());

    auto queued = [&]() {
        ScanSchedule s;
        Prepare(s, p, {}, 1, MakeAllocationQuery(p));
        EXPECT_EQ(s.mode1Total, s.queue.size());
        return Drain(s);
    };
    EXPECT_EQ(queued(), (std::vector<uint64_t>{0, 4}));
    const uint64_t cluster = (2 * B - dataStart) + 2;  // first cluster of block 2
    std::memset(fat.data() + cluster * 4, 0, 4);
    EXPECT_EQ(queued(), (std::vector<uint64_t>{0, 2, 4}));
    std::memset(fat.data() + (cluster - 1) * 4, 0, 4);  // last cluster of block 1
    EXPECT_EQ(queued(), (std::vector<uint64_t>{0, 1, 2, 4}));

    // Without allocation data every block is read; with all in use, none.
    ScanSchedule all;
    Prepare(all, p, {}, 1, {});
    EXPECT_EQ(Drain(all).size(), 5u);
    ScanSchedule none;
    Prepare(none, p, {}, 1, [](uint64_t, uint64_t) { return true; });
    EXPECT_EQ(none.mode1Total, 0u);
    EXPECT_TRUE(Drain(none).empty());
}

TEST(BlockSchedule, NtfsFreeSpaceComesFromTheClusterBitmap) {
    const std::vector<uint8_t> disk = test::ReadWholeFile(test::ScanDiskPath());
    ASSERT_GE(disk.size(), test::kDiskSectors * 512);
    PartInfo p = test::ImageRecord(test::ScanDiskPath(), test::kNtfsStart, test::kNtfsSize,
                                   test::kDiskSectors);
    p.fsKind = kFsNtfs;
    std::memcpy(p.bootSector, disk.data() + test::kNtfsStart * 512, 512);
    const ByteView boot(p.bootSector, 512);
    const uint64_t mft = test::kNtfsStart + boot.U64(0x30) * boot.U8(13);

    // $Bitmap read from the volume: the boot sector and the MFT are in use,
    // the space after the last file is free.
    const BlockAllocatedQuery q = MakeAllocationQuery(p);
    ASSERT_TRUE(q);
    EXPECT_TRUE(q(test::kNtfsStart, test::kNtfsStart + 15));
    EXPECT_TRUE(q(mft, mft + 31));
    // 4 KiB clusters; the fixture's files and the log file end before cluster 2048.
    EXPECT_FALSE(q(test::kNtfsStart + 8 * 2100, test::kNtfsStart + 8 * 2200));

    // A bitmap with every cluster in use leaves only the block that runs past
    // the volume's end.
    std::vector<uint8_t> full(test::kNtfsSize / boot.U8(13) / 8, 0xFF);
    p.allocMap = full.data();
    p.allocMapBytes = uint32_t(full.size());
    ScanSchedule s;
    Prepare(s, p, {}, 1, MakeAllocationQuery(p));
    EXPECT_EQ(s.mode1Total, 1u);
    EXPECT_EQ(Drain(s), (std::vector<uint64_t>{5}));
}

TEST(BlockSchedule, ExfatFreeSpaceComesFromTheAllocationBitmap) {
    // The exFAT volume of the scan fixture fills exactly one block; its
    // cluster heap starts inside that block.
    const std::vector<uint8_t> disk = test::ReadWholeFile(test::ScanDiskPath());
    ASSERT_GE(disk.size(), test::kDiskSectors * 512);
    PartInfo p = Record(test::kExfatStart, test::kExfatSize, test::kDiskSectors);
    p.fsKind = kFsExfat;
    std::memcpy(p.bootSector, disk.data() + test::kExfatStart * 512, 512);
    const ByteView boot(p.bootSector, 512);
    const uint64_t heap = test::kExfatStart + boot.U32(88);
    const uint64_t spc = uint64_t(1) << boot.U8(109);
    const uint32_t clusters = boot.U32(92);

    EXPECT_FALSE(MakeAllocationQuery(p)) << "no bitmap: every block is read";
    std::vector<uint8_t> bitmap((clusters + 7) / 8, 0xFF);
    p.allocMap = bitmap.data();
    p.allocMapBytes = uint32_t(bitmap.size());
    const BlockAllocatedQuery q = MakeAllocationQuery(p);
    ASSERT_TRUE(q);
    EXPECT_TRUE(q(heap, heap + 4 * spc - 1));
    EXPECT_FALSE(q(heap - 1, heap + spc)) << "sectors before the heap are not clusters";
    bitmap[0] = 0xFD;  // cluster 3 (the second of the heap) free
    EXPECT_TRUE(q(heap, heap + spc - 1));
    EXPECT_FALSE(q(heap, heap + 2 * spc - 1));
}

}  // namespace
}  // namespace kestrel
