// Export of whole fixture trees, the collision policies, partly checked
// directories, the command's checks and the summary texts.
#include "results/export.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "app/reports.h"
#include "export_test_support.h"
#include "results/check_states.h"
#include "results/export_command.h"
#include "tests/app/report_tap.h"
#include "tests/support/manifest.h"
#include "tests/support/recording_ui.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::LoadedSet;

class ExportTest : public test::ExportTestBase {};

struct TreeFixture {
    const char* image;
    const char* manifest;
};

TEST_F(ExportTest, FixtureTreesExportByteIdenticalWithTheirTimes) {
    const TreeFixture fixtures[] = {
        {"fat32/fat32.img.gz", "fat32/manifest.tsv"},
        {"ntfs/ntfs.img.gz", "ntfs/manifest.tsv"},
        {"exfat/exfat.img.gz", "exfat/manifest.tsv"},
    };
    for (const TreeFixture& f : fixtures) {
        SCOPED_TRACE(f.image);
        const auto manifest = test::ReadManifest(f.manifest);
        ASSERT_FALSE(manifest.empty());
        LoadedSet set(test::FixturePath(f.image));
        ASSERT_TRUE(set.ok);
        const std::string target = test::TempDir("export_tree");
        const test::ExportRun run = test::RunExportInto(set.rs, target);
        EXPECT_EQ(run.status, kJobDone);
        const std::string base = set.PartDir(target);
        uint32_t files = 0;
        for (const auto& m : manifest) {
            SCOPED_TRACE(m.path);
            const std::string path = base + "/" + m.path;
            if (m.IsDir()) {
                EXPECT_TRUE(fs::is_directory(path));
                continue;
            }
            ++files;
            EXPECT_TRUE(fs::is_regular_file(path));
            if (m.sha == "-") continue;  // clusters reused: no known content
            EXPECT_EQ(test::FileSha(path), m.sha);
            // Empty files included: they take their node's time as well.
            EXPECT_EQ(test::ModifiedUtc(path), m.modified);
        }
        EXPECT_EQ(run.filesDone, files);
        EXPECT_EQ(kestrel::Run().LastExportFiles.load(), files);
        EXPECT_EQ(kestrel::Run().LastExportKib.load(), run.bytesDone / 1024);
        EXPECT_EQ(Utf8FromWide(kestrel::Run().LastExportDir),
                  target + "/" + Utf8FromWide(kExportRootName));
        // Nothing but the checked tree (the empty lost-files folder lists nothing).
        EXPECT_EQ(test::AllPaths(base).size(), manifest.size());
    }
}

TEST_F(ExportTest, TargetAlreadyNamedLikeTheExportRootIsNotNested) {
    LoadedSet set(test::FixturePath("fat32/fat32.img.gz"));
    ASSERT_TRUE(set.ok);
    const std::string base = test::TempDir("export_named");
    const std::string target = base + "/" + Utf8FromWide(kExportRootName);
    fs::create_directory(target);
    test::RunExportInto(set.rs, target + "/");
    const std::string label = Utf8FromWide(PartitionLabel(set.rs, set.slot));
    EXPECT_TRUE(fs::is_regular_file(target + "/" + label + "/EXACT.BIN"));
    EXPECT_FALSE(fs::exists(target + "/" + Utf8FromWide(kExportRootName)));
    EXPECT_EQ(Utf8FromWide(kestrel::Run().LastExportDir), target);
    EXPECT_EQ(ExportRootDir(u"/a/b"), u"/a/b/" + WString(kExportRootName));
    EXPECT_EQ(ExportRootDir(u"/a/b/"), u"/a/b/" + WString(kExportRootName));
}

TEST_F(ExportTest, CollisionPolicies) {
    LoadedSet set(test::FixturePath("fat32/fat32.img.gz"));
    ASSERT_TRUE(set.ok);
    const std::string target = test::TempDir("export_collide");
    test::RunExportInto(set.rs, target);
    const std::string exact = set.PartDir(target) + "/EXACT.BIN";
    const std::string hello = set.PartDir(target) + "/docs/hello.txt";
    const std::string original = test::FileSha(exact);

    struct Case {
        CollisionPolicy policy;
        bool answer;
        bool asks;
        bool kept;
    } cases[] = {
        {kAskUser, false, true, true},
        {kSkipFile, true, false, true},
        {kAskUser, true, true, false},
        {kOverwrite, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.policy) * 10 + c.answer);
        test::WriteText(exact, "mine");
        test::RecordingUi ui;
        ui.answer = c.answer;
        const test::ExportRun run = test::RunExportInto(set.rs, target, c.policy);
        EXPECT_EQ(!ui.questions.empty(), c.asks);
        if (c.kept) {
            EXPECT_EQ(test::ReadText(exact), "mine");
        } else {
            EXPECT_EQ(test::FileSha(exact), original);
        }
        // Skipped files still count as done, so the progress reaches its end.
        EXPECT_EQ(run.filesDone, set.rs.partitions[set.slot].listedTotal);
    }
    {
        test::RecordingUi ui;
        test::RunExportInto(set.rs, target, kAskUser);
        const WString question = Utf16FromUtf8(hello) + u"，已经存在，是否覆盖？";
        EXPECT_NE(std::find(ui.questions.begin(), ui.questions.end(), question),
                  ui.questions.end());
    }
}

