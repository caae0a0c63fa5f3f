#include "storage/image_partitions.h"

#include <gtest/gtest.h>

#include "platform/bytes.h"
#include "storage/part_builders.h"
#include "tests/storage/disk_image.h"

namespace kestrel {
namespace {

using test::DiskImage;

struct Expect {
    uint64_t start, size;
    uint32_t kind;
    uint8_t type;
    const char16_t* fsName;
    const char16_t* label;
};

void CheckList(const std::vector<PartInfo>& got, const std::vector<Expect>& want,
               const DiskImage& img, uint64_t sectors) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].startLba, want[i].start);
        EXPECT_EQ(got[i].sizeSectors, want[i].size);
        EXPECT_EQ(got[i].fsKind, want[i].kind);
        EXPECT_EQ(got[i].partType, want[i].type);
        EXPECT_EQ(got[i].fsName, want[i].fsName);
        EXPECT_EQ(got[i].label, want[i].label);
        EXPECT_EQ(got[i].devicePath, Utf16FromUtf8(img.path()));
        EXPECT_EQ(got[i].deviceSectors, sectors);
        EXPECT_EQ(Utf8FromWide(got[i].diskName), img.path().substr(img.path().rfind('/') + 1));
    }
}

// Primary FAT16 in slot 0, an extended container in slot 1 holding NTFS and
// exFAT logical partitions.
constexpr uint64_t kExt = 12288, kEbr2 = kExt + 10240, kSectors = 33000;

void WriteMbrWithChain(DiskImage& img) {
    img.PlaceVolume(2048, "storage/fat16.img.gz");
    img.MbrEntry(0, 0, 0x06, 2048, 8192, 0x80);
    img.MbrEntry(0, 1, 0x0F, kExt, 20000);
    img.MbrEntry(kExt, 0, 0x07, 2048, 8192);
    img.PlaceVolume(kExt + 2048, "storage/ntfs.img.gz");
    img.MbrEntry(kExt, 1, 0x05, 10240, 10000);
    img.MbrEntry(kEbr2, 0, 0x07, 2048, 8192);
    img.PlaceVolume(kEbr2 + 2048, "storage/exfat.img.gz");
}

const std::vector<Expect> kChainList = {
    {0, kSectors, kFsUnknown, 0, u"", u""},
    {2048, 8192, kFsFat16, 0x06, u"FAT16", u"中文卷"},
    {kExt + 2048, 8192, kFsNtfs, 0x07, u"NTFS", u"恢复测试"},
    {kEbr2 + 2048, 8192, kFsExfat, 0x07, u"exFat", u"ExLabel"},
};

TEST(ImagePartitionsTest, MbrWithExtendedChain) {
    DiskImage img("mbr_chain", kSectors);
    WriteMbrWithChain(img);
    const std::vector<PartInfo> parts = ListImagePartitions(Utf16FromUtf8(img.path()));
    CheckList(parts, kChainList, img, kSectors);
    EXPECT_EQ(parts[1].isActive, 1u);
    EXPECT_EQ(parts[0].bootSector[510], 0x55);  // the MBR itself

    PartInfo third;
    ASSERT_TRUE(FindImagePartition(Utf16FromUtf8(img.path()), 3, third));
    EXPECT_EQ(third.fsKind, uint32_t(kFsExfat));
    EXPECT_FALSE(FindImagePartition(Utf16FromUtf8(img.path()), 4, third));
}

