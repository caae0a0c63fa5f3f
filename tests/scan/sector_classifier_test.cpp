// The structure classifier and item payloads on real structures of the scan
// fixture disk, and the cases that must not be taken for structures.
#include "scan/sector_classifier.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

#include "fs/ntfs_record_summary.h"
#include "platform/bytes.h"
#include "scan/scan_catalogue.h"
#include "tests/scan/scan_test_util.h"

namespace kestrel {
namespace {

using namespace kestrel::test;
using Sector = std::vector<uint8_t>;

const std::vector<uint8_t>& Disk() {
    static const std::vector<uint8_t> disk = ReadWholeFile(ScanDiskPath());
    return disk;
}
const uint8_t* At(uint64_t lba) { return Disk().data() + lba * 512; }
Sector SectorAt(uint64_t lba) { return Sector(At(lba), At(lba) + 512); }

// The LBAs in [first, first + count) whose sectors classify as code.
std::vector<uint64_t> Find(uint64_t first, uint64_t count, uint32_t code) {
    std::vector<uint64_t> out;
    for (uint64_t l = first; l < first + count; ++l)
        if (ClassifySector(At(l), l) == code) out.push_back(l);
    return out;
}

// MakeItem for a sector of the fixture, with its own 8 MiB block as context.
std::optional<FoundItem> ItemAt(uint64_t lba, uint32_t code) {
    ItemContext ctx;
    const uint64_t block = lba & ~uint64_t(0x3FFF);
    ctx.blockData = At(block);
    ctx.blockBytes = std::min<size_t>(0x800000, Disk().size() - block * 512);
    ctx.sectorIndex = uint32_t(lba - block);
    ctx.blockLba = block;
    return MakeItem(code, ctx);
}

class SectorClassifier : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(Disk().size(), kDiskSectors * 512); }
};

TEST_F(SectorClassifier, BootSectorsAndPartitionTablesOfTheFixture) {
    const struct {
        uint64_t lba;
        uint32_t code;
    } cases[] = {
        {0, kCodeMbr},
        {kExtStart, kCodeEbr},
        {kFat32Start, kCodeFat32Boot},
        {kFat32Start + 6, kCodeFat32Boot},
        {kNtfsStart, kCodeNtfsBoot},
        {kNtfsStart + kNtfsSize - 1, kCodeNtfsBoot},
        {kExfatStart, kCodeExfatBoot},
        {kFat16Start, kCodeFat16Boot},
        {kFat32Start + 1, kCodeNothing},  // FSInfo ends in 55 AA but is no boot sector
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ClassifySector(At(c.lba), c.lba), c.code) << c.lba;
        if (c.code == kCodeNothing) continue;
        std::optional<FoundItem> item = ItemAt(c.lba, c.code);
        ASSERT_TRUE(item);
        ASSERT_NE(item->data, nullptr);
        EXPECT_EQ(std::memcmp(item->data, At(c.lba), 512), 0);
        FreeItemPayload(*item);
    }
}

TEST_F(SectorClassifier, NtfsFileRecordsAndIndexBlocks) {
    const ByteView boot(At(kNtfsStart), 512);
    const uint64_t mft = kNtfsStart + boot.U64(0x30) * boot.U8(13);
    ASSERT_EQ(ClassifySector(At(mft), mft), kCodeFileRecord);
    ASSERT_EQ(ClassifySector(At(mft + 1), mft + 1), kCodeNothing);  // the record's second half

    std::optional<FoundItem> mftItem = ItemAt(mft, kCodeFileRecord);
    ASSERT_TRUE(mftItem);
    EXPECT_EQ(FileRecordOf(*mftItem)->recordNumber, 0u);
    EXPECT_EQ(FileRecordOf(*mftItem)->name, u"$MFT");
    EXPECT_TRUE(FileRecordNameStartsWithMft(*mftItem));
    FreeItemPayload(*mftItem);

    // Index blocks name the directory they belong to through their first
    // Win32 (or Win32+DOS) name: the root's system files carry such names and
    // give 5. ntfs-3g names the files it creates in the POSIX namespace, so
    // the index blocks of docs give no item.
    std::set<uint32_t> owners;
    size_t withoutItem = 0;
    for (uint64_t lba : Find(kNtfsStart, kNtfsSize, kCodeIndexBlock)) {
        std::optional<FoundItem> it = ItemAt(lba, kCodeIndexBlock);
        if (it)
            owners.insert(it->payload);
        else
            ++withoutItem;
    }
    EXPECT_EQ(owners, std::set<uint32_t>{5});
    EXPECT_GE(withoutItem, 1u);
}

