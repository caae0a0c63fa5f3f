// End to end: kestrel-cli recover on disk images made by real tools — deleted
// files of a readable volume (mode 1), a volume whose boot sector is gone or
// that was formatted over (mode 2), a disk whose MBR is gone (mode 3) — with
// every export compared by sha256 and modification time against the
// manifests the fixture scripts wrote.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/recover_support.h"
#include "tests/support/fixture.h"
#include "tests/support/manifest.h"

namespace {

using kestrel::test::CliResult;
using kestrel::test::ExportedFile;
using kestrel::test::ExportedFiles;
using kestrel::test::ManifestLine;
using kestrel::test::ReadManifest;
using kestrel::test::Recover;
namespace fs = std::filesystem;

const char kFoundFiles[] = "找到的文件";

bool IsFoundFilesFolder(const std::string& partition) {
    return partition.find(kFoundFiles) != std::string::npos;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void ZeroSector(const std::string& image, uint64_t lba) {
    std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(lba * 512));
    const std::string zeros(512, '\0');
    f.write(zeros.data(), 512);
}

const ExportedFile* FindByPath(const std::vector<ExportedFile>& files, const std::string& path) {
    for (const ExportedFile& f : files)
        if (!IsFoundFilesFolder(f.partition) && f.path == path) return &f;
    return nullptr;
}

// The exported file with this name and content (any folder), or null.
const ExportedFile* FindByNameAndBytes(const std::vector<ExportedFile>& files,
                                       const ManifestLine& m) {
    for (const ExportedFile& f : files)
        if (!IsFoundFilesFolder(f.partition) && BaseName(f.path) == BaseName(m.path) &&
            f.sha == m.sha)
            return &f;
    return nullptr;
}

// Every manifest file that `want` selects came back at its path, byte for
// byte, with its modification time.
void ExpectExportedAtPaths(const std::vector<ExportedFile>& files,
                           const std::vector<ManifestLine>& manifest,
                           bool (*want)(const ManifestLine&)) {
    size_t checked = 0;
    for (const ManifestLine& m : manifest) {
        if (m.IsDir() || m.sha == "-" || !want(m)) continue;
        ++checked;
        const ExportedFile* f = FindByPath(files, m.path);
        if (!f) {
            ADD_FAILURE() << "not exported: " << m.path;
            continue;
        }
        EXPECT_EQ(f->sha, m.sha) << m.path;
        EXPECT_EQ(f->modified, m.modified) << m.path;
    }
    EXPECT_GT(checked, 0u);
}

bool AnyDeletedFile(const ManifestLine& m) { return m.IsDeleted(); }
bool AnyFile(const ManifestLine&) { return true; }

struct Volume {
    const char* image;
    const char* manifest;
};
void PrintTo(const Volume& v, std::ostream* os) { *os << v.image; }

const Volume kVolumes[] = {
    {"ntfs/ntfs.img.gz", "ntfs/manifest.tsv"},
    {"fat32/fat32.img.gz", "fat32/manifest.tsv"},
    {"exfat/exfat.img.gz", "exfat/manifest.tsv"},
};

class RecoverVolumeTest : public ::testing::TestWithParam<Volume> {
protected:
    std::string Work(const char* what) {
        std::string name = std::string(what) + "-" + GetParam().image;
        for (char& c : name)
            if (c == '/' || c == '.') c = '_';
        return kestrel::test::TempDir(name);
    }
};

// Mode 1: the deleted files whose clusters were not reused come back with
// their names, folders, bytes and times.
TEST_P(RecoverVolumeTest, DeletedFilesComeBackIntact) {
    const std::string image = kestrel::test::FixturePath(GetParam().image);
    const std::string work = Work("mode1");
    const std::string out = work + "/out";
    const CliResult r = Recover({image, "--mode", "1", "--part", "1", "--out", out}, work);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("导出结束！本次恢复"), std::string::npos) << r.out;
    const std::vector<ExportedFile> files = ExportedFiles(out);
    ExpectExportedAtPaths(files, ReadManifest(GetParam().manifest), &AnyDeletedFile);
    // Mode 1 lists deleted files only: no live file of the volume is written.
    for (const ManifestLine& m : ReadManifest(GetParam().manifest))
        if (!m.IsDir() && !m.IsDeleted()) {
            EXPECT_EQ(FindByPath(files, m.path), nullptr) << m.path;
        }
}

