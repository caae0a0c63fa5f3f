#include "fs/ntfs_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "fat_sha256.h"
#include "fs/ntfs_attributes.h"
#include "fs/ntfs_known_extents.h"
#include "fs/ntfs_mft.h"
#include "fs/ntfs_runs.h"
#include "ntfs_fixture_support.h"
#include "ntfs_record_builder.h"
#include "storage/fault_map.h"

namespace kestrel {
namespace {

using test::ExportNtfsNode;
using test::ReadNtfsImage;

const char kImage[] = "ntfs/ntfs.img.gz";

TEST(NtfsReader, TreeMatchesManifestAndExportsMatchHashes) {
    const auto manifest = test::ReadManifest("ntfs/manifest.tsv");
    ASSERT_FALSE(manifest.empty());
    ReadNtfsImage r(test::FixturePath(kImage));
    ASSERT_TRUE(r.found);
    EXPECT_EQ(r.part.fsKind, kFsNtfs);
    ASSERT_TRUE(r.ok);
    auto paths = test::ListPaths(r.part);
    const FileNode* lost = GetNode(r.part, kLostFilesNodeId);
    ASSERT_NE(lost, nullptr);
    EXPECT_EQ(lost->childCount, 0u);
    // Only the manifest and the lost-files folder: no metadata files.
    EXPECT_EQ(paths.size(), manifest.size() + 1);
    for (const auto& [path, id] : paths) EXPECT_NE(path[0], '$') << path;
    for (const auto& m : manifest) {
        SCOPED_TRACE(m.path);
        auto it = paths.find(m.path);
        ASSERT_NE(it, paths.end());
        const FileNode node = *GetNode(r.part, it->second);
        EXPECT_EQ(NodeStateName(node), m.state);
        if (!IsDirectory(node)) {
            EXPECT_EQ(std::to_string(node.size), m.size);
        }
        EXPECT_EQ(FormatNodeTime(node.modified), m.modified);
        if (m.sha == "-") continue;
        const test::Exported e = ExportNtfsNode(r.part, node, kClearFile);
        EXPECT_TRUE(e.ok);
        EXPECT_EQ(test::Sha256Hex(e.bytes), m.sha);
        std::vector<uint8_t> head(5000, 0xAA);
        uint32_t got = 0;
        ScanState state{kScanRunning};
        EXPECT_TRUE(ReadNtfsFileData(r.part, node, state, 5000, head.data(), &got));
        ASSERT_EQ(got, std::min<size_t>(5000, e.bytes.size()));
        EXPECT_TRUE(std::equal(head.begin(), head.begin() + got, e.bytes.begin()));
    }
}

TEST(NtfsReader, ResidentAndNonResidentFilesAreLocated) {
    ReadNtfsImage r(test::FixturePath(kImage));
    ASSERT_TRUE(r.ok);
    const FileNode* small = r.Find("docs/notes/a resident file of three hundred bytes.bin");
    const FileNode* big = r.Find("big.bin");
    const FileNode* frag = r.Find("C.bin");
    ASSERT_TRUE(small && big && frag);
    EXPECT_TRUE(small->flags & kFlagResidentData);
    EXPECT_EQ(small->runList, nullptr);
    // A resident file lives in its own FILE record.
    SectorSource src;
    ASSERT_TRUE(OpenSourceFromPart(r.part, src));
    uint8_t rec[1024];
    ASSERT_TRUE(ReadFileRecordAt(src, small->locationLba, rec));
    CloseSource(src);

    EXPECT_FALSE(big->flags & kFlagResidentData);
    ASSERT_NE(big->runList, nullptr);
    RunList bigRuns = DecodeRunList(big->runList, big->firstCluster);
    ASSERT_TRUE(ResolveRuns(r.part, bigRuns));
    EXPECT_EQ(big->locationLba, bigRuns[0].startLba);

    // The fragmented file starts in A's hole and goes on further down the disk.
    RunList runs = DecodeRunList(frag->runList, frag->firstCluster);
    ASSERT_TRUE(ResolveRuns(r.part, runs));
    ASSERT_GE(runs.size(), 2u);
    EXPECT_LT(runs[1].delta, 0);
    EXPECT_LT(runs[1].startLba, runs[0].startLba);
    const FileNode* a = r.Find("A.bin");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->locationLba, frag->locationLba);