TEST(ImagePartitionsTest, HostileTablesEndTheWalkAndKeepTheRest) {
    struct Case {
        const char* what;
        void (*damage)(DiskImage&);
        size_t count;
    } cases[] = {
        {"chain loops back to its first EBR",
         [](DiskImage& img) { img.MbrEntry(kEbr2, 1, 0x05, 0, 10000); }, 4},
        {"chain loops to itself", [](DiskImage& img) { img.MbrEntry(kEbr2, 1, 0x05, 10240, 10); },
         4},
        {"next EBR beyond the image",
         [](DiskImage& img) { img.MbrEntry(kEbr2, 1, 0x05, 0x7FFFFFFF, 10); }, 4},
        {"primary entry past the end",
         [](DiskImage& img) { img.MbrEntry(0, 2, 0x07, 0xFFFFFFF0u, 0xFFFF); }, 4},
        {"logical entry past the end",
         [](DiskImage& img) { img.MbrEntry(kEbr2, 0, 0x07, 0xFFFFFF00u, 100); }, 3},
        {"second EBR without signature",
         [](DiskImage& img) {
             img.Write(kEbr2 * 512 + 510, std::vector<uint8_t>{0, 0});
         },
         3},
        {"extended container at LBA 0", [](DiskImage& img) { img.MbrEntry(0, 1, 0x05, 0, 100); },
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DiskImage img("hostile", kSectors);
        WriteMbrWithChain(img);
        c.damage(img);
        const std::vector<PartInfo> parts = ListImagePartitions(Utf16FromUtf8(img.path()));
        ASSERT_EQ(parts.size(), c.count);
        for (size_t i = 0; i < parts.size(); ++i) EXPECT_EQ(parts[i].startLba, kChainList[i].start);
    }
}

TEST(ImagePartitionsTest, LongChainIsBounded) {
    // 200 EBRs, each with one logical partition, linked one after the other: the walk stops at 128.
    const uint64_t ext = 64, sectors = ext + 400;
    DiskImage img("long_chain", sectors);
    img.MbrEntry(0, 0, 0x05, ext, 400);
    for (uint32_t i = 0; i < 200; ++i) {
        img.MbrEntry(ext + i, 0, 0x83, 200, 1);  // a logical partition at ext + i + 200
        img.MbrEntry(ext + i, 1, 0x05, i + 1, 1);
    }
    const std::vector<PartInfo> parts = ListImagePartitions(Utf16FromUtf8(img.path()));
    EXPECT_EQ(parts.size(), 1u + 128u);
    for (size_t i = 1; i < parts.size(); ++i) EXPECT_EQ(parts[i].label, kDefaultLabel);
}

constexpr uint64_t kGptSectors = 82000;

void WriteGpt(DiskImage& img, uint32_t count = 128, uint32_t entryBytes = 128) {
    img.MbrEntry(0, 0, 0xEE, 1, 0xFFFFFFFF);
    uint8_t h[512] = {};
    std::memcpy(h, "EFI PART", 8);
    StoreU32(h + 8, 0x00010000);
    StoreU32(h + 12, 92);
    StoreU64(h + 24, 1);
    StoreU64(h + 72, 2);
    StoreU32(h + 80, count);
    StoreU32(h + 84, entryBytes);
    img.Write(512, h, sizeof h);
    auto entry = [&](int i, uint64_t first, uint64_t last) {
        uint8_t e[128] = {};
        e[0] = 0xA2;  // any non-zero type GUID
        StoreU64(e + 32, first);
        StoreU64(e + 40, last);
        img.Write(2 * 512 + uint64_t(i) * 128, e, sizeof e);
    };
    entry(0, 2048, 2048 + 69632 - 1);
    img.PlaceVolume(2048, "storage/fat32.img.gz");
    entry(1, 73728, 73728 + 8192 - 1);
    img.PlaceVolume(73728, "storage/ntfs.img.gz");
    entry(3, 900000, 900100);  // beyond the image: skipped
    entry(4, 100, 50);         // last before first: skipped
}

TEST(ImagePartitionsTest, GptEntriesIdentifiedFromTheirBootSectors) {
    DiskImage img("gpt", kGptSectors);
    WriteGpt(img);
    const std::vector<PartInfo> parts = ListImagePartitions(Utf16FromUtf8(img.path()));
    CheckList(parts,
              {{0, kGptSectors, kFsUnknown, 0, u"", u""},
               {2048, 69632, kFsFat32, 0x0B, u"FAT32", u"KESTREL32"},
               {73728, 8192, kFsNtfs, 0x07, u"NTFS", u"恢复测试"}},
              img, kGptSectors);
    EXPECT_NE(parts[1].serial, 0u);
    EXPECT_EQ(parts[2].entryKind, 2u);
}

TEST(ImagePartitionsTest, BackupGptHeaderServesWhenThePrimaryIsGone) {
    DiskImage img("gpt_backup", kGptSectors);
    WriteGpt(img);
    // Move the header to the last sector; its array stays at LBA 2.
    std::vector<uint8_t> header(512);
    {
        ScopedSource src;
        ASSERT_TRUE(OpenSourcePath(Utf16FromUtf8(img.path()), *src));
        ASSERT_TRUE(ReadSectors(*src, 1, header.data(), 1));
    }
    img.Write((kGptSectors - 1) * 512, header);
    img.Write(512, std::vector<uint8_t>(512, 0));
    const std::vector<PartInfo> parts = ListImagePartitions(Utf16FromUtf8(img.path()));
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[2].label, u"恢复测试");
}