TEST_F(ExportTest, OverwriteReplacesAPlantedLinkInsteadOfWritingThroughIt) {
    LoadedSet set(test::FixturePath("fat32/fat32.img.gz"));
    ASSERT_TRUE(set.ok);
    const std::string base = test::TempDir("export_link");
    const std::string target = base + "/target";
    fs::create_directory(target);
    test::RunExportInto(set.rs, target);
    const std::string outside = base + "/outside.txt";
    test::WriteText(outside, "precious");
    const std::string exact = set.PartDir(target) + "/EXACT.BIN";
    const std::string original = test::FileSha(exact);
    fs::remove(exact);
    fs::create_symlink(outside, exact);
    // A link planted where a directory goes is not descended into either.
    const std::string docs = set.PartDir(target) + "/docs";
    fs::remove_all(docs);
    fs::create_directory_symlink(base, docs);

    test::RunExportInto(set.rs, target, kOverwrite);
    EXPECT_EQ(test::ReadText(outside), "precious");
    EXPECT_FALSE(fs::is_symlink(exact));
    EXPECT_EQ(test::FileSha(exact), original);
    EXPECT_FALSE(fs::exists(base + "/hello.txt"));
    EXPECT_FALSE(fs::exists(base + "/deep"));
}

TEST_F(ExportTest, PartlyCheckedDirectoriesExportOnlyTheirCheckedChildren) {
    LoadedSet set(test::FixturePath("fat32/fat32.img.gz"));
    ASSERT_TRUE(set.ok);
    FileNode* hello = set.Find("docs/hello.txt");
    FileNode* old = set.Find("old project");
    ASSERT_TRUE(hello && old);
    SetCheckState(*hello, 0);
    SetCheckStateBelow(set.rs, set.slot, old->id, 0);  // the directory itself stays checked

    EXPECT_EQ(ExportCommandCheck(set.rs, nullptr), u"");
    EXPECT_EQ(CheckState(*set.Find("docs")), 2u);
    EXPECT_EQ(CheckState(*set.Find("docs/deep")), 1u);
    EXPECT_EQ(CheckState(*old), 0u);
    EXPECT_EQ(CheckState(*GetNode(set.Part(), kRootNodeId)), 2u);

    const std::string target = test::TempDir("export_partly");
    test::RunExportInto(set.rs, target);
    const std::string base = set.PartDir(target);
    EXPECT_TRUE(fs::is_regular_file(base + "/docs/Long File Name With Spaces.txt"));
    EXPECT_TRUE(fs::is_regular_file(base + "/docs/deep/er/still/bottom.txt"));
    EXPECT_FALSE(fs::exists(base + "/docs/hello.txt"));
    EXPECT_FALSE(fs::exists(base + "/old project"));

    // The totals behind the selection text: every checked file, nothing else.
    const CheckedTotals totals = CountCheckedFiles(set.rs);
    const uint32_t listed = set.Part().listedTotal;
    EXPECT_EQ(totals.files, listed - 1 - 3);  // hello.txt and old project's three files
}

TEST_F(ExportTest, CommandChecksComeInOrder) {
    LoadedSet set(test::FixturePath("fat32/fat32.img.gz"));
    ASSERT_TRUE(set.ok);
    const int32_t savedMode = kestrel::Run().RecoverMode;
    const uint32_t savedKind = kestrel::Run().CurPartInfo.fsKind;
    kestrel::Run().CurPartInfo.fsKind = kFsFat32;
    ScanState scan{kScanPaused};
    kestrel::Run().RecoverMode = kModeDeletedFiles;
    EXPECT_EQ(ExportCommandCheck(set.rs, &scan),
              u"FAT32分区删除的文件，扫描完后才能恢复，请耐心等待!");
    kestrel::Run().RecoverMode = kModePartitionFiles;
    EXPECT_EQ(ExportCommandCheck(set.rs, &scan), u"");
    scan = kScanRunning;
    EXPECT_EQ(ExportCommandCheck(set.rs, &scan),
              u"请先点上面的\"暂停\"按钮，暂停扫描进度，再导出找到的文件！");
    scan = kScanFinished;
    set.CheckAll(0);
    // A checked root whose children are all unchecked becomes unchecked.
    SetCheckState(*GetNode(set.Part(), kRootNodeId), 1);
    EXPECT_EQ(ExportCommandCheck(set.rs, &scan), u"请至少选择一个需要恢复的文件或目录!");
    kestrel::Run().RecoverMode = savedMode;
    kestrel::Run().CurPartInfo.fsKind = savedKind;
}

