// kestrel-cli recover interrupted with Ctrl-C under --save-state and run
// again with --resume: no block is read twice and the result equals that of
// an uninterrupted run; a scan-state file that is cut short or belongs to
// something else is treated as absent.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "tests/cli/recover_support.h"
#include "tests/support/fixture.h"

namespace {

using kestrel::test::CliResult;
using kestrel::test::Recover;
namespace fs = std::filesystem;

// The scan fixture disk at the start of a 1 GiB sparse image: long enough to
// be interrupted part way, quick to read where it holds nothing.
constexpr unsigned long long kImageBytes = 1ull << 30;
constexpr unsigned long long kImageBlocks = kImageBytes / (8ull << 20);

std::string LargeImage(const std::string& work) {
    const std::string image = kestrel::test::FixtureCopy("scan/disk.img.gz", "resume-disk.img");
    fs::resize_file(image, kImageBytes);
    (void)work;
    return image;
}

bool Match(const std::string& text, const std::string& pattern, unsigned long long& a,
           unsigned long long& b) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(pattern))) return false;
    a = std::stoull(m[1]);
    b = std::stoull(m[2]);
    return true;
}

void ExpectFreshScan(const CliResult& r) {
    unsigned long long read = 0, reused = 0;
    ASSERT_TRUE(Match(r.err, "([0-9]+) blocks read, ([0-9]+) reused", read, reused)) << r.err;
    EXPECT_EQ(read, kImageBlocks);
    EXPECT_EQ(reused, 0u);
}

TEST(RecoverResumeTest, InterruptedScanResumesWhereItStopped) {
    const std::string work = kestrel::test::TempDir("recover-resume");
    const std::string image = LargeImage(work);
    const std::string state = work + "/state.dat";
    const std::vector<std::string> treeArgs{image, "--mode", "3", "--tree"};

    const CliResult whole = Recover(treeArgs, work, work + "/never-written.dat");
    ASSERT_EQ(whole.code, 0) << whole.err;
    ASSERT_FALSE(fs::exists(work + "/never-written.dat"));
    ASSERT_NE(whole.out.find("snow.jpg"), std::string::npos) << whole.out;

    // Ctrl-C once a quarter of the image has been read.
    std::vector<std::string> args{"recover"};
    args.insert(args.end(), treeArgs.begin(), treeArgs.end());
    args.push_back("--save-state");
    const pid_t pid = kestrel::test::SpawnCli(args, state, work + "/int.out", work + "/int.err");
    ASSERT_GT(pid, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (kestrel::test::BytesReadBy(pid) < kImageBytes / 4 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    kill(pid, SIGINT);
    const int code = kestrel::test::WaitCli(pid);
    const std::string err = kestrel::test::ReadText(work + "/int.err");
    ASSERT_EQ(code, 130) << err;
    EXPECT_EQ(kestrel::test::ReadText(work + "/int.out"), "");
    unsigned long long saved = 0, total = 0;
    ASSERT_TRUE(Match(err, "([0-9]+) of ([0-9]+) blocks saved", saved, total)) << err;
    EXPECT_EQ(total, kImageBlocks);
    EXPECT_GT(saved, 0u);
    EXPECT_LT(saved, total);
    fs::copy_file(state, work + "/saved.dat");

    const CliResult resumed = Recover({image, "--mode", "3", "--tree", "--resume"}, work, state);
    ASSERT_EQ(resumed.code, 0) << resumed.err;
    unsigned long long read = 0, reused = 0;
    ASSERT_TRUE(Match(resumed.err, "([0-9]+) blocks read, ([0-9]+) reused", read, reused))
        << resumed.err;
    EXPECT_EQ(reused, saved);
    EXPECT_EQ(read + reused, kImageBlocks);
    EXPECT_EQ(resumed.out, whole.out);

    // Without --resume the saved scan is not used.
    const CliResult fresh = Recover(treeArgs, work, state);
    ASSERT_EQ(fresh.code, 0);
    ExpectFreshScan(fresh);

    // Unusable copies of the saved file: cut short, another magic, another device.
    struct Damage {
        const char* what;
        void (*apply)(const std::string& path);
    };
    const Damage damages[] = {
        {"truncated", [](const std::string& p) { fs::resize_file(p, fs::file_size(p) / 2); }},
        {"header only", [](const std::string& p) { fs::resize_file(p, 6); }},
        {"foreign magic",
         [](const std::string& p) {
             std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
             f.write("ZIP4", 4);
         }},
        {"other device",
         [](const std::string& p) {
             std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(8);
             f.write("Q\0", 2);
         }},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        fs::copy_file(work + "/saved.dat", state, fs::copy_options::overwrite_existing);
        d.apply(state);
        const CliResult r = Recover({image, "--mode", "3", "--tree", "--resume"}, work, state);
        ASSERT_EQ(r.code, 0) << r.err;
        ExpectFreshScan(r);
        EXPECT_EQ(r.out, whole.out);
    }
}

}  // namespace
