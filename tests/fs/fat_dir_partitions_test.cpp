#include "fs/fat_dir_partitions.h"

#include <gtest/gtest.h>

#include "fat_fixture_support.h"
#include "fat_sha256.h"
#include "fs/fat_geometry.h"
#include "fs/fat_sector_test.h"
#include "fs/fat_visited.h"

namespace kestrel {
namespace {

// The subdirectory sectors of an image, as the deep scan's classifier finds them.
std::vector<FatDirFind> ScanForSubdirs(const std::string& image, uint64_t sectors) {
    std::vector<FatDirFind> finds;
    const std::vector<uint8_t> bytes = test::ReadFileBytes(image, 0, size_t(sectors) * 512);
    for (uint64_t lba = 0; lba * 512 + 512 <= bytes.size(); ++lba) {
        const ByteView s(bytes.data() + lba * 512, 512);
        if (!IsFatSubdirSector(s)) continue;
        const FatSubdirClusters c = ReadFatSubdirClusters(s);
        finds.push_back({kFatSubdirFind, lba, c.own, c.parent});
    }
    return finds;
}

TEST(FatDirPartitions, RebuildsTheDirectoriesOfAVolumeWithoutItsBootSector) {
    const std::string image = test::FixturePath("fat32/fat32.img.gz");
    PartInfo device;
    ASSERT_TRUE(test::LoadFatPart(image, device));
    FatGeometry g;
    ASSERT_TRUE(ParseFatGeometry(ByteView(device.bootSector, 512), 0, device.fsKind, g));
    // The volume's metadata near the start is enough to find its directories.
    std::vector<FatDirFind> finds = ScanForSubdirs(image, g.dataLba + 4096);
    ASSERT_GE(finds.size(), 8u);
    finds.insert(finds.begin(), FatDirFind{kFatRootDirFind, g.dataLba, 0, 0});

    ClearFatVisitedList();
    ScanState state{kScanRunning};
    std::vector<PartInfo> parts = BuildFatDirPartitions(finds, device, 1, state);
    ASSERT_EQ(parts.size(), 1u);
    PartInfo& p = parts[0];
    EXPECT_EQ(p.fsKind, kFsFatDirs);
    EXPECT_EQ(p.startLba, g.dataLba);
    EXPECT_EQ(p.bootSector[0x0D], 1);
    const auto paths = test::ListPaths(p);
    // Each top-level directory becomes a folder DirNN with its subtree below,
    // numbered in the order their sectors lie on the disk.
    const std::string bottom = "Dir01/deep/er/still/bottom.txt";
    ASSERT_TRUE(paths.count(bottom));
    EXPECT_TRUE(paths.count("Dir02/旅行 2019/长城.jpg"));
    EXPECT_TRUE(paths.count("Dir06/draft 1.txt"));  // a deleted directory's content
    const FileNode* n = GetNode(p, paths.at(bottom));
    ASSERT_NE(n, nullptr);
    std::string sha;
    for (const auto& m : test::ReadManifest("fat32/manifest.tsv"))
        if (m.path == "docs/deep/er/still/bottom.txt") sha = m.sha;
    const std::string out = test::TempDir("fat_dirs") + "/bottom";
    {
        OutputFile f;
        ASSERT_TRUE(f.Create(out));
        ScanState st{kScanRunning};
        ProgressSnapshot progress;
        EXPECT_TRUE(ExportFatDirFile(f, p, st, *n, progress, kClearFile));
    }
    EXPECT_EQ(test::Sha256Hex(test::ReadFileBytes(out)), sha);
    for (PartInfo& part : parts) FreeTable(part);
}

TEST(FatDirPartitions, HostileFindsMakeNothingOrStaySafe) {
    const std::string image = test::FixturePath("fat16/fat12.img.gz");
    PartInfo device;
    ASSERT_TRUE(test::LoadFatPart(image, device));
    ScanState state{kScanRunning};
    struct Case {
        const char* what;
        std::vector<FatDirFind> finds;
    } cases[] = {
        {"no finds", {}},
        {"a find naming itself as parent", {{231, 100, 5, 5}, {231, 101, 6, 5}}},
        {"finds naming each other", {{231, 100, 5, 6}, {231, 101, 6, 5}, {231, 102, 7, 5}}},
        {"cluster-2 LBA would be below 0", {{231, 10, 100, 0}, {231, 11, 101, 0}}},
        {"decreasing clusters", {{231, 100, 9, 0}, {231, 101, 5, 0}}},
        {"huge cluster numbers", {{231, 100, 0xFFFFFFF0, 0}, {231, 101, 0xFFFFFFFF, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearFatVisitedList();
        std::vector<PartInfo> parts = BuildFatDirPartitions(c.finds, device, 1, state);
        for (PartInfo& p : parts) {
            EXPECT_EQ(p.fsKind, kFsFatDirs);
            FreeTable(p);
        }
    }
    // With many known partitions a geometry needs four votes per partition.
    const std::vector<FatDirFind> two = {{231, 100, 5, 0}, {231, 101, 6, 0}};
    std::vector<PartInfo> made = BuildFatDirPartitions(two, device, 1, state);
    EXPECT_EQ(made.size(), 1u);
    for (PartInfo& p : made) FreeTable(p);
    EXPECT_TRUE(BuildFatDirPartitions(two, device, 21, state).empty());
}

}  // namespace
}  // namespace kestrel
