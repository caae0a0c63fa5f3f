#include "fs/fat_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>

#include "fat_fixture_support.h"
#include "fat_sha256.h"
#include "fs/fat_cluster_resolution.h"
#include "fs/fat_geometry.h"
#include "storage/fault_map.h"

namespace kestrel {
namespace {

using test::ExportNode;
using test::ReadFatFixture;

struct Fixture {
    const char* image;
    const char* manifest;
    uint32_t kind;
    uint32_t entryBits;
};
const Fixture kFixtures[] = {
    {"fat16/fat16.img.gz", "fat16/manifest.tsv", kFsFat16, 16},
    {"fat32/fat32.img.gz", "fat32/manifest.tsv", kFsFat32, 32},
    {"fat16/fat12.img.gz", "fat16/manifest_fat12.tsv", kFsFat16, 12},
};

TEST(FatReader, TreesMatchManifestsAndExportsMatchHashes) {
    for (const Fixture& f : kFixtures) {
        SCOPED_TRACE(f.image);
        const auto manifest = test::ReadManifest(f.manifest);
        ASSERT_FALSE(manifest.empty());
        ReadFatFixture r(test::FixturePath(f.image));
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.part.fsKind, f.kind);
        FatGeometry g;
        ASSERT_TRUE(ParseFatGeometry(ByteView(r.part.bootSector, 512), 0, r.part.fsKind, g));
        EXPECT_EQ(g.entryBits, f.entryBits);
        auto paths = test::ListPaths(r.part);
        // Everything found has a parent: the lost-files folder stays empty.
        const FileNode* lost = GetNode(r.part, kLostFilesNodeId);
        ASSERT_NE(lost, nullptr);
        EXPECT_EQ(lost->childCount, 0u);
        EXPECT_EQ(paths.size(), manifest.size() + 1);
        for (const auto& m : manifest) {
            SCOPED_TRACE(m.path);
            auto it = paths.find(m.path);
            ASSERT_NE(it, paths.end());
            const FileNode* n = GetNode(r.part, it->second);
            ASSERT_NE(n, nullptr);
            EXPECT_EQ(NodeStateName(*n), m.state);
            EXPECT_EQ(std::to_string(n->size), m.size);
            EXPECT_EQ(FormatNodeTime(n->modified), m.modified);
            if (IsDirectory(*n)) {
                EXPECT_EQ(n->typeId, 231);
            }
            if (m.sha == "-") continue;
            const FileNode node = *n;
            const test::Exported e = ExportNode(r.part, node, kClearFile);
            EXPECT_TRUE(e.ok);
            EXPECT_EQ(test::Sha256Hex(e.bytes), m.sha);
            // Preview gives the same first bytes.
            std::vector<uint8_t> head(3000, 0xAA);
            uint32_t got = 0;
            EXPECT_TRUE(ReadFatFileData(r.part, node, 3000, head.data(), &got));
            ASSERT_EQ(got, std::min<size_t>(3000, e.bytes.size()));
            EXPECT_TRUE(std::equal(head.begin(), head.begin() + got, e.bytes.begin()));
        }
    }
}

FatGeometry GeometryOf(const PartInfo& part) {
    FatGeometry g;
    EXPECT_TRUE(ParseFatGeometry(ByteView(part.bootSector, 512), part.startLba, part.fsKind, g));
    return g;
}

TEST(FatReader, ReadErrorPolicies) {
    ReadFatFixture r(test::FixturePath("fat32/fat32.img.gz"));
    ASSERT_TRUE(r.ok);
    const FileNode* found = r.Find("照片/旅行 2019/长城.jpg");
    ASSERT_NE(found, nullptr);
    const FileNode n = *found;
    const FatGeometry g = GeometryOf(r.part);
    const uint32_t second = FatEntry(g, r.part.fsTable, r.part.fsTableBytes, n.firstCluster);
    ASSERT_TRUE(g.IsDataCluster(second));
    FaultMap faults;
    faults.ranges.push_back({g.ClusterLba(second) * 512, g.ClusterLba(second) * 512 + 512});
    const test::Exported clean = ExportNode(r.part, n, kClearFile);
    ASSERT_TRUE(clean.ok);

    struct Case {
        ReadErrorPolicy policy;
        bool ok;
        size_t size;
    } cases[] = {{kClearFile, false, 0}, {kKeepPartial, false, 512}, {kRecoverAll, true, n.size}};
    for (const Case& c : cases) {
        SectorSource src;
        ASSERT_TRUE(OpenSourceFromPart(r.part, src));
        src.faults = &faults;
        const test::Exported e = ExportNode(r.part, n, c.policy, &src);
        CloseSource(src);
        EXPECT_EQ(e.ok, c.ok) << c.policy;
        ASSERT_EQ(e.bytes.size(), c.size) << c.policy;
        for (size_t i = 0; i < e.bytes.size(); ++i) {
            const bool inBad = i >= 512 && i < 1024;
            ASSERT_EQ(e.bytes[i], inBad ? 0 : clean.bytes[i]) << c.policy << " at " << i;
        }
    }
}

TEST(FatReader, StopRequests) {
    const std::string image = test::FixturePath("fat16/fat16.img.gz");
    ReadFatFixture stopped(image, kScanStopRequested);
    EXPECT_FALSE(stopped.ok);

    ReadFatFixture r(image);
    ASSERT_TRUE(r.ok);
    const FileNode* n = r.Find("fragmented c.bin");
    ASSERT_NE(n, nullptr);
    for (ReadErrorPolicy p : {kClearFile, kKeepPartial, kRecoverAll}) {
        const test::Exported e = ExportNode(r.part, *n, p, nullptr, kScanStopRequested);
        EXPECT_FALSE(e.ok) << p;
        EXPECT_TRUE(e.bytes.empty()) << p;
    }
}

TEST(FatReader, UnreadableFirstFatFallsBackToTheSecond) {
    const std::string image = test::FixturePath("fat16/fat16.img.gz");
    const auto manifest = test::ReadManifest("fat16/manifest.tsv");
    PartInfo part;
    ASSERT_TRUE(test::LoadFatPart(image, part));
    const FatGeometry g = GeometryOf(part);
    FaultMap faults;
    faults.ranges.push_back({g.fatLba * 512 + 512, g.fatLba * 512 + 1024});
    SectorSource src;
    ASSERT_TRUE(OpenSourceFromPart(part, src));
    src.faults = &faults;
    ScanState state{kScanRunning};
    ASSERT_TRUE(ReadFatPartitionFrom(src, part, state));
    auto paths = test::ListPaths(part);
    const std::string frag = "fragmented c.bin";
    ASSERT_TRUE(paths.count(frag));
    const test::Exported e = ExportNode(part, *GetNode(part, paths[frag]), kClearFile, &src);
    CloseSource(src);
    for (const auto& m : manifest)
        if (m.path == frag) {
            EXPECT_EQ(test::Sha256Hex(e.bytes), m.sha);
        }
    FreeTable(part);
}

// Corruptions of a private fixture copy, patched in place.
struct Image {
    std::string path;
    FatGeometry g;
    std::vector<uint8_t> Read(uint64_t off, size_t n) const {
        return test::ReadFileBytes(path, off, n);
    }
    void Write(uint64_t off, const void* p, size_t n) {
        std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
        f.seekp(std::streamoff(off));
        f.write(static_cast<const char*>(p), std::streamsize(n));
    }
    void U8(uint64_t off, uint8_t v) { Write(off, &v, 1); }
    void U16(uint64_t off, uint16_t v) {
        uint8_t b[2];
        StoreU16(b, v);
        Write(off, b, 2);
    }
    void U32(uint64_t off, uint32_t v) {
        uint8_t b[4];
        StoreU32(b, v);
        Write(off, b, 4);
    }
    static uint64_t At(uint64_t lba) { return lba * 512; }
    uint32_t Fat(uint32_t c) const {
        const auto t = Read(At(g.fatLba), size_t(g.fatSectors) * 512);
        return FatEntry(g, t.data(), uint32_t(t.size()), c);
    }
    // Offset of the entry with this 11-byte short name in the directory whose
    // chain starts at cluster first (0: the FAT12/16 root area).
    uint64_t FindEntry(uint32_t first, const char* name11) const {
        std::vector<std::pair<uint64_t, size_t>> areas;
        if (first == 0) {
            areas.push_back({At(g.rootDirLba), size_t(g.rootEntries) * 32});
        } else {
            for (uint32_t c = first, n = 0; g.IsDataCluster(c) && n < 64; c = Fat(c), ++n)
                areas.push_back({At(g.ClusterLba(c)), g.ClusterBytes()});
        }
        for (auto [from, len] : areas) {
            const auto d = Read(from, len);
            for (size_t o = 0; o + 32 <= d.size(); o += 32)
                if (std::memcmp(&d[o], name11, 11) == 0) return from + o;
        }
        ADD_FAILURE() << "no entry " << name11;
        return 0;
    }
    uint64_t RootEntry(const char* name11) const {
        return FindEntry(g.fat32 ? g.rootCluster : 0, name11);
    }
    uint32_t EntryCluster(uint64_t off) const {
        const auto e = Read(off, 32);
        return (uint32_t(e[0x14] | e[0x15] << 8) << 16) | uint32_t(e[0x1A] | e[0x1B] << 8);
    }
    void SetEntryCluster(uint64_t off, uint32_t c) {
        U16(off + 0x14, uint16_t(c >> 16));
        U16(off + 0x1A, uint16_t(c));
    }
    void SetFat(uint32_t cluster, uint32_t value) {
        for (uint32_t f = 0; f < g.fatCount; ++f) {
            const uint64_t base = At(g.fatLba + uint64_t(f) * g.fatSectors);
            if (g.fat32)
                U32(base + cluster * 4ull, value);
            else
                U16(base + cluster * 2ull, uint16_t(value));
        }
    }
};

struct Corruption {
    const char* what;
    std::function<void(Image&)> apply;
    bool readOk;
    // Checks on the tree when reading succeeds (may be empty).
    std::function<void(PartInfo&)> check;
};

void CheckNoDuplicates(PartInfo& part) {
    // A loop must not make the same directory's entries appear twice.
    const auto paths = test::ListPaths(part);
    EXPECT_LT(part.nodeCount, 200u);
    EXPECT_TRUE(paths.count("docs/hello.txt"));
}

void RunCorruptions(const char* fixture, const std::vector<Corruption>& table) {
    for (const Corruption& c : table) {
        SCOPED_TRACE(c.what);
        Image img;
        img.path = test::FixtureCopy(fixture, "fat_hostile.img");
        PartInfo probe;
        ASSERT_TRUE(test::LoadFatPart(img.path, probe));
        img.g = GeometryOf(probe);
        c.apply(img);
        // The damaged boot sector is what the reader gets, recognisable or not.
        PartInfo part = probe;
        const auto boot = img.Read(0, 512);
        std::memcpy(part.bootSector, boot.data(), 512);
        ScanState state{kScanRunning};
        const bool ok = ReadFatPartition(part, state);
        EXPECT_EQ(ok, c.readOk);
        if (ok && c.check) c.check(part);
        // Every file found can be previewed and exported without harm.
        for (uint32_t id = kRootNodeId + 1; id < part.nodeCount; ++id) {
            const FileNode* n = GetNode(part, id);
            if (!n || IsDirectory(*n) || n->size > (1u << 20)) continue;
            const FileNode node = *n;
            std::vector<uint8_t> head(4096);
            ReadFatFileData(part, node, 4096, head.data());
            ExportNode(part, node, kRecoverAll);
        }
        FreeTable(part);
    }
}

TEST(FatReader, HostileFat16Volume) {
    const std::vector<Corruption> table = {
        {"sectors per cluster 0", [](Image& i) { i.U8(0x0D, 0); }, false, {}},
        {"bytes per sector 0", [](Image& i) { i.U16(0x0B, 0); }, true, {}},
        {"huge root entry count", [](Image& i) { i.U16(0x11, 0xFFFF); }, true, {}},
        {"FAT runs past the volume", [](Image& i) { i.U16(0x16, 0xFFFF); }, false, {}},
        {"no total sectors",
         [](Image& i) {
             i.U16(0x13, 0);
             i.U32(0x20, 0);
         },
         false,
         {}},
        {"directory chain loops on itself",
         [](Image& i) {
             const uint32_t c = i.EntryCluster(i.RootEntry("DOCS       "));
             i.SetFat(c, c);
         },
         true, CheckNoDuplicates},
        {"subdirectory names its parent as its own cluster",
         [](Image& i) {
             const uint64_t docs = i.RootEntry("DOCS       ");
             const uint32_t c = i.EntryCluster(docs);
             const uint64_t deep = i.FindEntry(c, "DEEP       ");
             i.SetEntryCluster(deep, c);
         },
         true, CheckNoDuplicates},
        {"entries point outside the volume",
         [](Image& i) {
             i.SetEntryCluster(i.RootEntry("DOCS       "), 0xFFF0);
             i.SetEntryCluster(i.RootEntry("EXACT   BIN"), 0xFFF5);
         },
         true,
         {}},
        {"subdirectory without its dot entries",
         [](Image& i) {
             const uint32_t c = i.EntryCluster(i.RootEntry("DOCS       "));
             i.U8(Image::At(i.g.ClusterLba(c)), 'X');
         },
         true,
         [](PartInfo& p) {
             const auto paths = test::ListPaths(p);
             EXPECT_TRUE(paths.count("docs"));
             EXPECT_FALSE(paths.count("docs/hello.txt"));
             EXPECT_TRUE(paths.count("照片/旅行 2019/长城.jpg"));
         }},
        {"deleted directory claims a live directory's cluster",
         [](Image& i) {
             // scratch (read before reuse) gets a deleted directory entry
             // whose first cluster is that of the live directory reuse.
             const uint32_t reuse = i.EntryCluster(i.RootEntry("REUSE      "));
             const uint64_t frag =
                 i.FindEntry(i.EntryCluster(i.RootEntry("SCRATCH    ")), "\xE5RAG_A  BIN");
             i.U8(frag + 11, 0x10);
             i.SetEntryCluster(frag, reuse);
         },
         true,
         [](PartInfo& p) {
             const auto paths = test::ListPaths(p);
             EXPECT_TRUE(paths.count("reuse/victim file.dat"));
             EXPECT_FALSE(paths.count("scratch/!RAG_A.BIN/victim file.dat"));
         }},
        {"file chain loops",
         [](Image& i) {
             const uint32_t c = i.EntryCluster(i.RootEntry("EXACT   BIN"));
             i.SetFat(c, c);
         },
         true,
         {}},
        {"root area full of long-name entries",
         [](Image& i) {
             for (uint32_t e = 0; e < i.g.rootEntries; ++e) {
                 const uint64_t p = i.At(i.g.rootDirLba) + e * 32ull;
                 i.U8(p, uint8_t(0x40 | (e % 25)));
                 i.U8(p + 11, 0x0F);
             }
         },
         true,
         {}},
    };
    RunCorruptions("fat16/fat16.img.gz", table);
}

TEST(FatReader, HostileFat32Volume) {
    const std::vector<Corruption> table = {
        {"FAT size past the volume", [](Image& i) { i.U32(0x24, 0xFFFFFFFF); }, false, {}},
        {"root cluster out of range", [](Image& i) { i.U32(0x2C, 0x0FFFFFF0); }, true,
         [](PartInfo& p) { EXPECT_EQ(p.nodeCount, kRootNodeId + 1); }},
        {"subdirectory points at the root",
         [](Image& i) { i.SetEntryCluster(i.RootEntry("DOCS       "), i.g.rootCluster); },
         true,
         {}},
        {"root chain loops", [](Image& i) { i.SetFat(i.g.rootCluster, i.g.rootCluster); }, true,
         [](PartInfo& p) { EXPECT_LT(p.nodeCount, 200u); }},
        {"cluster number with reserved top bits",
         [](Image& i) {
             const uint64_t docs = i.RootEntry("DOCS       ");
             i.SetEntryCluster(docs, i.EntryCluster(docs) | 0xF0000000);
         },
         true, CheckNoDuplicates},
    };
    RunCorruptions("fat32/fat32.img.gz", table);
}

// Random damage to the boot sector, the FATs and the first directory
// clusters of the FAT12 fixture: the reader must neither crash nor hang.
TEST(FatReader, RandomDamageIsSurvived) {
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (int round = 0; round < 120; ++round) {
        SCOPED_TRACE(round);
        Image img;
        img.path = test::FixtureCopy("fat16/fat12.img.gz", "fat_random.img");
        PartInfo part;
        ASSERT_TRUE(test::LoadFatPart(img.path, part));
        img.g = GeometryOf(part);
        const uint64_t span = Image::At(img.g.dataLba) + 16ull * img.g.ClusterBytes();
        const int flips = 1 + int(next() % 40);
        for (int f = 0; f < flips; ++f) {
            // Boot-sector damage in one round of four, metadata damage in the rest.
            const uint64_t off = (round % 4 == 0) ? next() % 64 : next() % span;
            img.U8(off, uint8_t(next()));
        }
        const auto boot = img.Read(0, 512);
        std::memcpy(part.bootSector, boot.data(), 512);
        ScanState state{kScanRunning};
        ReadFatPartition(part, state);
        for (uint32_t id = kRootNodeId + 1; id < part.nodeCount; ++id) {
            const FileNode* n = GetNode(part, id);
            if (!n || IsDirectory(*n) || n->size > (1u << 20)) continue;
            const FileNode node = *n;
            std::vector<uint8_t> head(2048);
            ReadFatFileData(part, node, 2048, head.data());
            ExportNode(part, node, kRecoverAll);
        }
        FreeTable(part);
    }
}

// A FAT larger than 128 MiB is not held whole: the copy is cut to an eighth
// of the partition's cluster count in sectors (at most 0x40000 sectors).
TEST(FatReader, OversizedFatCopyIsCut) {
    const std::string fixture = test::FixturePath("fat32/fat32.img.gz");
    const std::vector<uint8_t> boot = test::ReadFileBytes(fixture, 0, 512);
    ASSERT_EQ(boot.size(), 512u);
    const std::string path = test::TempDir("fat_big") + "/big.img";
    const uint32_t total = 0x100000;  // 512 MiB, sparse
    {
        std::vector<uint8_t> b = boot;
        StoreU32(&b[0x20], total);
        StoreU32(&b[0x24], 0x50000);  // two FATs of 160 MiB each
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(b.data()), 512);
        out.seekp(std::streamoff(uint64_t(total) * 512 - 1));
        out.put(0);
    }
    PartInfo part;
    ASSERT_TRUE(test::LoadFatPart(path, part));
    std::memcpy(part.bootSector, test::ReadFileBytes(path, 0, 512).data(), 512);
    part.fsKind = kFsFat32;
    part.sizeSectors = total;
    ScanState state{kScanRunning};
    EXPECT_TRUE(ReadFatPartition(part, state));
    EXPECT_EQ(part.fsTableBytes, (total / 8) * 512);
    EXPECT_EQ(part.nodeCount, kRootNodeId + 1);  // an empty root
    FreeTable(part);
    std::remove(path.c_str());
}

