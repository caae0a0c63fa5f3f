// exFAT directory partitions rebuilt from the directory sectors the deep
// scan finds on a disk whose exFAT boot regions are gone.
#include "fs/exfat_dir_partitions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "fat_fixture_support.h"
#include "fat_sha256.h"
#include "fs/exfat_dir_runs.h"
#include "fs/exfat_layout.h"
#include "fs/export_dispatch.h"
#include "node_export_check.h"

namespace kestrel {
namespace {

const char kImage[] = "orphan/exfat_dirs.img.gz";
const char kManifest[] = "orphan/exfat_dirs.tsv";
constexpr uint64_t kVolumeStart = 2048;

// The sectors the scan files as exFAT directory finds: a root directory's
// first sector (label, bitmap and up-case entries) or a sector opening with
// a file entry set.
std::vector<uint64_t> ScanDirectorySectors(const std::vector<uint8_t>& bytes) {
    std::vector<uint64_t> lbas;
    for (uint64_t lba = 0; (lba + 1) * 512 <= bytes.size(); ++lba) {
        const ByteView s(bytes.data() + lba * 512, 512);
        const uint8_t t = s.U8(0);
        const bool root = t == 0x83 && s.U8(32) == 0x81 && s.U8(64) == 0x82;
        const bool set = (t == 0x85 || t == 0x05) && (s.U8(32) & 0x7F) == 0x40 &&
                         (s.U8(64) & 0x7F) == 0x41 && s.U8(1) >= 2 && s.U8(1) <= 18;
        if (root || set) lbas.push_back(lba);
    }
    return lbas;
}

PartInfo DeviceOf(const std::string& image) {
    PartInfo device;
    device.devicePath = Utf16FromUtf8(image);
    device.diskName = u"dirs";
    device.sizeSectors = std::filesystem::file_size(image) / 512;
    return device;
}

struct Built {
    std::vector<PartInfo> parts;
    ~Built() {
        for (PartInfo& p : parts) FreeTable(p);
    }
};

// The root directory's first sector, which starts a cluster of the heap.
uint64_t RootLba(const std::vector<uint8_t>& bytes) {
    for (uint64_t lba : ScanDirectorySectors(bytes))
        if (bytes[lba * 512] == 0x83) return lba;
    return 0;
}

TEST(ExfatDirPartitions, RebuildsTheDirectoryTreeAndItsData) {
    const std::string image = test::FixturePath(kImage);
    const std::vector<uint8_t> bytes = test::ReadFileBytes(image);
    const std::vector<uint64_t> finds = ScanDirectorySectors(bytes);
    ASSERT_GE(finds.size(), 31u);
    const PartInfo device = DeviceOf(image);
    ScanState state{kScanRunning};
    Built b;
    b.parts = BuildExfatDirPartitions(finds, device, {}, state);
    ASSERT_EQ(b.parts.size(), 1u);
    PartInfo& p = b.parts[0];
    EXPECT_EQ(p.fsKind, kFsExfatDirs);
    EXPECT_EQ(p.sizeSectors, kUnknownSizeSectors);
    EXPECT_EQ(p.bootSector[0x6D], 3);  // 4 KiB clusters
    EXPECT_EQ(p.devicePath, device.devicePath);
    ExfatGeometry g;
    ASSERT_TRUE(ExfatGeometryOf(p, g));
    // The heap lies inside the volume, and the root is one of its clusters.
    EXPECT_GT(g.heapLba, kVolumeStart);
    const uint64_t root = RootLba(bytes);
    EXPECT_EQ((root - g.heapLba) % 8, 0u);

    const auto paths = test::ListPaths(p);
    uint32_t exported = 0;
    for (const test::ManifestLine& m : test::ReadManifest(kManifest)) {
        SCOPED_TRACE(m.path);
        auto it = paths.find(m.path);
        ASSERT_NE(it, paths.end());
        const FileNode* n = GetNode(p, it->second);
        EXPECT_EQ(NodeStateName(*n), m.state);
        if (m.IsDir() || m.sha == "-") continue;
        EXPECT_EQ(std::to_string(n->size), m.size);
        const std::string out =
            test::TempDir("exfat_dirs_export") + "/f" + std::to_string(exported++);
        EXPECT_EQ(test::ExportedSha256(p, *n, out), m.sha);
    }
    EXPECT_GE(exported, 40u);
    // A subdirectory found as a run of its own shows a second time directly
    // below the root, besides its place below its parent.
    EXPECT_TRUE(paths.count("sub 03"));
    EXPECT_TRUE(paths.count("deeper"));
    size_t total = 0;
    for (const auto& [path, id] : paths) total += path.rfind("丢失的文件", 0) != 0;
    EXPECT_GT(total, test::ReadManifest(kManifest).size());
}

TEST(ExfatDirPartitions, AKnownVolumeWithTheSameHeapSuppressesTheBuild) {
    const std::string image = test::FixturePath(kImage);
    const std::vector<uint64_t> finds = ScanDirectorySectors(test::ReadFileBytes(image));
    const PartInfo device = DeviceOf(image);
    ScanState state{kScanRunning};
    Built first;
    first.parts = BuildExfatDirPartitions(finds, device, {}, state);
    ASSERT_EQ(first.parts.size(), 1u);
    ExfatGeometry g;
    ASSERT_TRUE(ExfatGeometryOf(first.parts[0], g));

    PartInfo known;
    known.fsKind = kFsExfat;
    known.startLba = kVolumeStart;
    std::copy_n("EXFAT   ", 8, known.bootSector + 3);
    StoreU32(known.bootSector + 0x58, uint32_t(g.heapLba - kVolumeStart));
    StoreU32(known.bootSector + 0x5C, 2000);
    known.bootSector[0x6D] = 3;
    Built none;
    none.parts = BuildExfatDirPartitions(finds, device, {known}, state);
    EXPECT_TRUE(none.parts.empty());
    // A known FAT volume or an exFAT one elsewhere does not.
    known.startLba += 8;
    PartInfo fat = known;
    fat.fsKind = kFsFat32;
    fat.startLba = kVolumeStart;
    Built again;
    again.parts = BuildExfatDirPartitions(finds, device, {known, fat}, state);
    EXPECT_EQ(again.parts.size(), 1u);
}

TEST(ExfatDirPartitions, RunsAndClusterVote) {
    EXPECT_TRUE(MergeExfatDirRuns({}).empty());
    const auto runs = MergeExfatDirRuns({10, 11, 12, 20, 20, 22, (1ull << 32) + 5});
    ASSERT_EQ(runs.size(), 4u);
    EXPECT_EQ(runs[0].start, 10u);
    EXPECT_EQ(runs[0].sectors, 3u);
    EXPECT_EQ(runs[1].sectors, 1u);  // a repeated LBA counts once
    EXPECT_EQ(runs[3].start, 5u);    // low 32 bits

    struct Case {
        const char* what;
        std::vector<uint32_t> starts;
        uint32_t cluster;
    } cases[] = {
        {"19 runs are too few", {}, 0},
        {"every distance a multiple of 8", {}, 8},
        {"one odd distance in 24 still votes 8", {}, 8},
        {"only odd distances", {}, 0},
    };
    for (uint32_t i = 0; i < 19; ++i) cases[0].starts.push_back(1000 + 8 * i);
    for (uint32_t i = 0; i < 24; ++i) cases[1].starts.push_back(1000 + 8 * i * (i % 3 + 1));
    for (uint32_t i = 0; i < 24; ++i) cases[2].starts.push_back(1000 + 8 * i + (i == 23));
    for (uint32_t i = 0; i < 24; ++i) cases[3].starts.push_back(1000 + 3 * i);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<ExfatDirRun> r;
        for (uint32_t s : c.starts) r.push_back({s, 1});
        EXPECT_EQ(VoteExfatClusterSectors(r), c.cluster);
    }