TEST_F(SectorClassifier, FatDirectorySectorsNameTheirClusters) {
    const std::vector<uint64_t> dirs = Find(kFat32Start, kFat32Size, kCodeFatDir);
    ASSERT_EQ(dirs.size(), 3u);  // photos, photos/2019, docs
    std::vector<FoundItem> items;
    for (uint64_t l : dirs) items.push_back(*ItemAt(l, kCodeFatDir));
    // photos is a child of the root (".." = 0) and the parent of 2019.
    EXPECT_EQ(items[0].extra, 0u);
    EXPECT_EQ(items[1].extra, items[0].payload);
    // The cluster of "." is where the sector lies (512-byte clusters).
    const ByteView boot(At(kFat32Start), 512);
    const uint64_t data = kFat32Start + boot.U16(14) + uint64_t(boot.U8(16)) * boot.U32(36);
    EXPECT_EQ(dirs[1], data + items[1].payload - 2);

    EXPECT_EQ(Find(kFat32Start, kFat32Size, kCodeFatRootDir).size(), 1u);
    EXPECT_EQ(Find(kFat16Start, kFat16Size, kCodeFatDir).size(), 1u);  // backup
    // mkfs.fat dates its label entry; such a root is not recognised.
    EXPECT_TRUE(Find(kFat16Start, kFat16Size, kCodeFatRootDir).empty());
}

TEST_F(SectorClassifier, ExfatDirectories) {
    EXPECT_EQ(Find(kExfatStart, kExfatSize, kCodeExfatRootDir).size(), 1u);
    EXPECT_EQ(Find(kExfatStart, kExfatSize, kCodeExfatDir).size(), 2u);  // music, music/live
}

// --- Built sectors for the cases the fixture does not hold. ---

Sector Entry(uint8_t type, uint8_t b1 = 0) {
    Sector e(32, 0);
    e[0] = type;
    e[1] = b1;
    return e;
}
Sector ExfatSector(std::initializer_list<Sector> entries) {
    Sector s;
    for (const Sector& e : entries) s.insert(s.end(), e.begin(), e.end());
    s.resize(512, 0);
    return s;
}
Sector Label(const char16_t* text) {
    Sector e = Entry(0x83, uint8_t(std::char_traits<char16_t>::length(text)));
    for (size_t i = 0; text[i]; ++i) StoreU16(&e[2 + 2 * i], text[i]);
    return e;
}

