// A deep scan cut short, saved and resumed from the scan-state file: across
// both runs every block is processed exactly once and the catalogue ends up
// as an uninterrupted scan leaves it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "scan/scan_session.h"
#include "scan/scan_state_file.h"
#include "scan/scan_state_records.h"
#include "scan/scan_state_stream.h"
#include "tests/scan/scan_state_test_util.h"
#include "tests/scan/scan_test_util.h"

namespace kestrel {
namespace {

using namespace kestrel::test;

constexpr uint64_t kDiskBlocks = kDiskSectors / 0x4000;

void SetUpSession(ScanSession& s, const std::string& statePath) {
    s.scanned = ImageRecord(ScanDiskPath(), 0, kDiskSectors, kDiskSectors);
    s.options.scanStart = 0;
    s.options.scanSize = kDiskSectors;
    s.pollMs = 2;
    s.pauseMs = 5;
    InstallScanStateFileHooks(s, statePath);
}

// The block map as the file holds it.
std::vector<uint8_t> SavedMap(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadWholeFile(path);
    StateReader in{ByteView(bytes.data(), bytes.size())};
    std::vector<uint8_t> identity;
    uint32_t blocks = 0;
    if (!ReadIdentity(in, identity) || !in.U32(blocks)) return {};
    std::vector<uint8_t> map(blocks);
    if (!in.Bytes(map.data(), map.size())) return {};
    return map;
}

// Stops the scan once a number of blocks have been processed, and makes the
// scan look long enough for the end-of-scan save offer.
struct StopAfter {
    static inline ScanState* state = nullptr;
    static inline uint32_t left = 0;
    static void OnBlockEnd(ScanSession& s, uint64_t, uint32_t, const std::vector<FoundItem>&) {
        if (left == 0 || --left != 0) return;
        s.timing.startSeconds = s.timing.startSeconds.load() - 200;
        *state = kScanStopRequested;
    }
};

void ExpectEveryBlockOnce(const std::vector<uint64_t>& first, const std::vector<uint64_t>& second) {
    std::vector<uint64_t> all = first;
    all.insert(all.end(), second.begin(), second.end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), kDiskBlocks);
    for (uint64_t b = 0; b < kDiskBlocks; ++b) EXPECT_EQ(all[b], b * 0x4000) << b;
}

void UninterruptedScan(ScanSession& s) {
    RecordingUi ui;
    SetUpSession(s, "");
    s.hooks = PostScanHooks();
    ScanState state{kScanRunning};
    RunDeepScan(s, state);
    ASSERT_EQ(state.load(), kScanFinished);
}

TEST(ScanResume, StoppedScanSavedAtTheEndIsFinishedByTheNextOne) {
    const std::string path = TempDir("scan-resume") + "/DiskScanData.dat";
    RecordingUi ui;
    ui.answer = true;

    ScanSession first;
    SetUpSession(first, path);
    first.options.showWhileScanning = 1;  // for the per-block hook
    first.hooks.liveBlockEnd = &StopAfter::OnBlockEnd;
    ScanState state1{kScanRunning};
    StopAfter::state = &state1;
    StopAfter::left = 4;
    RunDeepScan(first, state1);
    ASSERT_EQ(first.processedBlocks.size(), 4u);
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], u"是否保存当前已扫描的数据？");
    std::vector<uint8_t> expectedMap(kDiskBlocks, 0);
    for (uint64_t lba : first.processedBlocks) expectedMap[lba >> 14] = 2;
    EXPECT_EQ(SavedMap(path), expectedMap);

    ui.questions.clear();
    ScanSession second;
    SetUpSession(second, path);
    ScanState state2{kScanRunning};
    RunDeepScan(second, state2);
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], u"磁盘上保存有当前设备以前扫描的数据，是否复用？");
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(state2.load(), kScanFinished);
    ExpectEveryBlockOnce(first.processedBlocks, second.processedBlocks);
    // The progress counted the reused blocks as done from the start.
    EXPECT_EQ(second.progress.scan.doneSectors, kDiskSectors);

    ScanSession whole;
    UninterruptedScan(whole);
    ExpectSameCatalogue(whole.catalogue, second.catalogue);
}

TEST(ScanResume, BlockClaimedDuringAPauseIsReadAgain) {
    const std::string path = TempDir("scan-resume-pause") + "/DiskScanData.dat";
    RecordingUi ui;
    ui.answer = true;

    // Paused from the start: the reader has claimed its first block and
    // waits with it, nothing is processed.
    ScanSession first;
    SetUpSession(first, path);
    ScanState state1{kScanPaused};
    ScanJob job{&first, &state1};
    StartDeepScan(job);
    for (int i = 0; i < 2000 && !first.timing.paused.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_TRUE(first.timing.paused.load());
    ASSERT_EQ(first.schedule.map.Get(0), kBlockClaimed);

    SaveScanDataJob save;
    save.session = &first;
    SaveDiskScanDataThread(&save);
    EXPECT_EQ(save.status.load(), kJobDone);
    EXPECT_EQ(SavedMap(path), std::vector<uint8_t>(kDiskBlocks, 0));
    state1 = kScanStopRequested;
    while (!first.processorFinished.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_TRUE(first.processedBlocks.empty());

    ScanSession second;
    SetUpSession(second, path);
    ScanState state2{kScanRunning};
    RunDeepScan(second, state2);
    EXPECT_TRUE(ui.messages.empty());
    ExpectEveryBlockOnce(first.processedBlocks, second.processedBlocks);
    ScanSession whole;
    UninterruptedScan(whole);
    ExpectSameCatalogue(whole.catalogue, second.catalogue);
}

TEST(ScanResume, UnreadableSavedDataStartsAFreshScan) {
    const std::string path = TempDir("scan-resume-bad") + "/DiskScanData.dat";
    {
        // A file for this disk whose map has the wrong size.
        StateWriter out;
        WriteIdentity(out, IdentityBytes(u"test image"));
        out.U32(3);
        out.Zeros(3 + 24 + 4);
        const std::vector<uint8_t> bytes = out.Memory();
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    RecordingUi ui;
    ui.answer = true;
    ScanSession s;
    SetUpSession(s, path);
    ScanState state{kScanRunning};
    RunDeepScan(s, state);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], u"加载保存在磁盘上的数据失败！");
    EXPECT_EQ(s.processedBlocks.size(), kDiskBlocks);
    EXPECT_EQ(state.load(), kScanFinished);
}

}  // namespace
}  // namespace kestrel
