#include "fs/fat_data.h"

#include <gtest/gtest.h>

#include <fstream>

#include "fat_fixture_support.h"
#include "fat_sha256.h"
#include "fs/fat_geometry.h"

namespace kestrel {
namespace {

using test::ExportNode;

std::string ManifestSha(const char* manifest, const std::string& path) {
    for (const auto& m : test::ReadManifest(manifest))
        if (m.path == path) return m.sha;
    ADD_FAILURE() << "not in manifest: " << path;
    return "";
}

FatGeometry GeometryOf(const PartInfo& part) {
    FatGeometry g;
    EXPECT_TRUE(ParseFatGeometry(ByteView(part.bootSector, 512), part.startLba, part.fsKind, g));
    return g;
}

TEST(FatData, LiveChainThatEndsEarlyContinuesWithTheNextCluster) {
    test::ReadFatFixture r(test::FixturePath("fat16/fat16.img.gz"));
    ASSERT_TRUE(r.ok);
    const FileNode* found = r.Find("EXACT.BIN");  // two contiguous clusters
    ASSERT_NE(found, nullptr);
    const FileNode n = *found;
    const FatGeometry g = GeometryOf(r.part);
    // Cut the chain after the first cluster in the FAT copy: free, then end-of-chain.
    for (uint16_t cut : {uint16_t(0), uint16_t(0xFFFF)}) {
        StoreU16(r.part.fsTable + n.firstCluster * 2, cut);
        const test::Exported e = ExportNode(r.part, n, kClearFile);
        EXPECT_TRUE(e.ok) << cut;
        EXPECT_EQ(test::Sha256Hex(e.bytes), ManifestSha("fat16/manifest.tsv", "EXACT.BIN"));
    }
    // Preview follows a free entry to the next cluster but stops at end-of-chain.
    std::vector<uint8_t> buf(n.size);
    uint32_t got = 0;
    EXPECT_FALSE(ReadFatFileData(r.part, n, uint32_t(n.size), buf.data(), &got));
    EXPECT_EQ(got, g.ClusterBytes());
    StoreU16(r.part.fsTable + n.firstCluster * 2, 0);
    EXPECT_TRUE(ReadFatFileData(r.part, n, uint32_t(n.size), buf.data(), &got));
    EXPECT_EQ(got, n.size);
}

TEST(FatData, FileRunningPastTheVolumeEndFails) {
    test::ReadFatFixture r(test::FixturePath("fat16/fat16.img.gz"));
    ASSERT_TRUE(r.ok);
    const FatGeometry g = GeometryOf(r.part);
    FileNode n = MakeNode();
    n.firstCluster = g.highestCluster;
    n.size = uint64_t(g.ClusterBytes()) * 3;
    for (uint32_t kind : {kDeletedFile, kLiveFile}) {
        SetNodeKind(n, kind);
        const test::Exported clear = ExportNode(r.part, n, kClearFile);
        EXPECT_FALSE(clear.ok);
        EXPECT_TRUE(clear.bytes.empty());
        const test::Exported keep = ExportNode(r.part, n, kRecoverAll);
        EXPECT_FALSE(keep.ok);
        EXPECT_EQ(keep.bytes.size(), g.ClusterBytes());
    }
    // A file without a first cluster has no data to give.
    n.firstCluster = 0;
    EXPECT_FALSE(ExportNode(r.part, n, kRecoverAll).ok);
    // An empty file exports as an empty file.
    n.size = 0;
    const test::Exported empty = ExportNode(r.part, n, kClearFile);
    EXPECT_TRUE(empty.ok);
    EXPECT_TRUE(empty.bytes.empty());
}

TEST(FatData, FoundDirectoryPartitionReadsContiguousRuns) {
    test::ReadFatFixture r(test::FixturePath("fat32/fat32.img.gz"));
    ASSERT_TRUE(r.ok);
    const FatGeometry g = GeometryOf(r.part);
    // A found-directory partition starts at cluster 2 and has no FAT.
    PartInfo dirs = r.part;
    dirs.nodes = nullptr;
    dirs.fsTable = nullptr;
    dirs.fsTableBytes = 0;
    dirs.nodeCount = dirs.nodeCapacity = 0;
    dirs.fsKind = kFsFatDirs;
    dirs.startLba = g.dataLba;
    dirs.sizeSectors = kUnknownSizeSectors;
    for (const char* path : {"照片/旅行 2019/长城.jpg", "old project/!ATA.BIN"}) {
        SCOPED_TRACE(path);
        const FileNode* n = r.Find(path);
        ASSERT_NE(n, nullptr);
        const FileNode node = *n;
        const std::string out = test::TempDir("fat_dir_export") + "/file";
        bool ok = false;
        {
            OutputFile file;
            ASSERT_TRUE(file.Create(out));
            ScanState state{kScanRunning};
            ProgressSnapshot progress;
            ok = ExportFatDirFile(file, dirs, state, node, progress, kClearFile);
        }
        EXPECT_TRUE(ok);
        const std::vector<uint8_t> bytes = test::ReadFileBytes(out);
        const std::string sha = ManifestSha("fat32/manifest.tsv", path);
        EXPECT_EQ(test::Sha256Hex(bytes), sha);
        std::vector<uint8_t> head(1000);
        uint32_t got = 0;
        EXPECT_TRUE(ReadFatDirFileData(dirs, node, 1000, head.data(), &got));
        ASSERT_EQ(got, 1000u);
        EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
    }
}

}  // namespace
}  // namespace kestrel