TEST(SectorClassifierCases, BuiltSectors) {
    Sector fat32Boot = SectorAt(kFat32Start);
    Sector table(512, 0);
    table[446 + 4] = 0x07;
    StoreU32(&table[446 + 8], 2048);
    StoreU32(&table[446 + 12], 0x4000);
    table[510] = 0x55;
    table[511] = 0xAA;
    Sector type1d = table, short3fff = table, badBoot = table;
    type1d[446 + 4] = 0x1D;
    StoreU32(&short3fff[446 + 12], 0x3FFF);
    badBoot[446] = 0x01;
    Sector fat32WithTable = fat32Boot;
    std::memcpy(&fat32WithTable[446], &table[446], 64);
    Sector fileRecord = SectorAt(kNtfsStart);  // replaced below
    {
        const ByteView boot(At(kNtfsStart), 512);
        fileRecord = SectorAt(kNtfsStart + boot.U64(0x30) * boot.U8(13));
    }
    Sector fileWith55aa = fileRecord;
    fileWith55aa[510] = 0x55;
    fileWith55aa[511] = 0xAA;
    Sector fileBadOffset = fileRecord;
    StoreU16(&fileBadOffset[0x14], 0x30);
    Sector gpt(512, 0);
    std::memcpy(gpt.data(), "EFI PART", 8);

    const Sector set = ExfatSector({Entry(0x85, 2), Entry(0xC0), Entry(0xC1)});
    const Sector deletedOnly = ExfatSector(
        {Entry(0x05, 2), Entry(0x40), Entry(0x41), Entry(0x05, 2), Entry(0x40), Entry(0x41)});
    const Sector midSet =
        ExfatSector({Entry(0xC0), Entry(0xC1), Entry(0x85, 2), Entry(0xC0), Entry(0xC1)});
    const Sector streamOnly = ExfatSector({Entry(0xC0), Entry(0xC1)});  // no complete set
    const Sector nameAfterFile = ExfatSector({Entry(0x85, 2), Entry(0xC1), Entry(0xC1)});
    const Sector vendor = ExfatSector({Entry(0x85, 2), Entry(0xC0), Entry(0xE0)});
    const Sector root = ExfatSector(
        {Label(u"VOL"), Entry(0x81), Entry(0x82), Entry(0x85, 2), Entry(0xC0), Entry(0xC1)});
    const Sector rootNoSet = ExfatSector({Label(u"VOL"), Entry(0x81), Entry(0x82)});
    Sector rootBadLabel = root;
    rootBadLabel[1] = 16;

    const struct {
        const char* what;
        const Sector* sector;
        uint64_t lba;
        uint32_t code;
    } cases[] = {
        {"FAT32 boot with a partition table", &fat32WithTable, 2048, kCodeFat32Boot},
        {"table at LBA 0", &table, 0, kCodeMbr},
        {"table elsewhere", &table, 63, kCodeEbr},
        {"type 0x1D", &type1d, 0, kCodeNothing},
        {"length 0x3FFF", &short3fff, 0, kCodeNothing},
        {"boot indicator 1", &badBoot, 0, kCodeNothing},
        {"file record", &fileRecord, 9, kCodeFileRecord},
        {"FILE ending in 55 AA", &fileWith55aa, 9, kCodeNothing},
        {"FILE with attributes at 0x30", &fileBadOffset, 9, kCodeNothing},
        {"GPT header at LBA 1", &gpt, 1, kCodeGptHeader},
        {"GPT header at LBA 2", &gpt, 2, kCodeNothing},
        {"exFAT set", &set, 5, kCodeExfatDir},
        {"exFAT deleted sets", &deletedOnly, 5, kCodeExfatDir},
        {"exFAT begins mid-set", &midSet, 5, kCodeExfatDir},
        {"exFAT no complete set", &streamOnly, 5, kCodeNothing},
        {"exFAT name without stream", &nameAfterFile, 5, kCodeNothing},
        {"exFAT unknown entry type", &vendor, 5, kCodeNothing},
        {"exFAT root", &root, 5, kCodeExfatRootDir},
        {"exFAT root without a file", &rootNoSet, 5, kCodeNothing},
        {"exFAT root, label of 16", &rootBadLabel, 5, kCodeNothing},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClassifySector(c.sector->data(), c.lba), c.code) << c.what;
}

TEST(SectorClassifierCases, IndexBlockWalkStopsAtBadEntries) {
    // One entry at 0x40 (first-entry offset 0x28 from the header at 0x18).
    Sector block(4096, 0);
    std::memcpy(block.data(), "INDX", 4);
    StoreU32(&block[0x18], 0x28);
    auto entry = [&](size_t off, uint16_t len, uint32_t flags, uint32_t parent, uint8_t nameLen,
                     uint8_t ns) {
        StoreU16(&block[off + 8], len);
        StoreU32(&block[off + 12], flags);
        StoreU32(&block[off + 16], parent);
        block[off + 16 + 0x40] = nameLen;
        block[off + 16 + 0x41] = ns;
    };
    uint32_t dir = 0;
    entry(0x40, 0x68, 0, 77, 4, 2);    // DOS name: skipped
    entry(0xA8, 0x68, 1, 1234, 4, 1);  // Win32 name: the answer
    ASSERT_TRUE(IndexBlockDirectory(block.data(), block.size(), dir));
    EXPECT_EQ(dir, 1234u);

    Sector ended = block;
    StoreU32(&ended[0x40 + 12], 2);  // last-entry flag ends the walk
    EXPECT_FALSE(IndexBlockDirectory(ended.data(), ended.size(), dir));
    Sector zeroLen = block;
    StoreU16(&zeroLen[0x40 + 8], 0);
    EXPECT_FALSE(IndexBlockDirectory(zeroLen.data(), zeroLen.size(), dir));
    // An entry running past the data is not read.
    EXPECT_FALSE(IndexBlockDirectory(block.data(), 0xA8 + 0x20, dir));
    Sector farOffset = block;
    StoreU32(&farOffset[0x18], 0xFFFFFFF0);
    EXPECT_FALSE(IndexBlockDirectory(farOffset.data(), farOffset.size(), dir));
}

