// End to end: kestrel-cli partitions on an MBR disk with an extended chain,
// a GPT disk and a bare volume image, each made by real tools.
#include <gtest/gtest.h>

#include <string>

#include "tests/cli/cli_runner.h"
#include "tests/support/fixture.h"

namespace {

using kestrel::test::FixturePath;
using kestrel::test::ReadText;
using kestrel::test::RunCli;
using kestrel::test::TempDir;

struct Case {
    const char* fixture;
    const char* expected;  // the whole standard output
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.fixture; }

class PartitionsTest : public testing::TestWithParam<Case> {};

TEST_P(PartitionsTest, ListsEveryPartitionWithStartSizeKindAndLabel) {
    const std::string image = FixturePath(GetParam().fixture);
    ASSERT_FALSE(image.empty());
    const std::string out = TempDir("partitions") + "/out.txt";
    ASSERT_EQ(RunCli({"partitions", image}, out), 0);
    EXPECT_EQ(ReadText(out), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Images, PartitionsTest,
    testing::Values(
        // NTFS, FAT32 and exFAT primaries and a FAT16 logical partition.
        Case{"scan/disk.img.gz",
             "1\t2048\t69632\t0C\t11\tFAT32\tSCANFAT32\n"
             "2\t71680\t24576\t07\t12\tNTFS\tSCANNTFS\n"
             "3\t96256\t16384\t07\t4\texFat\tSCANEXFAT\n"
             "4\t114688\t16384\t06\t10\tFAT16\tSCANFAT16\n"},
        Case{"gpt/gpt.img.gz",
             "1\t2048\t8192\tEBD0A0A2-B9E5-4433-87C0-68B6B72699C7\t12\tNTFS\t恢复测试\n"
             "2\t10240\t8192\tEBD0A0A2-B9E5-4433-87C0-68B6B72699C7\t10\tFAT16\t中文卷\n"
             "3\t18432\t8192\t0FC63DAF-8483-4772-8E79-3D69D8477DE4\t4\texFat\tExLabel\n"},
        // A bare volume is its own one partition, at LBA 0.
        Case{"storage/fat32.img.gz", "1\t0\t69632\t0B\t11\tFAT32\tKESTREL32\n"},
        Case{"fat16/fat12.img.gz", "1\t0\t2880\t06\t10\tFAT\tKESTREL12\n"}),
    [](const testing::TestParamInfo<Case>& info) {
        std::string name = info.param.fixture;
        return name.substr(0, name.find('/'));
    });

TEST(PartitionsCli, UnreadableInputsExit2) {
    const std::string dir = TempDir("partitions_bad");
    const std::string out = dir + "/out.txt";
    const std::string empty = dir + "/empty.img";
    { std::ofstream(empty).flush(); }
    EXPECT_EQ(RunCli({"partitions", dir + "/missing.img"}, out), 2);
    EXPECT_EQ(RunCli({"partitions", empty}, out), 2);
    EXPECT_EQ(RunCli({"partitions", dir}, out), 2) << "a directory is no image";
    EXPECT_EQ(RunCli({"partitions"}, out), 2);
}

}  // namespace