    // A deleted record keeps pointing at its clusters after a later file took them.
    const FileNode* victim = r.Find("victim.bin");
    const FileNode* reuse = r.Find("reuse.bin");
    ASSERT_TRUE(victim && reuse);
    EXPECT_EQ(NodeKind(*victim), kDeletedFile);
    EXPECT_EQ(victim->locationLba, reuse->locationLba);
}

TEST(NtfsReader, RegistersMftExtents) {
    ClearNtfsKnownExtents();
    ReadNtfsImage r(test::FixturePath(kImage));
    ASSERT_TRUE(r.ok);
    const auto mft = KnownMftExtents();
    ASSERT_GE(mft.size(), 2u);  // the MFT and its mirror
    const uint64_t mftLba = ByteView(r.part.bootSector, 512).U64(0x30) * r.part.bootSector[0x0D];
    const auto hit = FindKnownMftExtent(mftLba + 10);
    ASSERT_TRUE(hit.has_value());
    EXPECT_EQ(hit->startLba, mftLba);
    EXPECT_FALSE(FindKnownMftExtent(1).has_value());
    // Reading the same volume again adds nothing.
    ReadNtfsImage again(test::FixturePath(kImage));
    EXPECT_EQ(KnownMftExtents().size(), mft.size());
    ClearNtfsKnownExtents();
    EXPECT_TRUE(KnownMftExtents().empty());
    EXPECT_TRUE(KnownIndexExtents().empty());
}

TEST(NtfsReader, ReadErrorPolicies) {
    ReadNtfsImage r(test::FixturePath(kImage));
    ASSERT_TRUE(r.ok);
    const FileNode* found = r.Find("big.bin");
    ASSERT_NE(found, nullptr);
    const FileNode n = *found;
    RunList runs = DecodeRunList(n.runList, n.firstCluster);
    ASSERT_TRUE(ResolveRuns(r.part, runs));
    ASSERT_GT(runs[0].sectors, 8192u + 10);
    // One bad sector in the second 4 MiB chunk.
    const uint64_t badByte = (runs[0].startLba + 8192 + 5) * 512;
    FaultMap faults;
    faults.ranges.push_back({badByte, badByte + 512});
    const test::Exported clean = ExportNtfsNode(r.part, n, kClearFile);
    ASSERT_TRUE(clean.ok);
    ASSERT_EQ(clean.bytes.size(), n.size);

    const size_t badOffset = (8192 + 5) * 512;
    struct Case {
        ReadErrorPolicy policy;
        bool ok;
        size_t size;
    } cases[] = {
        {kClearFile, false, 0}, {kKeepPartial, false, 8192 * 512}, {kRecoverAll, true, n.size}};
    for (const Case& c : cases) {
        SectorSource src;
        ASSERT_TRUE(OpenSourceFromPart(r.part, src));
        src.faults = &faults;
        const test::Exported e = ExportNtfsNode(r.part, n, c.policy, &src);
        CloseSource(src);
        EXPECT_EQ(e.ok, c.ok) << c.policy;
        ASSERT_EQ(e.bytes.size(), c.size) << c.policy;
        for (size_t i = 0; i < e.bytes.size(); ++i) {
            const bool inBad = i >= badOffset && i < badOffset + 512;
            ASSERT_EQ(e.bytes[i], inBad ? 0 : clean.bytes[i]) << c.policy << " at " << i;
        }
    }
}

TEST(NtfsReader, ExportSetsModificationTimeEvenAfterReadErrors) {
    ReadNtfsImage r(test::FixturePath(kImage));
    ASSERT_TRUE(r.ok);
    const FileNode* n = r.Find("big.bin");
    ASSERT_NE(n, nullptr);
    RunList runs = DecodeRunList(n->runList, n->firstCluster);
    ASSERT_TRUE(ResolveRuns(r.part, runs));
    FaultMap faults;
    faults.ranges.push_back({runs[0].startLba * 512, runs[0].startLba * 512 + 4096});
    SectorSource src;
    ASSERT_TRUE(OpenSourceFromPart(r.part, src));
    src.faults = &faults;
    const std::string path = test::TempDir("ntfs_times") + "/big.bin";
    {
        OutputFile out;
        ASSERT_TRUE(out.Create(path));
        ScanState state{kScanRunning};
        ProgressSnapshot progress;
        EXPECT_TRUE(ExportNtfsFileFrom(src, out, r.part, state, *n, progress, kRecoverAll));
        EXPECT_EQ(progress.exp.fileDone, n->size);
    }
    CloseSource(src);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), n->size);
    EXPECT_EQ(st.st_mtime, 1645568542);  // 2022-02-22 22:22:22 UTC
}

