// Partitions from boot records (and their backups), extended partition
// tables and runs of NTFS file records, on the sectors of the scan fixture.
#include "scan/partition_discovery.h"

#include <gtest/gtest.h>

#include <cstring>

#include "fs/ntfs_record_summary.h"
#include "scan/scan_catalogue.h"
#include "tests/scan/scan_test_util.h"

namespace kestrel {
namespace {

using namespace kestrel::test;

class PartitionDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        disk_ = ReadWholeFile(ScanDiskPath());
        ASSERT_GE(disk_.size(), kDiskSectors * 512);
        device_ = ImageRecord(ScanDiskPath(), 0, 0, kDiskSectors);
        ASSERT_TRUE(OpenSourceFromPart(device_, *src_));
    }
    void TearDown() override {
        for (FoundItem& it : items_) FreeItemPayload(it);
    }
    const uint8_t* Sector(uint64_t lba) const { return disk_.data() + lba * 512; }
    // An item of `type` at `lba` whose sector copy is the disk's sector `from`.
    FoundItem& SectorItem(uint8_t type, uint64_t lba, uint64_t from) {
        FoundItem it;
        it.type = type;
        it.lba = lba;
        it.data = CopySectorPayload(Sector(from));
        items_.push_back(it);
        return items_.back();
    }
    FoundItem& RecordItem(uint64_t lba) {
        FoundItem it;
        it.type = kCodeFileRecord;
        it.lba = lba;
        std::optional<FileRecordSummary> s = BuildFileRecordSummary(ByteView(Sector(lba), 1024));
        EXPECT_TRUE(s.has_value()) << lba;
        if (s) it.data = new FileRecordSummary(*s);
        items_.push_back(it);
        return items_.back();
    }

    std::vector<uint8_t> disk_;
    PartInfo device_;
    ScopedSource src_;
    std::vector<FoundItem> items_;
};

TEST_F(PartitionDiscovery, BootRecordsAndTheirBackupsGiveTheVolumeStart) {
    const uint64_t ntfsBackup = kNtfsStart + ByteView(Sector(kNtfsStart), 512).U64(0x28);
    struct Case {
        const char* what;
        uint8_t type;
        uint64_t lba;
        uint64_t sectorFrom;
        bool found;
        uint64_t start;
        uint32_t kind;
    };
    const Case cases[] = {
        {"NTFS", kCodeNtfsBoot, kNtfsStart, kNtfsStart, true, kNtfsStart, kFsNtfs},
        {"NTFS backup", kCodeNtfsBoot, ntfsBackup, ntfsBackup, true, kNtfsStart, kFsNtfs},
        {"FAT32", kCodeFat32Boot, kFat32Start, kFat32Start, true, kFat32Start, kFsFat32},
        {"FAT32 backup", kCodeFat32Boot, kFat32Start + 6, kFat32Start + 6, true, kFat32Start,
         kFsFat32},
        {"FAT16", kCodeFat16Boot, kFat16Start, kFat16Start, true, kFat16Start, kFsFat16},
        {"exFAT", kCodeExfatBoot, kExfatStart, kExfatStart, true, kExfatStart, kFsExfat},
        {"exFAT backup", kCodeExfatBoot, kExfatStart + 12, kExfatStart + 12, true, kExfatStart,
         kFsExfat},
        {"NTFS copy elsewhere", kCodeNtfsBoot, 40000, kNtfsStart, false, 0, 0},
        {"FAT32 copy elsewhere", kCodeFat32Boot, 40000, kFat32Start, false, 0, 0},
        {"exFAT copy elsewhere", kCodeExfatBoot, 40000, kExfatStart, false, 0, 0},
    };
    for (const Case& c : cases) {
        PartInfo part;
        const FoundItem& it = SectorItem(c.type, c.lba, c.sectorFrom);
        ASSERT_EQ(PartFromBootRecordItem(it, *src_, device_, part), c.found) << c.what;
        if (!c.found) continue;
        EXPECT_EQ(part.startLba, c.start) << c.what;
        EXPECT_EQ(part.fsKind, c.kind) << c.what;
        EXPECT_EQ(part.devicePath, device_.devicePath) << c.what;
    }
}

