// End to end: kestrel-cli preview on the reader fixtures (a partition's own
// tree) and on the result of a recovery (carved files and found directories),
// with the exit codes of its failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/recover_support.h"
#include "tests/support/fixture.h"
#include "tests/support/manifest.h"

namespace {

using kestrel::test::CliResult;

const char kHeader[] =
    "Offset  0  1  2  3  4  5  6  7   8  9  A  B  C  D  E  F                     \r\n";
const char kFolderTail[] = "个文件。\r\n鼠标左键双击目录，进入目录内查看更多文件！";

CliResult Preview(const std::vector<std::string>& args) {
    static int counter = 0;
    const std::string work = kestrel::test::TempDir("preview-" + std::to_string(counter++));
    std::vector<std::string> full{"preview"};
    full.insert(full.end(), args.begin(), args.end());
    CliResult r;
    r.code = kestrel::test::WaitCli(kestrel::test::SpawnCli(full, work + "/DiskScanData.dat",
                                                            work + "/out.txt", work + "/err.txt"));
    r.out = kestrel::test::ReadText(work + "/out.txt");
    r.err = kestrel::test::ReadText(work + "/err.txt");
    return r;
}

// The bytes a hex dump shows, read back from its hex columns.
std::vector<uint8_t> BytesOfHexDump(const std::string& dump) {
    std::vector<uint8_t> bytes;
    std::istringstream in(dump);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line) && line.size() >= 56) {
        for (size_t k = 0; k < 16; ++k) {
            const size_t col = k < 8 ? 7 + 3 * k : 8 + 3 * k;
            if (line[col] == ' ') break;
            bytes.push_back(uint8_t(std::stoul(line.substr(col, 2), nullptr, 16)));
        }
    }
    return bytes;
}

std::string Sha256Of(const std::vector<uint8_t>& bytes) {
    const std::string path = kestrel::test::TempDir("preview-sha") + "/bytes";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return kestrel::test::Sha256File(path);
}

TEST(PreviewCliTest, FilesAndFoldersOfAPartition) {
    const std::string ntfs = kestrel::test::FixturePath("ntfs/ntfs.img.gz");
    // A deleted file of unknown type that passes the text test: the dump,
    // an empty line, the text.
    const CliResult source = Preview({ntfs, "old project/src/main.c"});
    ASSERT_EQ(source.code, 0) << source.err;
    EXPECT_EQ(source.out,
              std::string(kHeader) +
                  "000000 69 6E 74 20 6D 61 69 6E  28 29 20 7B 7D 0A           int main() {}.  "
                  "\n\nint main() {}\n\n");

    const CliResult folder = Preview({ntfs, "--part", "0", "docs/notes"});
    ASSERT_EQ(folder.code, 0) << folder.err;
    EXPECT_EQ(folder.out,
              std::string(kHeader) +
                  "000000 00 00 00 00 00 00 00 00  00 00 00 00 00 00 00 00     ................"
                  "\n\n您选择了'docs'目录下的'notes'目录，此目录里有1" +
                  kFolderTail + "\n");

    // A FAT32 file in several clusters: the dump holds every byte.
    const std::string fat = kestrel::test::FixturePath("fat32/fat32.img.gz");
    const CliResult fragmented = Preview({fat, "fragmented c.bin"});
    ASSERT_EQ(fragmented.code, 0) << fragmented.err;
    EXPECT_EQ(Sha256Of(BytesOfHexDump(fragmented.out)),
              "a581c92c37b62cbd8dbbb74d8efbc5711da7dc06b0271069688f2d202e11346c");
}

TEST(PreviewCliTest, FilesOfARecoveryResult) {
    const std::string image = kestrel::test::FixturePath("reformat/fat32_reformat.img.gz");
    const std::vector<std::string> scan = {image, "--mode", "2", "--part", "0"};
    auto in = [&](const char* part, const char* path) {
        std::vector<std::string> args = scan;
        args.insert(args.end(), {"--result-part", part, path});
        return Preview(args);
    };
    // A carved picture of the found-files partition: its hex dump only.
    const std::string jpeg =
        kestrel::test::Sha256File(std::string(KESTREL_TEST_DATA) + "/scan/sample.jpg");
    const CliResult picture = in("0", "照片/jpg/00001692.jpg");
    ASSERT_EQ(picture.code, 0) << picture.err;
    EXPECT_EQ(picture.out.rfind(std::string(kHeader) + "000000 FF D8 FF", 0), 0u);
    EXPECT_EQ(picture.out.find("\n\n"), std::string::npos);
    EXPECT_EQ(Sha256Of(BytesOfHexDump(picture.out)), jpeg);

    const CliResult typeFolder = in("0", "照片");
    ASSERT_EQ(typeFolder.code, 0) << typeFolder.err;
    EXPECT_NE(typeFolder.out.find("\n\n您选择了'00'分支下的'照片'目录，此目录里有2" +
                                  std::string(kFolderTail) + "\n"),
              std::string::npos);

    // A file of a directory tree the scan rebuilt without its FAT.
    std::string sha;
    for (const kestrel::test::ManifestLine& m :
         kestrel::test::ReadManifest("reformat/manifest_fat32.tsv"))
        if (m.path == "docs/2019/file_009.txt") sha = m.sha;
    const CliResult text = in("2", "Dir01/2019/file_009.txt");
    ASSERT_EQ(text.code, 0) << text.err;
    const size_t textStart = text.out.find("\n\n");
    ASSERT_NE(textStart, std::string::npos);
    EXPECT_EQ(Sha256Of(BytesOfHexDump(text.out.substr(0, textStart))), sha);

    EXPECT_EQ(in("9", "照片").code, 2);
    EXPECT_EQ(in("0", "照片/none.jpg").code, 2);
}

TEST(PreviewCliTest, ExitCodes) {
    const std::string ntfs = kestrel::test::FixturePath("ntfs/ntfs.img.gz");
    // Cut short, the image still holds the file system but not B.bin's data.
    const std::string cut = kestrel::test::FixtureCopy("ntfs/ntfs.img.gz", "ntfs_cut.img");
    std::filesystem::resize_file(cut, 8u << 20);
    struct Case {
        std::vector<std::string> args;
        int code;
    } cases[] = {
        {{cut, "B.bin"}, 1},
        {{cut, "music/track01.mp3"}, 0},
        {{ntfs, "no such file"}, 2},
        {{ntfs}, 2},
        {{ntfs, "--part", "x", "B.bin"}, 2},
        {{ntfs, "extra", "B.bin"}, 2},
        {{ntfs + ".missing", "B.bin"}, 2},
        {{ntfs, "--result-part", "1", "--out", "/tmp/x", "B.bin"}, 2},
        {{ntfs, "--result-part", "1", "--mode", "4", "B.bin"}, 2},
        {{ntfs, "--result-part", "z", "B.bin"}, 2},
    };
    for (const Case& c : cases) {
        const CliResult r = Preview(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.back() << " " << r.err;
        if (c.code == 1) {
            EXPECT_EQ(r.out, "");
        }
    }
}

}  // namespace
