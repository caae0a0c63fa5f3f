// The exFAT reader over the fixture made by tests/data/exfat/make_exfat.sh:
// the tree against the manifest, data read back, read-error policies, stop
// requests, and a table of corruptions.
#include "fs/exfat_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/packed_time.h"
#include "app/progress.h"
#include "fs/exfat_data.h"
#include "fs/file_node.h"
#include "fs/node_text.h"
#include "platform/output_file.h"
#include "platform/wide_text.h"
#include "storage/fault_map.h"
#include "storage/sector_source.h"
#include "tests/support/fixture.h"
#include "tests/support/manifest.h"

namespace kestrel {
namespace {

constexpr const char* kImage = "exfat/exfat.img.gz";

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), {});
}

PartInfo PartFor(const std::string& image) {
    PartInfo p;
    p.fsKind = kFsExfat;
    p.devicePath = Utf16FromUtf8(image);
    std::ifstream in(image, std::ios::binary);
    in.read(reinterpret_cast<char*>(p.bootSector), sizeof p.bootSector);
    return p;
}

// A read partition that frees its table at the end of the test.
struct ReadPart {
    PartInfo part;
    bool ok = false;
    explicit ReadPart(const std::string& image, int32_t stateValue = kScanRunning)
        : part(PartFor(image)) {
        ScanState state{stateValue};
        ok = ReadExfatPartition(part, state);
    }
    ~ReadPart() { FreeTable(part); }
    // Path below the root ("a/b") of every node reachable from the root.
    std::map<std::string, const FileNode*> Paths() {
        std::map<std::string, const FileNode*> out;
        std::function<void(uint32_t, const std::string&, int)> walk =
            [&](uint32_t id, const std::string& prefix, int depth) {
                const FileNode* n = GetNode(part, id);
                if (!n || depth > 64) return;
                for (uint32_t i = 0; i < n->childCount; ++i) {
                    const FileNode* c = GetNode(part, n->childIds[i]);
                    if (!c) continue;
                    std::string path = prefix + Utf8FromWide(c->name);
                    out[path] = c;
                    walk(c->id, path + "/", depth + 1);
                }
            };
        walk(kRootNodeId, "", 0);
        return out;
    }
    const FileNode* Find(const std::string& path) {
        auto paths = Paths();
        auto it = paths.find(path);
        return it == paths.end() ? nullptr : it->second;
    }
};

using test::ManifestLine;

std::vector<ManifestLine> Manifest() { return test::ReadManifest("exfat/manifest.tsv"); }