TEST_F(PartitionDiscovery, VolumeOfAnExtendedTableAndItsBootRecordIsListedOnce) {
    std::vector<FoundItem> items = {SectorItem(kCodeEbr, kExtStart, kExtStart),
                                    SectorItem(kCodeFat16Boot, kFat16Start, kFat16Start),
                                    SectorItem(kCodeMbr, 0, 0)};
    std::vector<PartInfo> list;
    AddPartitionsFromTablesAndBootRecords(items, *src_, device_, list);
    ASSERT_EQ(list.size(), 1u) << "the MBR gives nothing, the boot record repeats the EBR";
    EXPECT_EQ(list[0].startLba, kFat16Start);
    EXPECT_EQ(list[0].fsKind, kFsFat16);
    EXPECT_EQ(list[0].label, u"SCANFAT16");

    // An entry pointing at a sector that is no boot record gives nothing.
    FoundItem bad;
    bad.type = kCodeEbr;
    bad.lba = kExtStart;
    uint8_t sector[512];
    std::memcpy(sector, Sector(kExtStart), 512);
    sector[0x1BE + 8] = 1;  // start one sector into the logical drive
    sector[0x1BE + 9] = sector[0x1BE + 10] = sector[0x1BE + 11] = 0;
    bad.data = CopySectorPayload(sector);
    items_.push_back(bad);
    std::vector<PartInfo> none;
    AddPartitionsFromTablesAndBootRecords({bad}, *src_, device_, none);
    EXPECT_TRUE(none.empty());
}

TEST_F(PartitionDiscovery, RunsOfTheRecordAreaAndOfItsMirrorGiveTheNtfsStart) {
    const ByteView boot(Sector(kNtfsStart), 512);
    const uint64_t spc = boot.U8(13);
    const uint64_t area = kNtfsStart + boot.U64(0x30) * spc;
    const uint64_t mirror = kNtfsStart + boot.U64(0x38) * spc;

    std::vector<FoundItem> areaRun, mirrorRun, shortRun;
    for (uint64_t r = 0; r < 12; ++r) areaRun.push_back(RecordItem(area + 2 * r));
    for (uint64_t r = 0; r < 4; ++r) mirrorRun.push_back(RecordItem(mirror + 2 * r));
    for (uint64_t r = 0; r < 3; ++r) shortRun.push_back(RecordItem(area + 2 * r));

    for (const auto* run : {&areaRun, &mirrorRun}) {
        std::vector<PartInfo> list;
        AddNtfsPartitionsFromRecordRuns(*run, *src_, device_, list);
        ASSERT_EQ(list.size(), 1u) << run->size();
        EXPECT_EQ(list[0].startLba, kNtfsStart);
        EXPECT_EQ(list[0].fsKind, kFsNtfs);
        EXPECT_EQ(list[0].sizeSectors, kUnknownSizeSectors);
        EXPECT_EQ(list[0].bootSector[13], spc);
        EXPECT_EQ(list[0].label, u"SCANNTFS");
        // A start already listed is not added again.
        AddNtfsPartitionsFromRecordRuns(*run, *src_, device_, list);
        EXPECT_EQ(list.size(), 1u);
    }
    std::vector<PartInfo> list;
    AddNtfsPartitionsFromRecordRuns(shortRun, *src_, device_, list);
    EXPECT_TRUE(list.empty()) << "3 records are no run";
    // Records of the area that do not begin with "$M" give nothing.
    std::vector<FoundItem> later(areaRun.begin() + 1, areaRun.end());
    AddNtfsPartitionsFromRecordRuns(later, *src_, device_, list);
    EXPECT_TRUE(list.empty());
}

}  // namespace
}  // namespace kestrel
