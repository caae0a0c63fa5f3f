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

TEST_F(PartitionDiscovery, DamagedBootSectorCopiesGiveNoPartition) {
    struct Corruption {
        const char* what;
        uint8_t type;
        uint64_t lba;
        size_t offset;
        std::vector<uint8_t> bytes;
    };
    const std::vector<uint8_t> ones(8, 0xFF);
    const Corruption cases[] = {
        {"NTFS record area beyond any device", kCodeNtfsBoot, kNtfsStart, 0x30, ones},
        {"NTFS no cluster size", kCodeNtfsBoot, kNtfsStart, 13, {0}},
        {"NTFS total sectors past the start", kCodeNtfsBoot, kNtfsStart + 5, 0x28, ones},
        {"FAT32 FATs far away", kCodeFat32Boot, kFat32Start, 14, {0xFF, 0xFF}},
        {"FAT32 backup, FATs far away", kCodeFat32Boot, kFat32Start + 6, 14, {0xFF, 0xFF}},
        {"FAT16 one FAT, wrong", kCodeFat16Boot, kFat16Start, 14, {0x40, 0}},
        {"exFAT cluster shift 255", kCodeExfatBoot, kExfatStart, 109, {0xFF}},
        {"exFAT root cluster 0", kCodeExfatBoot, kExfatStart, 96, {0, 0, 0, 0}},
        {"exFAT heap beyond the disk", kCodeExfatBoot, kExfatStart, 88, {0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const Corruption& c : cases) {
        FoundItem& it = SectorItem(c.type, c.lba, c.type == kCodeNtfsBoot ? kNtfsStart : c.lba);
        std::memcpy(static_cast<uint8_t*>(it.data) + c.offset, c.bytes.data(), c.bytes.size());
        PartInfo part;
        EXPECT_FALSE(PartFromBootRecordItem(it, *src_, device_, part)) << c.what;
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

    // An entry whose type byte names no file system leaves the start to the
    // volume's boot record.
    {
        uint8_t sector[512];
        std::memcpy(sector, Sector(kExtStart), 512);
        sector[0x1BE + 4] = 0x12;
        std::vector<FoundItem> odd = {SectorItem(kCodeEbr, kExtStart, kExtStart),
                                      SectorItem(kCodeFat16Boot, kFat16Start, kFat16Start)};
        std::memcpy(odd[0].data, sector, 512);
        std::vector<PartInfo> fromBoot;
        AddPartitionsFromTablesAndBootRecords(odd, *src_, device_, fromBoot);
        ASSERT_EQ(fromBoot.size(), 1u);
        EXPECT_EQ(fromBoot[0].fsKind, kFsFat16);
    }

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

// A run of six synthetic records at LBA 1000: "$MFT" with its data at
// areaRun, then "$MFTMirr" of mirrorSize bytes at mirrorRun, then four more.
std::vector<PartInfo> FromSyntheticRun(const PartInfo& device, SectorSource& src,
                                       std::vector<uint8_t> areaRun, uint64_t mirrorSize,
                                       std::vector<uint8_t> mirrorRun) {
    std::vector<FoundItem> items;
    for (uint32_t r = 0; r < 6; ++r) {
        auto* summary = new FileRecordSummary;
        summary->recordNumber = r;
        summary->name = r == 0 ? u"$MFT" : r == 1 ? u"$MFTMirr" : u"$Other";
        if (r == 0) summary->runList = areaRun;
        if (r == 1) {
            summary->runList = mirrorRun;
            summary->size = mirrorSize;
        }
        FoundItem it;
        it.type = kCodeFileRecord;
        it.lba = 1000 + 2 * r;
        it.data = summary;
        items.push_back(it);
    }
    std::vector<PartInfo> list;
    AddNtfsPartitionsFromRecordRuns(items, src, device, list);
    for (FoundItem& it : items) FreeItemPayload(it);
    return list;
}

TEST_F(PartitionDiscovery, RecordRunsWithImpossibleGeometryGiveNoPartition) {
    // One cluster of 4 KiB for the mirror: 8 sectors per cluster; the area
    // at cluster 50 puts the volume at 1000 - 400.
    const std::vector<uint8_t> area50 = {0x11, 0x10, 50, 0};
    const std::vector<uint8_t> mirror1 = {0x11, 0x01, 100, 0};
    std::vector<PartInfo> good = FromSyntheticRun(device_, *src_, area50, 4096, mirror1);
    ASSERT_EQ(good.size(), 1u);
    EXPECT_EQ(good[0].startLba, 600u);
    EXPECT_EQ(good[0].bootSector[13], 8u);

    struct Case {
        const char* what;
        std::vector<uint8_t> areaRun;
        uint64_t mirrorSize;
        std::vector<uint8_t> mirrorRun;
    };
    const Case cases[] = {
        {"cluster size from a huge mirror", area50, uint64_t(1) << 40, mirror1},
        {"mirror of 0 clusters", area50, 4096, {0x11, 0x00, 100, 0}},
        {"mirror without runs", area50, 4096, {}},
        {"area before the disk start", {0x11, 0x10, 0xF0, 0}, 4096, mirror1},
        {"area further in than the run lies", {0x31, 0x10, 0, 0, 1, 0}, 4096, mirror1},
        {"area without runs", {}, 4096, mirror1},
    };
    for (const Case& c : cases)
        EXPECT_TRUE(FromSyntheticRun(device_, *src_, c.areaRun, c.mirrorSize, c.mirrorRun).empty())
            << c.what;
}

}  // namespace
}  // namespace kestrel
