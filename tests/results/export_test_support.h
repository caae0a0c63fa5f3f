#pragma once
// Result sets for the export tests: a fixture image read into a set with
// every node checked, an export run on the calling thread, and reading the
// exported tree back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "app/run_state.h"
#include "fs/file_node.h"
#include "fs/partition_tree.h"
#include "fs/result_set.h"
#include "platform/wide_text.h"
#include "results/browse_queries.h"
#include "results/export.h"
#include "results/export_names.h"
#include "storage/image_partitions.h"
#include "tests/fs/fat_fixture_support.h"
#include "tests/fs/fat_sha256.h"
#include "tests/support/fixture.h"

namespace kestrel::test {

// Times are compared in UTC, the zone the fixture manifests were written in;
// every file is listed (mode 2 lists live and deleted files).
class ExportTestBase : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        savedMode_ = kestrel::Run().RecoverMode;
        kestrel::Run().RecoverMode = kModePartitionFiles;
    }
    void TearDown() override { kestrel::Run().RecoverMode = savedMode_; }

private:
    int32_t savedMode_ = 0;
};

struct LoadedSet {
    ResultSet rs;
    uint32_t slot = 0;
    bool ok = false;

    LoadedSet() { ResetResultSet(rs); }
    explicit LoadedSet(const std::string& image) : LoadedSet() {
        PartInfo part;
        if (!FindImagePartition(Utf16FromUtf8(image), 0, part)) return;
        ScanState state{kScanRunning};
        if (!ReadPartitionTree(part, state)) return;
        Add(part);
    }
    // Hands a built partition to the set and checks all of it.
    void Add(PartInfo& part) {
        slot = rs.partitionCount;
        ok = AddPartition(rs, part, nullptr, false);
        if (!ok) FreeTable(part);
        if (ok) CheckAll(1);
    }
    PartInfo& Part() { return rs.partitions[slot]; }
    void CheckAll(uint32_t state) {
        FileNode* root = GetNode(Part(), kRootNodeId);
        if (root) SetCheckState(*root, state);
        SetCheckStateBelow(rs, slot, kRootNodeId, state);
    }
    FileNode* Find(const std::string& path) {
        auto paths = ListPaths(Part());
        auto it = paths.find(path);
        return it == paths.end() ? nullptr : GetNode(Part(), it->second);
    }
    // Where the export puts the partition's tree below target.
    std::string PartDir(const std::string& target) {
        return target + "/" + Utf8FromWide(kExportRootName) + "/" +
               Utf8FromWide(PartitionLabel(rs, slot));
    }
};

struct ExportRun {
    uint32_t filesDone = 0;
    uint64_t bytesDone = 0;
    int32_t status = 0;
};

inline ExportRun RunExportInto(ResultSet& rs, const std::string& target,
                               CollisionPolicy collision = kOverwrite,
                               ReadErrorPolicy readErrors = kKeepPartial) {
    ExportJob job;
    ExportOptions options;
    options.targetDir = Utf16FromUtf8(target);
    options.collisionPolicy = collision;
    options.readErrorPolicy = readErrors;
    PrepareExportJob(job, rs, options);
    RunExport(job);
    return {job.filesDone, job.bytesDone, job.status.load()};
}

inline std::string FileSha(const std::string& path) { return Sha256Hex(ReadFileBytes(path)); }

inline std::string ModifiedUtc(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return "missing";
    struct tm tm;
    gmtime_r(&st.st_mtime, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

inline std::string ReadText(const std::string& path) {
    const std::vector<uint8_t> b = ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// Every path below base, relative to it.
inline std::vector<std::string> AllPaths(const std::string& base) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(base))
        out.push_back(std::filesystem::relative(e.path(), base).string());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace kestrel::test