// Mode 2 on the volume with its boot sector wiped: the reader starts from the
// backup boot sector, and the whole tree comes back.
TEST_P(RecoverVolumeTest, WipedBootSectorTreeComesBackFromTheBackup) {
    const std::string work = Work("wiped");
    const std::string image = kestrel::test::FixtureCopy(GetParam().image, "wiped.img");
    ZeroSector(image, 0);
    const std::string out = work + "/out";
    const CliResult r = Recover({image, "--mode", "2", "--part", "0", "--out", out}, work);
    ASSERT_EQ(r.code, 0) << r.err;
    ExpectExportedAtPaths(ExportedFiles(out), ReadManifest(GetParam().manifest), &AnyFile);
}

INSTANTIATE_TEST_SUITE_P(Volumes, RecoverVolumeTest, ::testing::ValuesIn(kVolumes));

// Mode 1 needs the file system for its allocation data; an image with none
// (a disk without its MBR) is recovered whole as in mode 2.
TEST(RecoverModeTest, ModeOneWithoutFileSystemFallsBackToModeTwo) {
    const std::string work = kestrel::test::TempDir("recover-mode1-fallback");
    const std::string image = kestrel::test::FixtureCopy("scan/disk.img.gz", "fallback.img");
    ZeroSector(image, 0);
    const CliResult r = Recover({image, "--mode", "1", "--part", "0", "--tree"}, work);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("(mode 2)"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("\tphotos/2019/beach.jpg\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\t照片/snow.jpg\n"), std::string::npos) << r.out;
}

struct Reformatted {
    const char* image;
    const char* manifest;
};
void PrintTo(const Reformatted& v, std::ostream* os) { *os << v.image; }

class RecoverReformatTest : public ::testing::TestWithParam<Reformatted> {};

// Mode 2 on a volume formatted over: the old files come back from loose file
// records or directory sectors by name, bytes and time, and the carved
// pictures fill the found-files partition.
TEST_P(RecoverReformatTest, OldFilesComeBackAndCarvedFilesAreFound) {
    std::string name = GetParam().image;
    for (char& c : name)
        if (c == '/' || c == '.') c = '_';
    const std::string work = kestrel::test::TempDir("reformat-" + name);
    const std::string image = kestrel::test::FixturePath(GetParam().image);
    const std::string out = work + "/out";
    const CliResult r = Recover({image, "--mode", "2", "--part", "0", "--out", out}, work);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<ExportedFile> files = ExportedFiles(out);
    std::string missing;
    for (const ManifestLine& m : ReadManifest(GetParam().manifest)) {
        if (m.IsDir()) continue;
        const ExportedFile* f = FindByNameAndBytes(files, m);
        if (!f) {
            missing += " " + m.path;
            continue;
        }
        EXPECT_EQ(f->modified, m.modified) << m.path;
    }
    EXPECT_EQ(missing, "");
    const std::string jpeg =
        kestrel::test::Sha256File(std::string(KESTREL_TEST_DATA) + "/scan/sample.jpg");
    size_t carvedPictures = 0;
    for (const ExportedFile& f : files)
        if (IsFoundFilesFolder(f.partition) && f.sha == jpeg) ++carvedPictures;
    EXPECT_GE(carvedPictures, 1u);
}

INSTANTIATE_TEST_SUITE_P(Volumes, RecoverReformatTest,
                         ::testing::Values(Reformatted{"reformat/ntfs_reformat.img.gz",
                                                       "reformat/manifest_ntfs.tsv"},
                                           Reformatted{"reformat/fat32_reformat.img.gz",
                                                       "reformat/manifest_fat32.tsv"}));

