// kestrel-cli devices on the fixture machine and on this machine's own disks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "platform/block_devices.h"
#include "tests/cli/cli_runner.h"
#include "tests/support/fixture.h"

namespace kestrel {
namespace {

struct CliRun {
    int code = -1;
    std::vector<std::string> lines;  // stdout
    std::string err;
};

CliRun RunDevices(const std::string& args) {
    const std::string dir = test::TempDir("devices_cli_out");
    const std::string out = dir + "/out", err = dir + "/err";
    const std::string cmd =
        std::string(KESTREL_CLI) + " devices " + args + " >'" + out + "' 2>'" + err + "'";
    CliRun r;
    const int status = std::system(cmd.c_str());
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream in(test::ReadText(out));
    for (std::string line; std::getline(in, line);) r.lines.push_back(line);
    r.err = test::ReadText(err);
    return r;
}

TEST(DevicesCli, FixtureMachineListing) {
    const std::string root = test::FixtureTree("devices/root", "devices_cli");
    ASSERT_FALSE(root.empty());
    const std::string dev = root + "/dev/";
    const CliRun all = RunDevices("--root '" + root + "'");
    ASSERT_EQ(all.code, 0) << all.err;
    ASSERT_EQ(all.lines.size(), 11u);
    // index, description, device, volume, start, size, free, kind, fs name, label, USB/removable
    EXPECT_EQ(all.lines[2], "0\tUSB STICK (/media/stick FAT32)\t" + dev + "sdb\t" + dev +
                                "sdb1\t2048\t69632\t0\t11\tFAT32\tUSB STICK\t1");
    EXPECT_EQ(all.lines[3], "0\t数据盘 (sdc1 NTFS)\t" + dev + "sdc\t" + dev +
                                "sdc1\t2048\t133120\t0\t12\tNTFS\t数据盘\t0");
    EXPECT_EQ(all.lines[9], "3\tATA WDC WD10EZEX-08W\t" + dev + "sdc\t\t0\t141312\t0\t0\t\t\t0");
    EXPECT_NE(all.err.find("cannot open " + dev + "sdd: No such file or directory"),
              std::string::npos)
        << all.err;

    EXPECT_EQ(RunDevices("--volumes --root '" + root + "'").lines.size(), 6u);
    const CliRun disks = RunDevices("--disks --root '" + root + "'");
    ASSERT_EQ(disks.lines.size(), 5u);
    EXPECT_EQ(disks.lines[0].rfind("0\tSD16G\t", 0), 0u) << disks.lines[0];

    EXPECT_EQ(RunDevices("--disks --volumes").code, 2);
    EXPECT_EQ(RunDevices("--root").code, 2);
    const CliRun none = RunDevices("--root '" + test::TempDir("devices_cli_empty") + "'");
    EXPECT_EQ(none.code, 2);
    EXPECT_TRUE(none.lines.empty());
    EXPECT_NE(none.err.find("no disk"), std::string::npos) << none.err;
}

// This machine's disks: listed when they can be opened, named on stderr when not.
TEST(DevicesCli, ThisMachine) {
    const std::vector<BlockDisk> disks = ListBlockDisks(SystemRoot{});
    if (disks.empty()) GTEST_SKIP() << "/sys/block lists no disk";
    const std::string path = "/dev/" + disks[0].name;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const int openErr = errno;
    if (fd >= 0) ::close(fd);

    const CliRun run = RunDevices("--disks");
    if (fd >= 0) {
        ASSERT_EQ(run.code, 0) << run.err;
        ASSERT_FALSE(run.lines.empty());
        const std::string fields = "\t" + path + "\t\t0\t" + std::to_string(disks[0].sizeSectors);
        EXPECT_NE(run.lines[0].find(fields), std::string::npos) << run.lines[0];
        const CliRun all = RunDevices("");
        EXPECT_EQ(all.code, 0) << all.err;
        EXPECT_GE(all.lines.size(), run.lines.size());
        return;
    }
    EXPECT_NE(run.err.find("cannot open " + path + ": " + std::strerror(openErr)),
              std::string::npos)
        << run.err;
    if (::geteuid() != 0) GTEST_SKIP() << "not root: " << path << " cannot be opened";
    GTEST_SKIP() << "even root cannot open " << path << " here: " << std::strerror(openErr);
}

// A real kernel block device: the demo disk attached read-only to a loop
// device is listed with its size, and its partition table reads through it.
// Needs root and a kernel that lends loop devices; skipped elsewhere.
TEST(DevicesCli, LoopDeviceOfTheDemoDisk) {
    if (::geteuid() != 0) GTEST_SKIP() << "not root";
    const std::string image = test::FixturePath("demo/demo.img.gz");
    FILE* p = popen(("losetup -r -f --show '" + image + "' 2>/dev/null").c_str(), "r");
    if (!p) GTEST_SKIP() << "losetup cannot run";
    char buf[64] = {};
    const bool got = std::fgets(buf, sizeof buf, p) != nullptr;
    pclose(p);
    std::string loop = got ? std::string(buf) : "";
    while (!loop.empty() && (loop.back() == '\n' || loop.back() == ' ')) loop.pop_back();
    if (loop.rfind("/dev/loop", 0) != 0) GTEST_SKIP() << "no loop device could be attached";
    struct Detach {
        std::string dev;
        ~Detach() { (void)std::system(("losetup -d " + dev).c_str()); }
    } detach{loop};

    const CliRun run = RunDevices("--disks");
    ASSERT_EQ(run.code, 0) << run.err;
    const std::string fields = "\t" + loop + "\t\t0\t196608\t0\t0\t\t\t0";
    bool listed = false;
    for (const std::string& line : run.lines) listed |= line.find(fields) != std::string::npos;
    EXPECT_TRUE(listed) << loop << " is not among " << run.lines.size() << " disks";

    const std::string out = test::TempDir("devices_loop") + "/partitions";
    ASSERT_EQ(test::RunCli({"partitions", loop}, out), 0);
    const std::string table = test::ReadText(out);
    EXPECT_NE(table.find("FAT32"), std::string::npos) << table;
    EXPECT_NE(table.find("NTFS"), std::string::npos) << table;
}

}  // namespace
}  // namespace kestrel