TEST(SectorClassifierCases, FileRecordOnTheLastSectorOfABlockIsReadWhole) {
    const ByteView boot(At(kNtfsStart), 512);
    const uint64_t mft = kNtfsStart + boot.U64(0x30) * boot.U8(13);
    Sector record(At(mft), At(mft) + 1024);
    const std::string path = WriteImage("split-record.img", 0x8000, {{0x3FFF, record}});
    PartInfo part = ImageRecord(path, 0, 0x8000, 0x8000);

    // The block in memory holds only the record's first half.
    std::vector<uint8_t> block(0x800000, 0);
    std::memcpy(&block[0x3FFF * 512], record.data(), 512);
    ItemContext ctx;
    ctx.blockData = block.data();
    ctx.blockBytes = block.size();
    ctx.sectorIndex = 0x3FFF;
    ctx.scanned = &part;
    std::optional<FoundItem> it = MakeItem(kCodeFileRecord, ctx);
    ASSERT_TRUE(it);
    EXPECT_EQ(it->lba, 0x3FFFu);
    EXPECT_EQ(FileRecordOf(*it)->name, u"$MFT");
    FreeItemPayload(*it);
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

// Damaged copies of real structures: every classification and item must stay
// inside its buffers (the sanitizer build checks) and agree with itself.
TEST(SectorClassifierCases, DamagedStructuresNeverReadOutOfBounds) {
    using namespace kestrel::test;
    const ByteView boot(At(kNtfsStart), 512);
    const uint64_t mft = kNtfsStart + boot.U64(0x30) * boot.U8(13);
    std::vector<uint64_t> sources = {0,           kExtStart,   kFat32Start, kNtfsStart,
                                     kExfatStart, kFat16Start, mft,         mft + 10};
    for (uint64_t l : Find(kNtfsStart, kNtfsSize, kCodeIndexBlock)) sources.push_back(l);
    for (uint64_t l : Find(kExfatStart, kExfatSize, kCodeExfatDir)) sources.push_back(l);
    for (uint64_t l : Find(kFat32Start, kFat32Size, kCodeFatDir)) sources.push_back(l);

    uint64_t seed = 12345;
    auto next = [&] { return seed = seed * 6364136223846793005ull + 1442695040888963407ull; };
    // A small "block" whose data ends right after the structure, so walks
    // that run on hit the end of the buffer.
    std::vector<uint8_t> block(8192);
    for (int round = 0; round < 4000; ++round) {
        const uint64_t src = sources[next() % sources.size()];
        std::memcpy(block.data(), At(src), block.size());
        for (int k = 0, n = 1 + int(next() % 8); k < n; ++k) {
            const size_t at = (next() >> 8) % 1024;
            block[at] = uint8_t(next() >> 24);
        }
        const size_t bytes = 512 + (next() >> 16) % (block.size() - 511);
        const uint32_t code = ClassifySector(block.data(), src);
        ItemContext ctx;
        ctx.blockData = block.data();
        ctx.blockBytes = bytes;
        ctx.blockLba = src;
        std::optional<FoundItem> item = MakeItem(code, ctx);
        if (item) {
            EXPECT_EQ(item->type, code);
            FreeItemPayload(*item);
        }
    }
}

}  // namespace
}  // namespace kestrel