TEST(ImagePartitionsTest, HostileGptHeaders) {
    struct Case {
        const char* what;
        uint32_t count, bytes;
    } cases[] = {
        {"entry array of 4 GiB", 0xFFFFFFFF, 128},
        {"entry size below 128", 128, 64},
        {"entry size not a multiple of 8", 128, 130},
        {"array running past the image", 8192, 128 * 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DiskImage img("gpt_bad", kGptSectors);
        WriteGpt(img, c.count, c.bytes);
        // Only the whole image; the protective entry itself is no partition.
        EXPECT_EQ(ListImagePartitions(Utf16FromUtf8(img.path())).size(), 1u);
    }
}

TEST(ImagePartitionsTest, BareVolumeImageIsNumberZeroAndItsOnePartition) {
    const std::string path = test::FixturePath("storage/fat32.img.gz");
    const std::vector<PartInfo> parts = ListImagePartitions(Utf16FromUtf8(path));
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_TRUE(IsBareVolumeListing(parts));
    PartInfo one, two;
    ASSERT_TRUE(FindImagePartition(Utf16FromUtf8(path), 1, one));
    EXPECT_EQ(one.fsKind, uint32_t(kFsFat32));
    EXPECT_EQ(one.startLba, 0u);
    EXPECT_FALSE(FindImagePartition(Utf16FromUtf8(path), 2, two));
    EXPECT_EQ(parts[0].fsKind, uint32_t(kFsFat32));
    EXPECT_EQ(parts[0].partType, 0x0B);
    EXPECT_EQ(parts[0].fsName, u"FAT32");
    EXPECT_EQ(parts[0].label, u"KESTREL32");
    EXPECT_EQ(parts[0].sizeSectors, 34u * 2048);
    EXPECT_EQ(parts[0].entryKind, 0u);
}

TEST(ImagePartitionsTest, BareVolumeWithForeignGeometry) {
    DiskImage img("foreign_ntfs", 8192);
    img.PlaceVolume(0, "storage/ntfs.img.gz");
    // Heads 0 and 0 sectors per track, as mkfs.ntfs leaves them on a plain file.
    img.Write(24, std::vector<uint8_t>(4, 0));
    img.Write(8191 * 512 + 24, std::vector<uint8_t>(4, 0));  // and in the backup
    const std::vector<PartInfo> parts = ListImagePartitions(Utf16FromUtf8(img.path()));
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].fsKind, uint32_t(kFsNtfs));
    EXPECT_EQ(parts[0].label, u"恢复测试");
    EXPECT_EQ(parts[0].bootSector[24], 0);
}

TEST(ImagePartitionsTest, WipedBareNtfsFoundByItsBackup) {
    DiskImage img("wiped_ntfs", 8192);
    img.PlaceVolume(0, "storage/ntfs.img.gz");
    img.Write(0, std::vector<uint8_t>(512, 0));
    const std::vector<PartInfo> parts = ListImagePartitions(Utf16FromUtf8(img.path()));
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].fsKind, uint32_t(kFsNtfs));
    EXPECT_EQ(parts[0].label, u"恢复测试");
}

// Random bytes in the table sectors and where the chain and the GPT point:
// listing must end, stay inside the image and never crash.
TEST(ImagePartitionsTest, RandomTablesNeverCrash) {
    uint64_t seed = 0x4B455354;
    auto next = [&seed] {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(seed >> 33);
    };
    const uint64_t sectors = 4096;
    for (int round = 0; round < 60; ++round) {
        DiskImage img("random", sectors);
        std::vector<uint8_t> sec(512);
        for (int s = 0; s < 24; ++s) {
            for (uint8_t& b : sec) b = uint8_t(next());
            sec[510] = 0x55;
            sec[511] = 0xAA;
            if (s == 1 && round % 2) std::memcpy(sec.data(), "EFI PART", 8);
            const uint64_t lba = s < 8 ? uint64_t(s) : next() % sectors;
            img.Write(lba * 512, sec);
        }
        // Small, plausible starts so that chains and GPT arrays land on the random sectors.
        for (int slot = 0; slot < 4; ++slot) {
            const uint8_t types[] = {0x05, 0x0F, 0xEE, 0x07, 0x0B, 0x06, 0x00};
            img.MbrEntry(0, slot, types[next() % 7], next() % 64, next() % 8192);
        }
        for (const PartInfo& p : ListImagePartitions(Utf16FromUtf8(img.path())))
            EXPECT_LT(p.startLba, sectors);
    }
}

TEST(ImagePartitionsTest, EmptyOrMissingImage) {
    DiskImage empty("empty", 0);
    EXPECT_TRUE(ListImagePartitions(Utf16FromUtf8(empty.path())).empty());
    EXPECT_TRUE(ListImagePartitions(u"/nonexistent/disk.img").empty());
    PartInfo p;
    EXPECT_FALSE(FindImagePartition(u"/nonexistent/disk.img", 0, p));
}

}  // namespace
}  // namespace kestrel

namespace kestrel {
namespace {

TEST(ImagePartitionsTest, DemoImage) {
    const std::string path = test::FixturePath("demo/demo.img.gz");
    const std::vector<PartInfo> parts = ListImagePartitions(Utf16FromUtf8(path));
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[1].startLba, 2048u);
    EXPECT_EQ(parts[1].fsKind, uint32_t(kFsFat32));
    EXPECT_EQ(parts[1].label, u"KESTREL");
    EXPECT_EQ(parts[2].startLba, 83968u);
    EXPECT_EQ(parts[2].fsKind, uint32_t(kFsNtfs));
    EXPECT_EQ(parts[2].label, u"数据盘");
}

}  // namespace
}  // namespace kestrel