// Mode 3 on a disk whose MBR is gone: the four file systems are found again
// (boot records, the EBR, file-record runs) and their files come back.
TEST(RecoverDiskTest, WipedMbrPartitionsAreFoundAgain) {
    const std::string work = kestrel::test::TempDir("recover-wiped-mbr");
    const std::string image = kestrel::test::FixtureCopy("scan/disk.img.gz", "wiped-mbr.img");
    ZeroSector(image, 0);
    const std::string out = work + "/out";
    const CliResult r = Recover({image, "--mode", "3", "--out", out}, work);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<ExportedFile> files = ExportedFiles(out);
    const std::string data = KESTREL_TEST_DATA;
    const std::string jpeg = kestrel::test::Sha256File(data + "/scan/sample.jpg");
    struct Expect {
        const char* path;
        std::string sha;
    };
    const std::string readmeSha = [&] {
        const std::string p = work + "/readme.txt";
        std::ofstream(p) << "kestrel scan fixture\n";
        return kestrel::test::Sha256File(p);
    }();
    const Expect expected[] = {
        {"photos/2019/beach.jpg", jpeg},   // FAT32
        {"readme.txt", readmeSha},         // FAT32 root
        {"照片/snow.jpg", jpeg},           // NTFS
        {"music/live/cover.jpg", jpeg},    // exFAT
        {"music/readme.txt", readmeSha},   // exFAT
        {"backup/readme.txt", readmeSha},  // FAT16 logical drive
    };
    for (const Expect& e : expected) {
        const ExportedFile* f = FindByPath(files, e.path);
        ASSERT_NE(f, nullptr) << e.path;
        EXPECT_EQ(f->sha, e.sha) << e.path;
    }
    std::set<std::string> partitions;
    for (const ExportedFile& f : files)
        if (!IsFoundFilesFolder(f.partition)) partitions.insert(f.partition);
    EXPECT_GE(partitions.size(), 4u);
}

// The tree names every partition by its label and lists the same lines as
// kestrel-cli ls; nothing is written.
TEST(RecoverTreeTest, TreeListsThePartitionsAndTheirFiles) {
    const std::string work = kestrel::test::TempDir("recover-tree");
    const std::string image = kestrel::test::FixturePath("ntfs/ntfs.img.gz");
    const CliResult r = Recover({image, "--mode", "1", "--part", "1", "--tree"}, work);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(work + "/Kestrel恢复的文件"));
    std::vector<std::string> labels;
    std::set<std::string> lines;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        if (line.find('\t') == std::string::npos)
            labels.push_back(line);
        else
            lines.insert(line);
    }
    bool volumeLabel = false;
    for (const std::string& l : labels) volumeLabel |= l.find(kFoundFiles) == std::string::npos;
    EXPECT_TRUE(volumeLabel) << r.out;
    // Files by their whole line; directories by state and path (their size
    // column is the reader's).
    auto listed = [&](const ManifestLine& m) {
        if (!m.IsDir())
            return lines.count(m.state + "\t" + m.size + "\t" + m.modified + "\t" + m.path) == 1;
        for (const std::string& l : lines)
            if (l.rfind(m.state + "\t", 0) == 0 && l.size() > m.path.size() + 1 &&
                l.compare(l.size() - m.path.size() - 1, std::string::npos, "\t" + m.path) == 0)
                return true;
        return false;
    };
    for (const ManifestLine& m : ReadManifest("ntfs/manifest.tsv"))
        if (m.IsDeleted()) {
            EXPECT_TRUE(listed(m)) << m.path;
        }
}