TEST(NtfsReader, StopRequests) {
    const std::string image = test::FixturePath(kImage);
    ReadNtfsImage stopped(image, kScanStopRequested);
    EXPECT_FALSE(stopped.ok);
    EXPECT_EQ(stopped.part.nodes, nullptr);

    ReadNtfsImage r(image);
    ASSERT_TRUE(r.ok);
    for (const char* path : {"C.bin", "docs/readme.txt"}) {
        const FileNode* n = r.Find(path);
        ASSERT_NE(n, nullptr);
        for (ReadErrorPolicy p : {kClearFile, kKeepPartial, kRecoverAll}) {
            const test::Exported e = ExportNtfsNode(r.part, *n, p, nullptr, kScanStopRequested);
            EXPECT_FALSE(e.ok) << path << p;
            EXPECT_TRUE(e.bytes.empty()) << path << p;
        }
    }
}

// Small files exported from records written into a scratch image: the value
// length decides what a resident file delivers, and empty files are files.
TEST(NtfsData, ResidentAndEmptyFiles) {
    std::vector<uint8_t> value(700);
    for (size_t i = 0; i < value.size(); ++i) value[i] = uint8_t(i * 13 + 1);
    test::NtfsRecordBuilder full(40);
    full.StandardInfo(0, 0).FileName(5, kNameWin32, u"full.bin").Resident(0x80, value);
    test::NtfsRecordBuilder empty(41);
    empty.StandardInfo(0, 0).FileName(5, kNameWin32, u"empty.bin").Resident(0x80, {});
    std::vector<uint8_t> image(8 * 512, 0);
    const std::vector<uint8_t> a = full.Disk(), b = empty.Disk();
    std::copy(a.begin(), a.end(), image.begin() + 2 * 512);
    std::copy(b.begin(), b.end(), image.begin() + 4 * 512);
    const std::string path = test::TempDir("ntfs_small") + "/records.img";
    {
        OutputFile f;
        ASSERT_TRUE(f.Create(path));
        ASSERT_TRUE(f.Write(image.data(), image.size()));
    }
    PartInfo part;
    part.fsKind = kFsNtfs;
    part.bootSector[0x0D] = 8;
    part.sizeSectors = 8;
    part.devicePath = Utf16FromUtf8(path);

    struct Case {
        uint64_t lba;
        uint16_t flags;
        uint64_t size;  // what the node claims
        bool ok;
        size_t bytes;
    } cases[] = {
        {2, kFlagResidentData, 700, true, 700},
        {2, kFlagResidentData, 20, true, 700},  // the value length wins
        {4, kFlagResidentData, 0, true, 0},
        {6, kFlagResidentData, 10, false, 0},  // no record there
        {0, 0, 0, true, 0},                    // non-resident and empty: no runs needed
        {0, 0, 10, false, 0},                  // non-resident without runs
    };
    for (const Case& c : cases) {
        FileNode node = MakeNode();
        node.flags = uint16_t(c.flags | kFlagInUse);
        node.locationLba = c.lba;
        node.size = c.size;
        const test::Exported e = ExportNtfsNode(part, node, kClearFile);
        EXPECT_EQ(e.ok, c.ok) << c.lba << " " << c.size;
        ASSERT_EQ(e.bytes.size(), c.bytes);
        if (c.bytes == 700) {
            EXPECT_EQ(e.bytes, value);
        }
        if (c.flags & kFlagResidentData) {
            std::vector<uint8_t> head(100, 0xAA);
            uint32_t got = 7;
            ScanState state{kScanRunning};
            EXPECT_EQ(ReadNtfsFileData(part, node, state, 100, head.data(), &got), c.ok);
            EXPECT_EQ(got, std::min<size_t>(c.bytes, 100));
        }
    }
}

}  // namespace
}  // namespace kestrel
