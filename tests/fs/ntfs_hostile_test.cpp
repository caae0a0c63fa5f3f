// Damaged copies of the NTFS fixture: every case must read without a crash,
// a hang or an out-of-bounds access, and lose no more than the damaged part.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fs/ntfs_attributes.h"
#include "fs/ntfs_record_summary.h"
#include "ntfs_fixture_support.h"
#include "storage/ntfs_fixup.h"

namespace kestrel {
namespace {

const char kImage[] = "ntfs/ntfs.img.gz";

struct RecordInfo {
    uint64_t offset = 0;  // byte offset of the record in the image
    uint32_t number = 0;
};

// The FILE records of the image by name, found with the deep scan's summary.
std::map<std::string, RecordInfo> RecordsByName(const std::string& image) {
    const std::vector<uint8_t> boot = test::ReadFileBytes(image, 0, 512);
    const ByteView b(boot.data(), boot.size());
    const uint64_t mft = b.U64(0x30) * b.U8(0x0D) * 512;
    std::map<std::string, RecordInfo> out;
    for (uint32_t i = 0; i < 256; ++i) {
        const std::vector<uint8_t> rec = test::ReadFileBytes(image, mft + i * 1024ull, 1024);
        if (rec.size() != 1024) break;
        const auto s = BuildFileRecordSummary(ByteView(rec.data(), rec.size()));
        if (s) out[Utf8FromWide(s->name)] = {mft + i * 1024ull, s->recordNumber};
    }
    return out;
}

// Offset inside a record of its first attribute of a type (0 = the header).
size_t AttributeOffset(const std::string& image, uint64_t recordOffset, uint32_t type) {
    if (type == 0) return 0;
    std::vector<uint8_t> rec = test::ReadFileBytes(image, recordOffset, 1024);
    if (rec.size() != 1024 || !ApplyNtfsFixup(rec.data(), rec.size())) return SIZE_MAX;
    size_t found = SIZE_MAX;
    ForEachAttribute(ByteView(rec.data(), rec.size()), [&](const NtfsAttribute& a) {
        if (a.type != type) return true;
        found = a.offset;
        return false;
    });
    return found;
}

void Patch(const std::string& path, uint64_t offset, const std::vector<uint8_t>& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(offset));
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> Le32(uint32_t v) {
    return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
}

struct Damage {
    std::string record;  // "" = the boot sector
    uint32_t attribute;  // 0 = the record header
    size_t field;        // offset inside the attribute (or header)
    std::vector<uint8_t> bytes;
};

enum Where { kAbsent, kInPlace, kLost };

struct Case {
    const char* what;
    std::vector<Damage> damage;
    bool readOk;
    std::string path;  // checked when the read succeeds
    Where where;
};

TEST(NtfsHostile, DamagedVolumes) {
    const std::string clean = test::FixturePath(kImage);
    const auto records = RecordsByName(clean);
    ASSERT_TRUE(records.count("big.bin") && records.count("docs") && records.count("notes"));
    const uint32_t docs = records.at("docs").number;
    const uint32_t notes = records.at("notes").number;
    const std::vector<uint8_t> boot = test::ReadFileBytes(clean, 0, 512);
    const uint16_t mftCluster = uint16_t(ByteView(boot.data(), 512).U64(0x30));

    const Case cases[] = {
        {"cluster size 0", {{"", 0, 0x0D, {0}}}, false, "", kAbsent},
        {"MFT and mirror beyond the device",
         {{"", 0, 0x30, {0, 0, 0, 0, 0, 0, 0, 1}}, {"", 0, 0x38, {0, 0, 0, 0, 0, 0, 0x10, 0}}},
         false,
         "",
         kAbsent},
        {"MFT position wrong: the mirror is used",
         {{"", 0, 0x30, {1, 0, 0, 0, 0, 0, 0, 0}}},
         true,
         "big.bin",
         kInPlace},
        {"MFT data attribute made resident: the mirror is used",
         {{"$MFT", 0x80, 0x08, {0}}},
         true,
         "big.bin",
         kInPlace},
        {"MFT run of 2^31 clusters",
         {{"$MFT",
           0x80,
           0x40,
           {0x24, 0xFF, 0xFF, 0xFF, 0x7F, uint8_t(mftCluster), uint8_t(mftCluster >> 8), 0}}},
         true,
         "big.bin",
         kInPlace},
        {"first attribute offset past the record",
         {{"big.bin", 0, 0x14, {0xF8, 0x03}}},
         true,
         "big.bin",
         kAbsent},
        {"first attribute offset far outside",
         {{"big.bin", 0, 0x14, {0xFF, 0xFF}}},
         true,
         "big.bin",
         kAbsent},
        {"attribute length 0", {{"big.bin", 0x10, 0x04, Le32(0)}}, true, "big.bin", kAbsent},
        {"attribute length huge",
         {{"big.bin", 0x10, 0x04, Le32(0xFFFFFF00)}},
         true,
         "big.bin",
         kAbsent},
        {"file name value offset past the attribute",
         {{"big.bin", 0x30, 0x14, {0xF0, 0x0F}}},
         true,
         "big.bin",
         kAbsent},
        {"file name length past the attribute",
         {{"big.bin", 0x30, 0x18 + 0x40, {0xFF}}},
         true,
         "big.bin",
         kAbsent},
        {"record number past the table limit",
         {{"big.bin", 0, 0x2C, Le32(2000000)}},
         true,
         "big.bin",
         kAbsent},
        {"fix-up mismatch", {{"big.bin", 0, 510, {0x55, 0x66}}}, true, "big.bin", kAbsent},
        {"update sequence far past the record",
         {{"big.bin", 0, 0x04, {0x30, 0x66}}},
         true,
         "big.bin",
         kAbsent},
        {"run-list offset past the attribute",
         {{"big.bin", 0x80, 0x20, {0xFF, 0xFF}}},
         true,
         "big.bin",
         kInPlace},
        {"directory naming itself as parent",
         {{"docs", 0x30, 0x18, Le32(docs)}},
         true,
         "丢失的文件/docs/notes",
         kInPlace},
        {"two directories naming each other",
         {{"docs", 0x30, 0x18, Le32(notes)}},
         true,
         "丢失的文件/notes/docs",
         kInPlace},
        {"a file as parent",
         {{"docs", 0x30, 0x18, Le32(records.at("big.bin").number)}},
         true,
         "docs",
         kLost},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string copy = test::FixtureCopy(kImage, "ntfs_hostile" + std::to_string(n++));
        for (const Damage& d : c.damage) {
            uint64_t at = d.field;
            if (!d.record.empty()) {
                ASSERT_TRUE(records.count(d.record)) << d.record;
                const uint64_t rec = records.at(d.record).offset;
                const size_t attr = AttributeOffset(copy, rec, d.attribute);
                ASSERT_NE(attr, SIZE_MAX);
                at = rec + attr + d.field;
            }
            Patch(copy, at, d.bytes);
        }
        const auto start = std::chrono::steady_clock::now();
        test::ReadNtfsImage r(copy);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        ASSERT_TRUE(r.found);
        EXPECT_EQ(r.ok, c.readOk);
        if (!r.ok) continue;
        auto paths = test::ListPaths(r.part);
        // Undamaged files are all still there.
        EXPECT_TRUE(paths.count("照片/旅行 2019/长城.jpg") || c.path == "照片/旅行 2019/长城.jpg");
        switch (c.where) {
            case kAbsent:
                EXPECT_EQ(paths.count(c.path), 0u);
                break;
            case kInPlace:
                EXPECT_EQ(paths.count(c.path), 1u);
                break;
            case kLost:
                EXPECT_EQ(paths.count("丢失的文件/" + c.path), 1u);
                break;
        }
        // Every file found can be exported without trouble.
        for (const auto& [path, id] : paths) {
            const FileNode node = *GetNode(r.part, id);
            if (IsDirectory(node)) continue;
            test::ExportNtfsNode(r.part, node, kRecoverAll);
        }
    }
}

TEST(NtfsHostile, RunsBeyondTheVolume) {
    const std::string clean = test::FixturePath(kImage);
    const auto records = RecordsByName(clean);
    const std::string copy = test::FixtureCopy(kImage, "ntfs_far_runs");
    const uint64_t rec = records.at("big.bin").offset;
    const size_t data = AttributeOffset(copy, rec, 0x80);
    ASSERT_NE(data, SIZE_MAX);
    // 4 clusters at cluster 0x7F000000, far past the 12 MiB volume.
    Patch(copy, rec + data + 0x40, {0x41, 0x04, 0x00, 0x00, 0x00, 0x7F, 0x00});
    test::ReadNtfsImage r(copy);
    ASSERT_TRUE(r.ok);
    const FileNode* n = r.Find("big.bin");
    ASSERT_NE(n, nullptr);
    const test::Exported cleared = test::ExportNtfsNode(r.part, *n, kClearFile);
    EXPECT_FALSE(cleared.ok);
    EXPECT_TRUE(cleared.bytes.empty());
    // Zero-filled, and only as far as the runs reach.
    const test::Exported all = test::ExportNtfsNode(r.part, *n, kRecoverAll);
    EXPECT_TRUE(all.ok);
    EXPECT_EQ(all.bytes.size(), 4u * 4096);
    EXPECT_EQ(std::count(all.bytes.begin(), all.bytes.end(), 0), long(all.bytes.size()));
    std::vector<uint8_t> head(100, 0xAA);
    uint32_t got = 1;
    ScanState state{kScanRunning};
    EXPECT_TRUE(ReadNtfsFileData(r.part, *n, state, 100, head.data(), &got));
    EXPECT_EQ(got, 0u);
}

}  // namespace
}  // namespace kestrel