    // Four runs off the grid among 24: the selection starts at the first run
    // of the grid within the first quarter and holds the rest of the grid.
    std::vector<ExfatDirRun> r;
    for (uint32_t i = 0; i < 24; ++i) r.push_back({1000 + 8 * i + (i < 3 || i == 10 ? 3u : 0u), 1});
    const std::vector<uint32_t> picked = SelectAlignedRuns(r, 8);
    ASSERT_EQ(picked.size(), 20u);
    EXPECT_EQ(picked.front(), 3u);
    // Half the runs off the grid: nothing.
    for (uint32_t i = 0; i < 24; i += 2) r[i].start += 1;
    EXPECT_TRUE(SelectAlignedRuns(r, 8).empty());
}

TEST(ExfatDirPartitions, FirstSubdirectoryEntry) {
    std::vector<uint8_t> e(6 * 32, 0);
    auto set = [&](size_t i, uint8_t type, uint16_t attr, uint32_t cluster) {
        e[i * 32] = type;
        StoreU16(&e[i * 32 + 4], attr);
        StoreU32(&e[i * 32 + 0x14], cluster);
    };
    set(0, 0x85, 0x20, 0);  // a file
    set(1, 0xC0, 0, 50);
    set(2, 0x85, 0x10, 0);  // a directory
    set(3, 0xC0, 0, 77);
    EXPECT_EQ(FirstSubdirectoryCluster(ByteView(e.data(), e.size())), 77u);
    set(0, 0x05, 0x20, 0);  // a deleted entry first ends the search
    EXPECT_FALSE(FirstSubdirectoryCluster(ByteView(e.data(), e.size())));
    set(0, 0x85, 0x20, 0);
    set(3, 0xC1, 0, 77);  // no stream right after the directory entry
    EXPECT_FALSE(FirstSubdirectoryCluster(ByteView(e.data(), e.size())));
    EXPECT_FALSE(FirstSubdirectoryCluster(ByteView(e.data(), 3 * 32)));
}

// Random and adversarial directory finds and sectors: nothing may crash, hang
// or read out of bounds (the sanitizer build runs this too).
TEST(ExfatDirPartitions, HostileFindsStaySafe) {
    const std::string image = test::FixturePath(kImage);
    const std::vector<uint64_t> real = ScanDirectorySectors(test::ReadFileBytes(image));
    std::mt19937_64 rng(11);
    // A copy whose directory sectors carry random entries, named by the
    // real finds: subdirectory clusters point anywhere, loops included.
    const std::string hostile = test::FixtureCopy(kImage, "exfat_dirs_hostile.img");
    {
        std::fstream f(hostile, std::ios::in | std::ios::out | std::ios::binary);
        for (uint64_t lba : real) {
            uint8_t sector[512];
            for (int i = 0; i < 16; ++i) {
                uint8_t* e = sector + 32 * i;
                for (int k = 0; k < 32; ++k) e[k] = uint8_t(rng());
                static const uint8_t kTypes[] = {0x85, 0xC0, 0xC1, 0x05, 0x40, 0x41, 0x00};
                e[0] = kTypes[rng() % 7];
                if (rng() % 2) StoreU64(e + 8, rng() % (1u << 20));
            }
            f.seekp(std::streamoff(lba * 512));
            f.write(reinterpret_cast<const char*>(sector), 512);
        }
    }
    const PartInfo device = DeviceOf(hostile);
    std::vector<std::vector<uint64_t>> lists = {real};
    for (int round = 0; round < 4; ++round) {
        std::vector<uint64_t> l;
        uint64_t lba = rng() % 100;
        for (int i = 0; i < 200; ++i) {
            lba += round == 3 ? (UINT32_MAX / 100) : 1 + 8 * (rng() % 4);
            l.push_back(lba);
        }
        lists.push_back(l);
    }
    for (const auto& l : lists) {
        ScanState state{kScanRunning};
        Built b;
        b.parts = BuildExfatDirPartitions(l, device, {}, state);
        for (PartInfo& p : b.parts) test::ListPaths(p);
    }
    ScanState stopped{kScanStopRequested};
    Built b;
    b.parts = BuildExfatDirPartitions(real, DeviceOf(image), {}, stopped);
    for (PartInfo& p : b.parts) EXPECT_LE(p.nodeCount, 6u);
}

}  // namespace
}  // namespace kestrel