// After a complete deep scan, deleted FAT32 entries go through first-cluster
// resolution; on this volume every cluster number fits in 16 bits, so the
// deleted files must still export to their original bytes.
TEST(FatReader, FirstClusterResolutionAfterACompleteScan) {
    const std::string image = test::FixturePath("fat32/fat32.img.gz");
    PartInfo probe;
    ASSERT_TRUE(test::LoadFatPart(image, probe));
    const FatGeometry g = GeometryOf(probe);
    std::vector<FatScanFind> finds;
    ReadFatFixture plain(image);
    ASSERT_TRUE(plain.ok);
    for (uint32_t id = kRootNodeId + 1; id < plain.part.nodeCount; ++id) {
        const FileNode* n = GetNode(plain.part, id);
        if (n && g.IsDataCluster(n->firstCluster))
            finds.push_back({g.ClusterLba(n->firstCluster), n->typeId});
    }
    SetFatScanFinds(finds);
    ASSERT_TRUE(FatCompleteDeepScanAvailable());
    ReadFatFixture resolved(image);
    ClearFatScanFinds();
    ASSERT_TRUE(resolved.ok);
    for (const auto& m : test::ReadManifest("fat32/manifest.tsv")) {
        if (m.sha == "-" || m.state != "deleted-file") continue;
        SCOPED_TRACE(m.path);
        const FileNode* n = resolved.Find(m.path);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(test::Sha256Hex(ExportNode(resolved.part, *n, kClearFile).bytes), m.sha);
    }
}

}  // namespace
}  // namespace kestrel