// The filter options narrow what is exported, with the filter's rules.
TEST(RecoverFilterTest, FilterOptionsNarrowTheExport) {
    const std::string image = kestrel::test::FixturePath("ntfs/ntfs.img.gz");
    const std::vector<ManifestLine> manifest = ReadManifest("ntfs/manifest.tsv");
    struct Case {
        std::vector<std::string> args;
        bool (*want)(const ManifestLine&);
    };
    const Case cases[] = {
        {{"--filter", "*.doc;main"},
         [](const ManifestLine& m) {
             return m.path.size() > 4 && (m.path.compare(m.path.size() - 4, 4, ".doc") == 0 ||
                                          BaseName(m.path).find("main") != std::string::npos);
         }},
        {{"--filter", "*.TXT"},
         [](const ManifestLine& m) {
             return m.path.size() > 4 && m.path.compare(m.path.size() - 4, 4, ".txt") == 0;
         }},
        {{"--min-kb", "15", "--max-kb", "40"},
         [](const ManifestLine& m) {
             const unsigned long long kb = std::stoull(m.size) / 1024;
             return kb >= 15 && kb <= 40;
         }},
        {{"--modified-from", "2015-01-01", "--modified-to", "2015-12-31"},
         [](const ManifestLine& m) { return m.modified.rfind("2015-", 0) == 0; }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const std::string work = kestrel::test::TempDir("recover-filter-" + std::to_string(n++));
        std::vector<std::string> args{image, "--mode", "1", "--part", "1", "--out", work};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliResult r = Recover(args, work);
        ASSERT_EQ(r.code, 0) << r.err;
        std::set<std::string> got, want;
        for (const ExportedFile& f : ExportedFiles(work))
            if (!IsFoundFilesFolder(f.partition)) got.insert(f.path);
        for (const ManifestLine& m : manifest)
            if (!m.IsDir() && m.IsDeleted() && c.want(m)) want.insert(m.path);
        EXPECT_FALSE(want.empty());
        EXPECT_EQ(got, want);
    }
}

// A second export into the same folder: skip and ask (answered no when the
// input is not a terminal) keep what is there, overwrite replaces it.
TEST(RecoverPolicyTest, OnExistsDecidesAboutFilesAlreadyThere) {
    const std::string work = kestrel::test::TempDir("recover-exists");
    const std::string image = kestrel::test::FixturePath("fat32/fat32.img.gz");
    const std::vector<std::string> base{image, "--mode", "1", "--part", "1", "--out", work};
    ASSERT_EQ(Recover(base, work).code, 0);
    const ExportedFile* first = nullptr;
    const std::vector<ExportedFile> files = ExportedFiles(work);
    for (const ExportedFile& f : files)
        if (!IsFoundFilesFolder(f.partition) && f.path == "docs/old notes.txt") first = &f;
    ASSERT_NE(first, nullptr);
    const std::string path = work + "/Kestrel恢复的文件/" + first->partition + "/" + first->path;
    struct Case {
        const char* policy;
        bool replaced;
    };
    for (const Case& c : {Case{"skip", false}, Case{"ask", false}, Case{"overwrite", true}}) {
        SCOPED_TRACE(c.policy);
        std::ofstream(path, std::ios::trunc) << "changed";
        std::vector<std::string> args = base;
        args.insert(args.end(), {"--on-exists", c.policy});
        ASSERT_EQ(Recover(args, work).code, 0);
        EXPECT_EQ(kestrel::test::Sha256File(path) == first->sha, c.replaced);
    }
}

TEST(RecoverArgsTest, BadArgumentsAndUnreadableInputExitWith2) {
    const std::string work = kestrel::test::TempDir("recover-args");
    const std::string image = kestrel::test::FixturePath("fat32/fat32.img.gz");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {image},
        {image, "--mode", "4", "--out", work},
        {image, "--mode", "3", "--part", "1", "--out", work},
        {image, "--mode", "2", "--part", "x", "--out", work},
        {image, "--mode", "2", "--part", "7", "--out", work},
        {image, "--mode", "1", "--part", "1", "--out", work, "--on-exists", "always"},
        {image, "--mode", "1", "--part", "1", "--out", work, "--on-error", "zeros"},
        {image, "--mode", "1", "--part", "1", "--out", work, "--filter", "a.b"},
        {image, "--mode", "1", "--part", "1", "--out", work, "--filter", "a|b"},
        {image, "--mode", "1", "--part", "1", "--out", work, "--min-kb", "1k"},
        {image, "--mode", "1", "--part", "1", "--out", work, "--min-kb", "9", "--max-kb", "8"},
        {image, "--mode", "1", "--part", "1", "--out", work, "--max-kb", "140000000"},
        {image, "--mode", "1", "--part", "1", "--out", work, "--modified-from", "2021-02-30"},
        {image, "--mode", "1", "--part", "1", "--out", work, "--modified-from", "2022-01-02",
         "--modified-to", "2022-01-01"},
        {image, "--mode", "1", "--part", "1", "--out", work, "extra"},
        {work + "/no-such.img", "--mode", "3", "--out", work},
        {image, "--mode", "1", "--part", "1", "--out", image + "/inside-a-file"},
    };
    for (const std::vector<std::string>& args : cases) {
        std::string text;
        for (const std::string& a : args) text += a + " ";
        SCOPED_TRACE(text);
        const CliResult r = Recover(args, work);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find("kestrel-cli recover: "), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(work + "/Kestrel恢复的文件"));
}

}  // namespace
