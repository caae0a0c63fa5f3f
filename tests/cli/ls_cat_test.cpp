// End to end: kestrel-cli ls and cat on every reader fixture that has a
// manifest, compared with what the fixture scripts recorded.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/cli/cli_runner.h"
#include "tests/support/fixture.h"
#include "tests/support/manifest.h"

namespace {

using kestrel::test::ReadText;
using kestrel::test::RunCli;

using Line = kestrel::test::ManifestLine;
using kestrel::test::ParseManifestText;

struct Fixture {
    const char* dir;
    const char* manifest;
    const char* image;
};
void PrintTo(const Fixture& f, std::ostream* os) { *os << f.image; }

class LsCatTest : public ::testing::TestWithParam<Fixture> {
protected:
    void SetUp() override {
        const Fixture& f = GetParam();
        const std::string data = KESTREL_TEST_DATA;
        const std::string manifest = data + "/" + f.dir + "/" + f.manifest;
        const std::string gz = std::string(f.dir) + "/" + f.image;
        if (!std::filesystem::exists(manifest) || !std::filesystem::exists(data + "/" + gz))
            GTEST_SKIP() << "no fixture " << gz;
        manifest_ = ParseManifestText(ReadText(manifest));
        image_ = kestrel::test::FixturePath(gz);
        ASSERT_FALSE(image_.empty());
        work_ = kestrel::test::TempDir(std::string("cli-") + f.image);
    }
    std::vector<Line> Ls(bool deletedOnly) {
        const std::string out = work_ + "/ls.txt";
        std::vector<std::string> args{"ls", image_, "--part", "0"};
        if (deletedOnly) args.push_back("--deleted");
        EXPECT_EQ(RunCli(args, out), 0);
        return ParseManifestText(ReadText(out));
    }
    std::vector<Line> manifest_;
    std::string image_, work_;
};

TEST_P(LsCatTest, LsListsEveryManifestLine) {
    std::multimap<std::string, Line> listed;
    for (const Line& l : Ls(false)) listed.emplace(l.path, l);
    for (const Line& m : manifest_) {
        bool found = false;
        auto [from, to] = listed.equal_range(m.path);
        for (auto it = from; it != to && !found; ++it) {
            const Line& l = it->second;
            found =
                l.state == m.state && (m.IsDir() || (l.size == m.size && l.modified == m.modified));
        }
        std::string seen;
        for (auto it = from; it != to; ++it)
            seen +=
                " [" + it->second.state + " " + it->second.size + " " + it->second.modified + "]";
        EXPECT_TRUE(found) << m.state << " " << m.size << " " << m.modified << " " << m.path
                           << "; listed:" << (seen.empty() ? " nothing" : seen);
    }
}

TEST_P(LsCatTest, DeletedListingHoldsDeletedNodesAndTheirFolders) {
    const std::vector<Line> lines = Ls(true);
    std::set<std::string> paths;
    for (const Line& l : lines) {
        paths.insert(l.path);
        EXPECT_NE(l.state, "live-file") << l.path;
    }
    for (const Line& m : manifest_) {
        if (!m.IsDeleted()) continue;
        EXPECT_TRUE(paths.count(m.path)) << m.path;
        // Every folder on the way is listed too.
        for (size_t slash = m.path.find('/'); slash != std::string::npos;
             slash = m.path.find('/', slash + 1))
            EXPECT_TRUE(paths.count(m.path.substr(0, slash))) << m.path;
    }
}

TEST_P(LsCatTest, CatReturnsTheRecordedContent) {
    std::set<std::string> livePaths;
    for (const Line& m : manifest_)
        if (m.state == "live-file") livePaths.insert(m.path);
    int n = 0;
    for (const Line& m : manifest_) {
        if (m.IsDir() || m.sha == "-" || m.sha.empty()) continue;
        // cat names a path; where a live file holds it, that is the one it reads.
        if (m.IsDeleted() && livePaths.count(m.path)) continue;
        const std::string out = work_ + "/cat" + std::to_string(n++);
        EXPECT_EQ(RunCli({"cat", image_, "--part", "0", m.path}, out), 0) << m.path;
        EXPECT_EQ(kestrel::test::Sha256File(out), m.sha) << m.state << " " << m.path;
    }
}

TEST_P(LsCatTest, CatOfAPathThatNamesNoFileExits2) {
    const std::string out = work_ + "/missing";
    EXPECT_EQ(RunCli({"cat", image_, "--part", "0", "no/such/file.txt"}, out), 2);
    // A directory is no file either.
    for (const Line& m : manifest_) {
        if (!m.IsDir()) continue;
        EXPECT_EQ(RunCli({"cat", image_, "--part", "0", m.path}, out), 2) << m.path;
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, LsCatTest,
                         ::testing::Values(Fixture{"ntfs", "manifest.tsv", "ntfs.img.gz"},
                                           Fixture{"fat16", "manifest.tsv", "fat16.img.gz"},
                                           Fixture{"fat16", "manifest_fat12.tsv", "fat12.img.gz"},
                                           Fixture{"fat32", "manifest.tsv", "fat32.img.gz"},
                                           Fixture{"exfat", "manifest.tsv", "exfat.img.gz"}),
                         [](const auto& info) {
                             std::string name = info.param.image;
                             return name.substr(0, name.find('.'));
                         });

TEST(CliArguments, BadInputsExit2) {
    const std::string out = kestrel::test::TempDir("cli-args") + "/out";
    const std::string image = kestrel::test::FixturePath("exfat/exfat.img.gz");
    struct Case {
        std::vector<std::string> args;
    } cases[] = {
        {{"ls"}},
        {{"ls", "/nonexistent/image.img"}},
        {{"ls", image, "--part", "7"}},
        {{"ls", image, "--part", "x"}},
        {{"cat", image}},
        {{"cat", image, "--read-errors", "sometimes", "readme.txt"}},
        {{"cat", "/nonexistent/image.img", "readme.txt"}},
    };
    for (const Case& c : cases) {
        std::string joined;
        for (auto& a : c.args) joined += a + " ";
        EXPECT_EQ(RunCli(c.args, out), 2) << joined;
    }
    EXPECT_EQ(RunCli({"cat", image, "readme.txt"}, out), 0);
    EXPECT_EQ(ReadText(out), "hi\n");
}

}  // namespace