TEST_F(ExportTest, WorkerThreadFinishesTheJobAndReportsIt) {
    LoadedSet set(test::FixturePath("fat32/fat32.img.gz"));
    ASSERT_TRUE(set.ok);
    test::ReportRecorder reports;
    ExportJob job;
    ExportOptions options;
    const std::string target = test::TempDir("export_thread");
    options.targetDir = Utf16FromUtf8(target);
    PrepareExportJob(job, set.rs, options);
    EXPECT_EQ(kestrel::Run().ReadStatMode.load(), kReadStatExport);
    const uint64_t totalKib = kestrel::Run().ExportTotalKib;
    StartWorker(SaveAllToDirThread, &job);
    for (int i = 0; i < 3000 && job.status.load() != kJobDone; ++i) usleep(10000);
    ASSERT_EQ(job.status.load(), kJobDone);
    EXPECT_EQ(kestrel::Run().ExportTotalKib.load(), totalKib + job.bytesDone / 1024);
    EXPECT_GT(kestrel::Run().ReadCallCount.load(), 0u);
    EXPECT_EQ(test::ReportRecorder::Count(kEvExportConfirmed), 1u);
    ASSERT_EQ(test::ReportRecorder::Count(kEvExportFinished), 1u);
    for (const auto& e : test::ReportRecorder::Events()) {
        if (e.first != kEvExportFinished) continue;
        char expected[128];
        std::snprintf(expected, sizeof expected,
                      "Vexor copy data(MB)： 0 / 0     File num： %u / %u", job.filesDone,
                      job.filesDone);
        EXPECT_EQ(Utf8FromWide(e.second), expected);
    }
    kestrel::Run().ReadStatMode = kReadStatOff;
}

TEST_F(ExportTest, CancelledJobStopsAndKeepsItsStatus) {
    LoadedSet set(test::FixturePath("fat32/fat32.img.gz"));
    ASSERT_TRUE(set.ok);
    ExportJob job;
    ExportOptions options;
    const std::string target = test::TempDir("export_cancel");
    options.targetDir = Utf16FromUtf8(target);
    PrepareExportJob(job, set.rs, options);
    job.status = kJobCancelled;
    RunExport(job);
    EXPECT_EQ(job.status.load(), kJobCancelled);
    EXPECT_EQ(job.filesDone, 0u);
    kestrel::Run().ReadStatMode = kReadStatOff;
}

TEST(ExportTexts, SummaryForms) {
    const struct {
        uint64_t kib;
        const char16_t* text;
    } cases[] = {
        {1024, u"导出结束！本次恢复7个文件，共计1024(KB)数据！"},
        {2048, u"导出结束！本次恢复7个文件，共计2048(KB)数据！"},
        {2049, u"导出结束！本次恢复7个文件，共计2.00(MB)数据！"},
        {3584, u"导出结束！本次恢复7个文件，共计3.50(MB)数据！"},
        {2097152, u"导出结束！本次恢复7个文件，共计2048.00(MB)数据！"},
        {2097153, u"导出结束！本次恢复7个文件，共计2.00(GB)数据！"},
        {2621440, u"导出结束！本次恢复7个文件，共计2.50(GB)数据！"},
    };
    for (const auto& c : cases) EXPECT_EQ(ExportSummaryText(7, c.kib), c.text) << c.kib;
    EXPECT_EQ(ReadErrorSummaryText(3, false),
              u"导出文件时，发生了3次读磁盘错误，导致部分文件导出失败！");
    const WString usb = ReadErrorSummaryText(3, true);
    EXPECT_EQ(usb.find(u"！\n可能是电脑、读卡器"), usb.find(u"！"));
}

TEST(ExportTexts, SaveParamsChecksInOrder) {
    const std::string dir = test::TempDir("export_params");
    const std::string file = dir + "/a file";
    test::WriteText(file, "x");
    PartInfo recovered;
    recovered.devicePath = Utf16FromUtf8(file);  // an image file: never the same partition
    EXPECT_EQ(ValidateSaveParams(u"", recovered, 0), u"请选择恢复目录！");
    EXPECT_EQ(ValidateSaveParams(Utf16FromUtf8(dir + "/none"), recovered, 0),
              u"选择的目录不合法，恢复失败！");
    EXPECT_EQ(ValidateSaveParams(Utf16FromUtf8(file), recovered, 0),
              u"选择的目录不合法，恢复失败！");
    const uint64_t freeMiB = FreeSpaceMiB(Utf16FromUtf8(dir));
    ASSERT_GT(freeMiB, 0u);
    EXPECT_EQ(ValidateSaveParams(Utf16FromUtf8(dir), recovered, freeMiB * 2),
              u"您选择的文件导出目录所在磁盘的空间不足!");
    kestrel::Run().ExportTargetDir.clear();
    EXPECT_EQ(ValidateSaveParams(Utf16FromUtf8(dir), recovered, 0), u"");
    EXPECT_EQ(Utf8FromWide(kestrel::Run().ExportTargetDir), dir);
}

}  // namespace
}  // namespace kestrel