std::string TimeText(uint32_t packed) {
    CalendarTime t = UnpackTime(packed);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

std::string Sha256Of(const std::string& path) {
    std::string cmd = "sha256sum '" + path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return "";
    char buf[128] = {};
    size_t n = std::fread(buf, 1, 64, p);
    pclose(p);
    return std::string(buf, n);
}

struct Exported {
    bool ok = false;
    std::string path;
    std::vector<uint8_t> bytes;
};

Exported Export(PartInfo& part, const FileNode& node, ReadErrorPolicy policy,
                SectorSource* src = nullptr, int32_t stateValue = kScanRunning) {
    static int serial = 0;
    Exported e;
    static const std::string dir = test::TempDir("exfat-export");
    e.path = dir + "/out" + std::to_string(++serial);
    OutputFile out;
    if (!out.Create(e.path)) return e;
    ScanState state{stateValue};
    ProgressSnapshot progress;
    progress.phase = kPhaseExport;
    e.ok = src ? ExportExfatFileFrom(*src, out, part, state, node, progress, policy)
               : ExportExfatFile(out, part, state, node, progress, policy);
    out.Close();
    e.bytes = ReadAll(e.path);
    return e;
}

TEST(ExfatReader, TreeMatchesTheManifest) {
    ReadPart r(test::FixturePath(kImage));
    ASSERT_TRUE(r.ok);
    auto paths = r.Paths();
    paths.erase("丢失的文件");
    auto manifest = Manifest();
    ASSERT_GE(manifest.size(), 20u);
    for (const ManifestLine& m : manifest) {
        auto it = paths.find(m.path);
        ASSERT_NE(it, paths.end()) << m.path;
        const FileNode& n = *it->second;
        EXPECT_EQ(NodeStateName(n), m.state) << m.path;
        EXPECT_EQ(std::to_string(n.size), m.size) << m.path;
        EXPECT_EQ(TimeText(n.modified), m.modified) << m.path;
    }
    for (auto& [path, node] : paths)
        if (!std::count_if(manifest.begin(), manifest.end(),
                           [&](const ManifestLine& m) { return m.path == path; }))
            ADD_FAILURE() << "not in the manifest: " << path << " " << NodeStateName(*node);
    // Nothing beyond the manifest: the volume label, bitmap and up-case
    // entries make no nodes, and nothing is orphaned.
    EXPECT_EQ(paths.size(), manifest.size());
    const FileNode* lost = GetNode(r.part, kLostFilesNodeId);
    ASSERT_NE(lost, nullptr);
    EXPECT_EQ(lost->childCount, 0u);
}

TEST(ExfatReader, ExportReturnsTheRecordedContent) {
    ReadPart r(test::FixturePath(kImage));
    ASSERT_TRUE(r.ok);
    for (const ManifestLine& m : Manifest()) {
        if (m.sha == "-") continue;
        const FileNode* n = r.Find(m.path);
        ASSERT_NE(n, nullptr) << m.path;
        Exported e = Export(r.part, *n, kKeepPartial);
        EXPECT_TRUE(e.ok) << m.path;
        EXPECT_EQ(Sha256Of(e.path), m.sha) << m.path;
    }
}

TEST(ExfatReader, FragmentedFileFollowsItsChainPastAllocatedNeighbours) {
    // C.bin fills the hole A.bin left and goes on after B.bin; where C's part
    // in the hole ends, the next cluster is B's and allocated, yet the chain
    // leads elsewhere.
    ReadPart r(test::FixturePath(kImage));
    const FileNode* c = r.Find("frag/C.bin");
    const FileNode* b = r.Find("frag/B.bin");
    ASSERT_TRUE(c && b);
    EXPECT_EQ(c->flags & kFlagExfatNoFatChain, 0);
    EXPECT_NE(b->flags & kFlagExfatNoFatChain, 0);
    ExfatGeometry g;
    ASSERT_TRUE(ExfatGeometryOf(r.part, g));
    auto list = ExfatNodeClusters(r.part, g, *c);
    ASSERT_EQ(list.size(), 6u);
    bool jumps = false;
    for (size_t i = 1; i < list.size(); ++i) {
        EXPECT_NE(list[i], b->firstCluster);
        jumps |= list[i] != list[i - 1] + 1;
    }
    EXPECT_TRUE(jumps);
}

TEST(ExfatReader, PreviewReadsTheFirstBytes) {
    ReadPart r(test::FixturePath(kImage));
    const FileNode* n = r.Find("big.txt");
    ASSERT_NE(n, nullptr);
    std::vector<uint8_t> buf(10000, 0xAA);
    ASSERT_TRUE(ReadExfatFileData(r.part, *n, 9000, buf.data()));
    const std::string head(buf.begin(), buf.begin() + 29);
    EXPECT_EQ(head, "big line 000000 of the fixtur");
    EXPECT_EQ(buf[9000], 0xAA) << "nothing past maxBytes";
    const FileNode* tiny = r.Find("readme.txt");
    ASSERT_NE(tiny, nullptr);
    std::fill(buf.begin(), buf.end(), 0xAA);
    ASSERT_TRUE(ReadExfatFileData(r.part, *tiny, 9000, buf.data()));
    EXPECT_EQ(std::string(buf.begin(), buf.begin() + 3), "hi\n");
    EXPECT_EQ(buf[3], 0xAA) << "nothing past the size";
}

TEST(ExfatReader, ZeroByteFileExportsEmptyWithItsTime) {
    ReadPart r(test::FixturePath(kImage));
    const FileNode* n = r.Find("empty.dat");
    ASSERT_NE(n, nullptr);
    Exported e = Export(r.part, *n, kClearFile);
    EXPECT_TRUE(e.ok);
    EXPECT_TRUE(e.bytes.empty());
}

TEST(ExfatReader, ReadErrorPolicies) {
    const std::string image = test::FixturePath(kImage);
    ReadPart r(image);
    const FileNode* n = r.Find("文档/报告/季度报告.docx");  // 20400 bytes, 5 clusters
    ASSERT_NE(n, nullptr);
    ExfatGeometry g;
    ASSERT_TRUE(ExfatGeometryOf(r.part, g));
    const uint64_t bad = (g.ClusterLba(n->firstCluster) + g.sectorsPerCluster) * 512;
    FaultMap faults;
    faults.ranges.push_back({bad + 512, bad + 1024});  // one sector of the second cluster
    std::vector<uint8_t> whole = ReadAll(image);
    const std::vector<uint8_t> expected(whole.begin() + long(bad - g.clusterBytes),
                                        whole.begin() + long(bad - g.clusterBytes + n->size));

    struct Case {
        ReadErrorPolicy policy;
        bool ok;
        size_t size;
    } cases[] = {{kClearFile, false, 0}, {kKeepPartial, false, 4096}, {kRecoverAll, true, 20400}};
    for (const Case& c : cases) {
        SectorSource src;
        ASSERT_TRUE(OpenSourceFromPart(r.part, src));
        src.faults = &faults;
        Exported e = Export(r.part, *n, c.policy, &src);
        CloseSource(src);
        EXPECT_EQ(e.ok, c.ok) << c.policy;
        ASSERT_EQ(e.bytes.size(), c.size) << c.policy;
        if (c.policy == kRecoverAll) {
            // Only the failing cluster is zero; the rest is the file's data.
            for (size_t i = 0; i < e.bytes.size(); ++i) {
                const bool inBad = i >= 4096 && i < 8192;
                ASSERT_EQ(e.bytes[i], inBad ? 0 : expected[i]) << i;
            }
        } else if (c.size) {
            EXPECT_TRUE(std::equal(e.bytes.begin(), e.bytes.end(), expected.begin()));
        }
    }
}

TEST(ExfatReader, UnreadableDirectoryClusterEndsThatDirectoryOnly) {
    const std::string image = test::FixturePath(kImage);
    const FileNode* photos;
    uint64_t badLba;
    {
        ReadPart clean(image);
        photos = clean.Find("照片/旅行 2019");
        ASSERT_NE(photos, nullptr);
        ExfatGeometry g;
        ASSERT_TRUE(ExfatGeometryOf(clean.part, g));
        badLba = g.ClusterLba(photos->firstCluster);
    }
    FaultMap faults;
    faults.ranges.push_back({badLba * 512, badLba * 512 + 512});
    PartInfo part = PartFor(image);
    SectorSource src;
    ASSERT_TRUE(OpenSourceFromPart(part, src));
    src.faults = &faults;
    ScanState state{kScanRunning};
    EXPECT_TRUE(ReadExfatPartitionFrom(src, part, state));
    CloseSource(src);
    ReadPart view(image);
    std::swap(view.part, part);  // the damaged read, freed by view
    FreeTable(part);
    auto paths = view.Paths();
    EXPECT_TRUE(paths.count("照片/旅行 2019"));
    EXPECT_FALSE(paths.count("照片/旅行 2019/长城.jpg"));
    EXPECT_TRUE(paths.count("文档/报告/季度报告.docx"));
    EXPECT_TRUE(paths.count("相册/子目录/note.txt"));
}

TEST(ExfatReader, StopRequests) {
    const std::string image = test::FixturePath(kImage);
    {
        ReadPart stopped(image, kScanStopRequested);
        EXPECT_FALSE(stopped.ok);
        // The root and the lost-files folder are still there and linked.
        EXPECT_NE(GetNode(stopped.part, kRootNodeId), nullptr);
    }
    ReadPart r(image);
    const FileNode* n = r.Find("big.txt");
    ASSERT_NE(n, nullptr);
    Exported e = Export(r.part, *n, kClearFile, nullptr, kScanStopRequested);
    EXPECT_FALSE(e.ok);
    EXPECT_TRUE(e.bytes.empty());
}

TEST(ExfatReader, RootLongerThan64KiBIsReadToTheEndOfItsChain) {
    ReadPart r(test::FixturePath("exfat/bigroot.img.gz"));
    ASSERT_TRUE(r.ok);
    auto paths = r.Paths();
    paths.erase("丢失的文件");
    EXPECT_EQ(paths.size(), 800u);
    EXPECT_TRUE(paths.count("0000.txt"));
    EXPECT_TRUE(paths.count("0799.txt"));
}

TEST(ExfatReader, FoundDirectoryPartitionReadsWithoutFat) {
    // A directory partition as the deep scan rebuilds it: the heap offset is
    // the absolute LBA of cluster 2, and there is no FAT copy or bitmap.
    const std::string image = test::FixturePath(kImage);
    PartInfo volume = PartFor(image);
    ExfatGeometry g;
    ASSERT_TRUE(ExfatGeometryOf(volume, g));
    PartInfo part;
    part.fsKind = kFsExfatDirs;
    part.sizeSectors = kUnknownSizeSectors;
    part.devicePath = volume.devicePath;
    StoreU32(part.bootSector + 0x58, uint32_t(g.heapLba));
    part.bootSector[0x6D] = uint8_t(g.clusterShift);
    AddRootAndLostNodes(part);
    ScanState state{kScanRunning};
    ProgressSnapshot progress;
    ASSERT_TRUE(WalkExfatDirectory(part, state, progress, g.rootCluster, 64 * 1024, kRootNodeId));
    LinkChildren(part);
    // Directories whose entries say NoFatChain are read across all their
    // clusters; files come back as one extent.
    const FileNode* found = nullptr;
    for (uint32_t id = 6; id < part.nodeCount; ++id) {
        const FileNode* n = GetNode(part, id);
        if (n && Utf8FromWide(n->name) == "长城.jpg") found = n;
    }
    ASSERT_NE(found, nullptr);
    Exported e = Export(part, *found, kKeepPartial);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(Sha256Of(e.path), "82ebe0e009d625d727cd390f13c3e1621043625a1e312aed67b146759d80f2de");
    FreeTable(part);
}

// Offset of the file entry of the entry set whose first name entry starts
// with name (UTF-16), or npos.
size_t FileEntryOf(const std::vector<uint8_t>& img, const std::u16string& name) {
    for (size_t off = 0; off + 96 <= img.size(); off += 32) {
        const uint8_t t = img[off];
        if (t != 0x85 && t != 0x05) continue;
        const size_t nameOff = off + 64;
        if (img[nameOff] != 0xC1 && img[nameOff] != 0x41) continue;
        bool same = true;
        for (size_t i = 0; i < name.size() && i < 15 && same; ++i)
            same = ByteView(img.data(), img.size()).U16(nameOff + 2 + 2 * i) == name[i];
        if (same) return off;
    }
    return std::string::npos;
}

TEST(ExfatReader, CorruptedImagesNeverCrash) {
    const std::string good = test::FixturePath(kImage);
    const std::vector<uint8_t> img = ReadAll(good);
    ReadPart clean(good);
    const size_t total = clean.Paths().size();
    const size_t photos = FileEntryOf(img, u"照片");
    const size_t report = FileEntryOf(img, u"报告");
    const size_t frag = FileEntryOf(img, u"frag");
    ASSERT_NE(photos, std::string::npos);
    ASSERT_NE(report, std::string::npos);
    ASSERT_NE(frag, std::string::npos);
    ExfatGeometry g;
    ASSERT_TRUE(ExfatGeometryOf(clean.part, g));
    const size_t fatBytes = size_t(g.fatLba) * 512;
    const uint32_t photosCluster = ByteView(img.data(), img.size()).U32(photos + 32 + 0x14);
    const uint32_t rootCluster = g.rootCluster;

    auto u32 = [](uint32_t v) {
        std::vector<uint8_t> b(4);
        StoreU32(b.data(), v);
        return b;
    };
    auto u64 = [](uint64_t v) {
        std::vector<uint8_t> b(8);
        StoreU64(b.data(), v);
        return b;
    };
    enum Outcome { kFails, kFewer, kSame, kReads };
    struct Case {
        const char* what;
        size_t offset;
        std::vector<uint8_t> bytes;
        Outcome outcome;
    } cases[] = {
        {"cluster shift beyond 32 MiB clusters", 0x6D, {0xFF}, kFails},
        {"zero cluster count", 0x5C, u32(0), kFails},
        {"no EXFAT name", 3, {'N', 'T', 'F', 'S'}, kFails},
        {"root cluster outside the heap", 0x60, u32(0xFFFFFFF0), kFewer},
        {"huge FAT length", 0x54, u32(0xFFFFFFFF), kReads},
        {"FAT offset beyond the device", 0x50, u32(0x7FFFFFFF), kReads},
        {"cluster count far beyond the image", 0x5C, u32(0xFFFFFFF5), kReads},
        {"root chain loops to itself", fatBytes + rootCluster * 4, u32(rootCluster), kReads},
        {"directory points at the root", photos + 32 + 0x14, u32(rootCluster), kReads},
        {"directory points at its own cluster", report + 32 + 0x14, u32(photosCluster), kReads},
        {"directory size of 2^63", frag + 32 + 8, u64(1ull << 63), kReads},
        {"directory cluster 0", frag + 32 + 0x14, u32(0), kFewer},
        {"secondary count 255", photos + 1, {0xFF}, kFewer},
        {"secondary count 0", photos + 1, {0x00}, kSame},
        {"file entry turned into end of directory", photos, {0x00}, kFewer},
        {"bitmap entry length 2^64-1", 0, {}, kReads},  // patched below
    };
    // The allocation-bitmap entry is the second entry of the root.
    cases[std::size(cases) - 1].offset = size_t(g.ClusterLba(rootCluster)) * 512 + 32 + 0x18;
    cases[std::size(cases) - 1].bytes = u64(~0ull);

    int serial = 0;
    for (const Case& c : cases) {
        const std::string copy =
            test::FixtureCopy(kImage, "exfat-corrupt" + std::to_string(serial++));
        {
            std::fstream f(copy, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(long(c.offset));
            f.write(reinterpret_cast<const char*>(c.bytes.data()), long(c.bytes.size()));
        }
        ReadPart r(copy);
        const size_t n = r.Paths().size();
        switch (c.outcome) {
            case kFails:
                EXPECT_FALSE(r.ok) << c.what;
                break;
            case kFewer:
                EXPECT_LT(n, total) << c.what;
                break;
            case kSame:
                EXPECT_EQ(n, total) << c.what;
                break;
            case kReads:
                EXPECT_TRUE(r.ok) << c.what;
                break;
        }
        // Whatever was read can be exported without harm.
        for (auto& [path, node] : r.Paths()) {
            if (IsDirectory(*node)) continue;
            std::vector<uint8_t> buf(4096);
            ReadExfatFileData(r.part, *node, uint32_t(buf.size()), buf.data());
        }
    }
}

TEST(ExfatReader, RandomDamageToMetadataNeverCrashes) {
    // Random bytes over the boot fields, the FAT and the first directory
    // clusters; run under the sanitizer build this finds out-of-bounds reads
    // and runaway walks the table above does not think of.
    const std::string good = test::FixturePath(kImage);
    const std::vector<uint8_t> img = ReadAll(good);
    ExfatGeometry g;
    {
        PartInfo p = PartFor(good);
        ASSERT_TRUE(ExfatGeometryOf(p, g));
    }
    const size_t fat = size_t(g.fatLba) * 512, heap = size_t(g.heapLba) * 512;
    const std::string copy = test::FixtureCopy(kImage, "exfat-random");
    uint32_t seed = 12345;
    auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (int round = 0; round < 60; ++round) {
        std::vector<uint8_t> damaged = img;
        for (int k = 0; k < 24; ++k) {
            size_t off;
            switch (next() % 4) {
                case 0:
                    off = 0x40 + next() % 0x30;
                    break;
                case 1:
                    off = fat + next() % 512;
                    break;
                default:
                    off = heap + next() % (128 * 1024);
                    break;
            }
            damaged[off] = uint8_t(next());
        }
        {
            std::ofstream out(copy, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(damaged.data()), long(damaged.size()));
        }
        ReadPart r(copy);
        for (auto& [path, node] : r.Paths()) {
            if (IsDirectory(*node) || node->size > (1u << 20)) continue;
            Exported e = Export(r.part, *node, kRecoverAll);
            EXPECT_LE(e.bytes.size(), node->size) << path;
        }
    }
}

}  // namespace
}  // namespace kestrel
