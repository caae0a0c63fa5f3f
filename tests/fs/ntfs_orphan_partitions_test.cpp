// NTFS partitions rebuilt from the FILE records and index blocks the deep
// scan finds on a disk whose NTFS boot sectors are gone.
#include "fs/ntfs_orphan_partitions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <random>

#include "fat_fixture_support.h"
#include "fat_sha256.h"
#include "fs/export_dispatch.h"
#include "fs/ntfs_orphan_groups.h"
#include "node_export_check.h"

namespace kestrel {
namespace {

const char kImage[] = "orphan/ntfs_orphans.img.gz";
const char kManifest[] = "orphan/ntfs_orphans.tsv";
constexpr uint64_t kVolumeStart = 2048;

// What the deep scan keeps of an image: a summary for every FILE record and
// the owning directory of every index block (the parent named by its first
// Win32 entry), at the LBAs where it finds them.
struct ScanFinds {
    std::vector<std::unique_ptr<FileRecordSummary>> summaries;
    std::vector<NtfsRecordFind> records;
    std::vector<NtfsIndexFind> indexBlocks;
};

bool IndexBlockOwner(ByteView block, uint32_t& directory) {
    size_t off = 0x18 + block.U32(0x18);
    while (block.Has(off, 16)) {
        const uint16_t len = block.U16(off + 8);
        if (block.U32(off + 12) > 1 || len < 16 || !block.Has(off, len)) return false;
        const uint8_t ns = block.U8(off + 16 + 0x41);
        if (len >= 16 + 0x42 && (ns == 1 || ns == 3) && block.U8(off + 16 + 0x40) != 0) {
            directory = block.U32(off + 16);
            return true;
        }
        off += len;
    }
    return false;
}

ScanFinds ScanImage(const std::string& image) {
    ScanFinds f;
    const std::vector<uint8_t> bytes = test::ReadFileBytes(image);
    for (uint64_t lba = 0; (lba + 2) * 512 <= bytes.size(); ++lba) {
        const ByteView two(bytes.data() + lba * 512, 1024);
        if (two.Equals(0, "FILE", 4)) {
            if (auto s = BuildFileRecordSummary(two)) {
                f.summaries.push_back(std::make_unique<FileRecordSummary>(std::move(*s)));
                f.records.push_back({lba, f.summaries.back().get()});
            }
        } else if (two.Equals(0, "INDX", 4)) {
            uint32_t dir = 0;
            if (IndexBlockOwner(ByteView(bytes.data() + lba * 512, bytes.size() - lba * 512), dir))
                f.indexBlocks.push_back({lba, dir});
        }
    }
    return f;
}

PartInfo DeviceOf(const std::string& image) {
    PartInfo device;
    device.devicePath = Utf16FromUtf8(image);
    device.diskName = u"orphans";
    device.sizeSectors = std::filesystem::file_size(image) / 512;
    device.deviceSectors = device.sizeSectors;
    return device;
}

struct Built {
    std::vector<PartInfo> parts;
    ~Built() {
        for (PartInfo& p : parts) FreeTable(p);
    }
};

std::vector<PartInfo> Build(const ScanFinds& f, const PartInfo& device,
                            OrphanRebuildOptions options = {}) {
    ScanState state{kScanRunning};
    return BuildNtfsOrphanPartitions(f.records, f.indexBlocks, device, options, state);
}

TEST(NtfsOrphanPartitions, RebuildsTheVolumeAtItsRealStartWithItsTreeAndData) {
    const std::string image = test::FixturePath(kImage);
    const ScanFinds finds = ScanImage(image);
    ASSERT_GE(finds.records.size(), 90u);
    ASSERT_FALSE(finds.indexBlocks.empty());
    const PartInfo device = DeviceOf(image);
    ClearProgress();
    Built b;
    b.parts = Build(finds, device);

    ProgressSnapshot shown;
    ASSERT_TRUE(TakeProgress(shown));
    EXPECT_EQ(shown.phase, kPhaseText);
    EXPECT_EQ(std::u16string(shown.text.title), u"准备恢复文件");

    // The MFT mirror's four records form a group too short to keep.
    ASSERT_EQ(b.parts.size(), 1u);
    PartInfo& p = b.parts[0];
    EXPECT_EQ(p.fsKind, kFsNtfs);
    EXPECT_EQ(p.partType, 7);
    EXPECT_EQ(p.startLba, kVolumeStart);
    EXPECT_EQ(p.sizeSectors, kUnknownSizeSectors);
    EXPECT_EQ(p.bootSector[0x0D], 8);
    EXPECT_EQ(p.devicePath, device.devicePath);
    EXPECT_EQ(p.diskName, device.diskName);

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
        EXPECT_EQ(FormatNodeTime(n->modified), m.modified);
        const std::string out = test::TempDir("orphan_export") + "/f" + std::to_string(exported++);
        EXPECT_EQ(test::ExportedSha256(p, *n, out), m.sha);
    }
    EXPECT_GE(exported, 70u);
    // Metadata files stay out of the tree.
    EXPECT_FALSE(paths.count("$MFT"));
}

TEST(NtfsOrphanPartitions, MemberCountRules) {
    const std::string image = test::FixturePath(kImage);
    ScanFinds finds = ScanImage(image);
    const PartInfo device = DeviceOf(image);
    auto groups = GroupOrphanRecords(finds.records, 1);
    ASSERT_GE(groups.size(), 2u);  // the MFT and its mirror's four records
    std::sort(groups.begin(), groups.end(),
              [](const OrphanGroup& a, const OrphanGroup& b) { return a.size() < b.size(); });
    const size_t mftGroupSize = groups.back().size();
    ASSERT_GE(mftGroupSize, 80u);

    // With more than 2 partitions known, 20 members per known partition.
    OrphanRebuildOptions many;
    many.knownPartitions = uint32_t(mftGroupSize / 20 + 1);
    Built tooFew;
    tooFew.parts = Build(finds, device, many);
    EXPECT_TRUE(tooFew.parts.empty());
    many.knownPartitions = uint32_t(mftGroupSize / 20);
    Built enough;
    enough.parts = Build(finds, device, many);
    EXPECT_EQ(enough.parts.size(), 1u);

    // Cut the group to 49 members: below the 50 of the post-scan rebuild.
    many.knownPartitions = 2;
    Built plain;
    plain.parts = Build(finds, device, many);
    EXPECT_EQ(plain.parts.size(), 1u);
    const size_t keep = groups.back()[48] + 1;
    finds.records.resize(keep);
    Built cut;
    cut.parts = Build(finds, device);
    EXPECT_TRUE(cut.parts.empty());
}

// Records that a scan found 3 GiB and more into a disk, where no index block
// places them: the fixed geometry of a default format is assumed.
TEST(NtfsOrphanPartitions, FallbackGeometryAndTheLiveView) {
    const std::string image = test::FixturePath(kImage);
    ScanFinds finds = ScanImage(image);
    const PartInfo device = DeviceOf(image);
    const auto groups = GroupOrphanRecords(finds.records, 40);
    ASSERT_EQ(groups.size(), 1u);
    const NtfsRecordFind first = finds.records[groups[0].front()];

    // At their real place the fallback would start before the disk: dropped.
    finds.indexBlocks.clear();
    Built none;
    none.parts = Build(finds, device);
    EXPECT_TRUE(none.parts.empty());

    // Two copies of the MFT far out on the disk (they read back as zeros,
    // so the tree stays empty): one partition each, and the live view stops
    // at the number it was asked for.
    const uint64_t shift = 0x600000 + 0x100000;
    std::vector<NtfsRecordFind> far;
    for (uint64_t copy = 1; copy <= 2; ++copy)
        for (uint32_t i : groups[0])
            far.push_back({finds.records[i].lba + copy * shift, finds.records[i].summary});
    finds.records = far;
    Built two;
    two.parts = Build(finds, device);
    ASSERT_EQ(two.parts.size(), 2u);
    const uint64_t expected = first.lba + shift - 2 * first.summary->recordNumber - 0x600000;
    EXPECT_EQ(two.parts[0].startLba, expected);
    EXPECT_EQ(two.parts[1].startLba, expected + shift);
    EXPECT_EQ(two.parts[0].bootSector[0x0D], 8);

    OrphanRebuildOptions live;
    live.live = true;
    live.maxPartitions = 1;
    ClearProgress();
    Built one;
    one.parts = Build(finds, device, live);
    EXPECT_EQ(one.parts.size(), 1u);
    ProgressSnapshot shown;
    EXPECT_FALSE(TakeProgress(shown));  // the live view shows no text
}

// An MFT 3 GiB into its volume, where a default format puts it: the live
// view's fixed geometry finds the volume, and its nodes carry their data's
// location and their type.
TEST(NtfsOrphanPartitions, LiveViewWithTheFixedGeometry) {
    const std::string image = test::FixturePath(kImage);
    ScanFinds finds = ScanImage(image);
    const auto groups = GroupOrphanRecords(finds.records, 40);
    ASSERT_EQ(groups.size(), 1u);
    const NtfsRecordFind first = finds.records[groups[0].front()];
    const NtfsRecordFind last = finds.records[groups[0].back()];
    const uint64_t mftLba = first.lba - 2 * first.summary->recordNumber;
    const uint64_t movedMft = kVolumeStart + 0x600000;
    // A sparse copy of the image with the MFT's records also at the new place.
    const std::string moved = test::TempDir("orphan_moved") + "/moved.img";
    {
        const std::vector<uint8_t> bytes = test::ReadFileBytes(image);
        std::ofstream out(moved, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        out.seekp(std::streamoff(movedMft * 512));
        out.write(reinterpret_cast<const char*>(bytes.data() + mftLba * 512),
                  std::streamsize((last.lba + 2 - mftLba) * 512));
    }
    std::vector<NtfsRecordFind> records;
    for (uint32_t i : groups[0])
        records.push_back({finds.records[i].lba - mftLba + movedMft, finds.records[i].summary});
    finds.records = records;
    OrphanRebuildOptions live;
    live.live = true;
    Built b;
    b.parts = Build(finds, DeviceOf(moved), live);
    ASSERT_EQ(b.parts.size(), 1u);
    PartInfo& p = b.parts[0];
    EXPECT_EQ(p.startLba, kVolumeStart);
    const auto paths = test::ListPaths(p);
    ASSERT_TRUE(paths.count("music/track 3.mp3"));
    const FileNode* n = GetNode(p, paths.at("music/track 3.mp3"));
    EXPECT_NE(n->typeId, 0);
    EXPECT_EQ(n->typeId, GetNode(p, paths.at("music/track 4.mp3"))->typeId);
    // Non-resident files point at their data inside the volume, not at
    // their record.
    EXPECT_GT(n->locationLba, kVolumeStart);
    EXPECT_LT(n->locationLba, kVolumeStart + 24576);
    const FileNode* note = GetNode(p, paths.at("docs/letters/note.txt"));
    EXPECT_GE(note->locationLba, movedMft);  // resident: its record
    for (const char* path : {"music/track 3.mp3", "docs/letters/note.txt"}) {
        std::string sha;
        for (const test::ManifestLine& m : test::ReadManifest(kManifest))
            if (m.path == path) sha = m.sha;
        const std::string out = test::TempDir("orphan_live") + "/" + std::to_string(sha.size()) +
                                (path[0] == 'm' ? "m" : "n");
        EXPECT_EQ(test::ExportedSha256(p, *GetNode(p, paths.at(path)), out), sha) << path;
    }
}

TEST(NtfsOrphanPartitions, GroupingTable) {
    // Finds given as (record number, LBA); a group needs 3 members here.
    struct Case {
        const char* what;
        std::vector<std::pair<uint32_t, uint64_t>> finds;
        std::vector<std::vector<uint32_t>> groups;  // indices into finds
    } cases[] = {
        {"a plain run", {{10, 100}, {11, 102}, {12, 104}}, {{0, 1, 2}}},
        {"holes in the record numbers keep their distance",
         {{10, 100}, {13, 106}, {20, 120}},
         {{0, 1, 2}}},
        {"a record number below the anchor is a miss",
         {{10, 100}, {9, 102}, {11, 102}, {12, 104}},
         {{0, 2, 3}}},
        {"a duplicated find joins once", {{10, 100}, {11, 102}, {11, 102}, {12, 104}}, {{0, 1, 3}}},
        {"a short group is dropped and the search goes on after it",
         {{10, 100}, {11, 102}, {0, 500}, {1, 502}, {2, 504}},
         {{2, 3, 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<FileRecordSummary> s(c.finds.size());
        std::vector<NtfsRecordFind> finds;
        for (size_t i = 0; i < c.finds.size(); ++i) {
            s[i].recordNumber = c.finds[i].first;
            finds.push_back({c.finds[i].second, &s[i]});
        }
        const auto groups = GroupOrphanRecords(finds, 3);
        ASSERT_EQ(groups.size(), c.groups.size());
        for (size_t g = 0; g < groups.size(); ++g)
            EXPECT_EQ(groups[g], std::vector<uint32_t>(c.groups[g].begin(), c.groups[g].end()));
    }

    // 20 misses in a row are borne, the 21st ends the group.
    for (uint32_t misses : {20u, 21u}) {
        std::vector<FileRecordSummary> s(3 + misses);
        std::vector<NtfsRecordFind> finds;
        s[0].recordNumber = 10;
        finds.push_back({100, &s[0]});
        s[1].recordNumber = 11;
        finds.push_back({102, &s[1]});
        for (uint32_t k = 0; k < misses; ++k) {
            s[2 + k].recordNumber = 5;
            finds.push_back({103 + k, &s[2 + k]});
        }
        s.back().recordNumber = 12 + misses;
        finds.push_back({102 + 2 + 2 * uint64_t(misses), &s.back()});
        const auto groups = GroupOrphanRecords(finds, 3);
        EXPECT_EQ(groups.size(), misses == 20 ? 1u : 0u) << misses;
    }
}

TEST(NtfsOrphanPartitions, ClusterVoteTable) {
    struct Case {
        const char* what;
        uint32_t count;
        uint64_t size, odd;  // sizes of all members but one, and of that one
        uint8_t flags;
        uint32_t spc;
    } cases[] = {
        {"20 files of 4 KiB multiples", 20, 8192, 4096, kSummaryInUse, 8},
        {"19 are not enough", 19, 8192, 4096, kSummaryInUse, 0},
        {"one size not a multiple", 25, 8192, 6144 + 512, kSummaryInUse, 0},
        {"2 KiB clusters are the smallest taken", 25, 4096, 2048, kSummaryInUse, 4},
        {"1 KiB is too small", 25, 4096, 1024, kSummaryInUse, 0},
        {"above 64 KiB counts as 64 KiB", 25, 262144, 131072, kSummaryInUse, 128},
        {"deleted files do not vote", 25, 8192, 4096, 0, 0},
        {"directories do not vote", 25, 8192, 4096, kSummaryInUse | kSummaryDirectory, 0},
        {"resident data does not vote", 25, 8192, 4096, kSummaryInUse | kSummaryResidentData, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<FileRecordSummary> s(c.count);
        std::vector<NtfsRecordFind> finds;
        OrphanGroup group;
        for (uint32_t i = 0; i < c.count; ++i) {
            s[i].flags = c.flags;
            s[i].allocatedSize = i == 0 ? c.odd : c.size;
            finds.push_back({100 + 2ull * i, &s[i]});
            group.push_back(i);
        }
        EXPECT_EQ(VoteOrphanClusterSectors(finds, group), c.spc);
    }
}

TEST(NtfsOrphanPartitions, IndexBlockReferences) {
    std::vector<uint8_t> block(4096, 0);
    std::copy_n("INDX", 4, block.begin());
    StoreU32(&block[0x18], 0x28);  // entries from 0x40
    size_t off = 0x40;
    auto entry = [&](uint32_t ref, uint8_t ns, uint32_t flags, uint16_t len) {
        StoreU32(&block[off], ref);
        StoreU16(&block[off + 8], len);
        StoreU32(&block[off + 12], flags);
        if (len >= 16 + 0x42) {
            block[off + 16 + 0x40] = 1;
            block[off + 16 + 0x41] = ns;
        }
        off += len;
    };
    entry(70, 1, 0, 0x60);
    entry(71, 2, 0, 0x60);  // DOS name: not taken
    entry(72, 3, 1, 0x68);
    entry(73, 0, 0, 0x60);  // POSIX: not taken
    entry(0, 0, 2, 0x10);   // last entry
    entry(74, 1, 0, 0x60);  // after the end
    EXPECT_EQ(IndexBlockWin32References(ByteView(block.data(), block.size())),
              (std::vector<uint32_t>{70, 72}));
    block[0] = 'X';
    EXPECT_TRUE(IndexBlockWin32References(ByteView(block.data(), block.size())).empty());
    block[0] = 'I';
    StoreU32(&block[0x18], 0xFFFFFFF0);
    EXPECT_TRUE(IndexBlockWin32References(ByteView(block.data(), block.size())).empty());
    EXPECT_TRUE(IndexBlockWin32References(ByteView(block.data(), 0x19)).empty());
}

// Random and adversarial finds over the fixture: nothing may crash, hang or
// read out of bounds (the sanitizer build runs this too).
TEST(NtfsOrphanPartitions, HostileFindsStaySafe) {
    const std::string image = test::FixturePath(kImage);
    const ScanFinds real = ScanImage(image);
    const PartInfo device = DeviceOf(image);
    std::mt19937_64 rng(7);
    for (int round = 0; round < 6; ++round) {
        std::vector<FileRecordSummary> s(400);
        std::vector<NtfsRecordFind> records;
        std::vector<NtfsIndexFind> blocks;
        uint64_t lba = rng() % 4;
        const uint32_t base = round % 2 ? uint32_t(rng()) : 0;
        for (size_t i = 0; i < s.size(); ++i) {
            s[i].recordNumber = base + uint32_t(i);
            s[i].parentRecord = uint32_t(rng() % 8) + base;
            s[i].flags = uint8_t(rng());
            s[i].allocatedSize = round < 3 ? 4096 * (1 + rng() % 4) : rng();
            if (round == 5) lba = UINT64_MAX - 2 * (s.size() - i);
            records.push_back({lba, &s[i]});
            lba += 2;
            blocks.push_back({rng() % 32768, uint32_t(rng() % 8) + base});
        }
        std::sort(blocks.begin(), blocks.end(),
                  [](const NtfsIndexFind& a, const NtfsIndexFind& b) { return a.lba < b.lba; });
        // Index blocks of the real image claimed by the random directories.
        for (const NtfsIndexFind& x : real.indexBlocks) blocks.push_back({x.lba, base + 1});
        ScanState state{kScanRunning};
        Built b;
        b.parts = BuildNtfsOrphanPartitions(records, blocks, device, {}, state);
        for (PartInfo& p : b.parts) test::ListPaths(p);
    }
    // The real finds over a copy whose records were damaged after the scan:
    // random bytes in the attributes, with the fix-up left intact.
    const std::string damaged = test::FixtureCopy(kImage, "ntfs_orphans_damaged.img");
    {
        std::fstream f(damaged, std::ios::in | std::ios::out | std::ios::binary);
        for (const NtfsRecordFind& r : real.records) {
            std::vector<uint8_t> rec = test::ReadFileBytes(damaged, r.lba * 512, 1024);
            const size_t from = 0x38 + rng() % 200;
            for (size_t i = from; i < from + 64 + rng() % 256 && i < 1024; ++i)
                if (i != 510 && i != 511 && i != 1022 && i != 1023) rec[i] = uint8_t(rng());
            f.seekp(std::streamoff(r.lba * 512));
            f.write(reinterpret_cast<const char*>(rec.data()), 1024);
        }
    }
    {
        ScanState state{kScanRunning};
        Built b;
        b.parts =
            BuildNtfsOrphanPartitions(real.records, real.indexBlocks, DeviceOf(damaged), {}, state);
        for (PartInfo& p : b.parts) test::ListPaths(p);
    }
    // A stop request builds nothing more.
    ScanState stopped{kScanStopRequested};
    Built b;
    b.parts = BuildNtfsOrphanPartitions(real.records, real.indexBlocks, device, {}, stopped);
    EXPECT_TRUE(b.parts.empty());
}

}  // namespace
}  // namespace kestrel
