// The two threads of a deep scan: the reader (DiskScanAndViewThread) prepares
// the scan and reads blocks in the order of the schedule; the processor
// (DiskFileScanHandThread) runs the recognition over each block. They meet in
// the 8-slot ring and the scan state word; waiting is polling with sleeps.
#include <fcntl.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "app/observer.h"
#include "app/reports.h"
#include "app/run_state.h"
#include "app/user_interaction.h"
#include "fs/fat_cluster_resolution.h"
#include "fs/ntfs_known_extents.h"
#include "scan/scan_session.h"
#include "storage/sector_source.h"

namespace kestrel {
namespace {

constexpr const char* kReaderName = "DiskScanAndViewThread";
constexpr const char* kProcessorName = "DiskFileScanHandThread";
constexpr uint32_t kRecountStep = 787;

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

uint64_t ThreadCpuNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return uint64_t(ts.tv_sec) * 1000000000u + uint64_t(ts.tv_nsec);
}

void Notify(ScanSession& s, uint32_t code) {
    if (s.mainWindow) s.mainWindow->OnMessage(code, 0, 0);
}

// Steps of preparation before the first read.
void PrepareScan(ScanSession& s, ScanState& state) {
    s.scanCompleted = false;
    ClearFatScanFinds();
    // The MFT and index extents the NTFS reader learnt belong to the scan
    // that read them.
    ClearNtfsKnownExtents();
    s.timing.Start(ScanClockSeconds());
    const uint64_t blocks = DeviceBlockCount(s.scanned);
    s.catalogue.Reset(blocks);

    bool reused = false;
    if (s.hooks.hasSavedData && s.hooks.loadSavedData && s.hooks.hasSavedData(s) &&
        UserInteraction().AskYesNo(u"磁盘上保存有当前设备以前扫描的数据，是否复用？", true)) {
        reused = s.hooks.loadSavedData(s, state) && !s.schedule.map.Empty();
        if (!reused) {
            UserInteraction().ShowMessage(u"加载保存在磁盘上的数据失败！");
            s.catalogue.Reset(blocks);
        }
    }
    if (!reused) s.schedule.map.Allocate(blocks);

    SetUpReadOrder(s.schedule, s.scanned, s.options, s.recoverMode, s.allocated);

    s.ring.Allocate();
    s.readerFinished = false;
    s.processorFinished = false;
    s.openFailed = false;
    s.pending.ReleaseWindow();
    s.pending.AllocateWindow();
    s.processedBlocks.clear();
    s.processorCpuNs = 0;
    s.readerCpuNs = 0;
    if (s.hooks.resetForScan) s.hooks.resetForScan(s);
    if (IsOn(s.options.showWhileScanning) && s.hooks.liveStart) s.hooks.liveStart(s, state);
}

void ReportReadErrors(ScanSession& s) {
    const uint32_t failed = Run().ReadFailCount.load();
    const uint32_t total = Run().ReadCallCount.load();
    s.readFailures = failed;
    s.readCalls = total;
    WString text;
    if (!ReadErrorMessage(failed, total, s.scanned.isRemovable == 1, text)) return;
    UserInteraction().ShowMessage(text);
    char report[64];
    std::snprintf(report, sizeof report, "Disk scan error: %u / %u", failed, total);
    SendReport(kEvScanReadErrors, report);
}

void ReadLoop(ScanSession& s, ScanState& state) {
    ScopedSource src;
    if (!OpenSourceFromPart(s.scanned, *src)) {
        // Nothing can be read: end the scan as stopped so that no post-scan
        // processing runs over an empty catalogue.
        s.openFailed = true;
        int32_t v = state.load();
        while ((v == kScanRunning || v == kScanPaused) &&
               !state.compare_exchange_weak(v, kScanStopRequested)) {
        }
        return;
    }
    src->faults = s.faults;
    // The sweep reads front to back: a larger read-ahead keeps the medium
    // streaming while the reader hands a block over.
    if (src->fd >= 0) posix_fadvise(src->fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    RunState& run = Run();
    run.ReadStatMode = kReadStatScan;
    run.ReadCallCount = 0;
    run.ReadFailCount = 0;
    BlockBuffer own = CScanBlockRing::AllocateOwnBuffer();
    const uint64_t cpu0 = ThreadCpuNs();

    uint64_t lba = 0;
    while (state.load() != kScanStopRequested && NextBlock(s.schedule, lba)) {
        if (state.load() == kScanPaused) {
            s.timing.BeginPause(ScanClockSeconds());
            while (state.load() == kScanPaused) SleepMs(s.pauseMs);
            s.timing.EndPause(ScanClockSeconds());
            if (state.load() == kScanStopRequested) break;
        }
        // ReadSectors leaves zeros wherever its read does not deliver (a
        // failed, short or clamped read), so the block needs no memset first.
        ReadSectors(*src, uint32_t(kScanBlockSectors), own.Data(), lba);
        own.SetLba(lba);
        while (!s.ring.Put(own)) {
            if (state.load() == kScanStopRequested) break;
            s.ring.WaitForSpace(s.pollMs);
        }
    }
    s.readerCpuNs = ThreadCpuNs() - cpu0;
    ReportReadErrors(s);
    CScanBlockRing::FreeOwnBuffer(own);
}

void RecountReusedCatalogue(ScanSession& s) {
    const size_t all = s.catalogue.ItemCount();
    if (all == 0) return;
    DeepScanProgress& c = s.progress.scan;
    const uint64_t start = s.scanned.startLba;
    const uint64_t size = s.scanned.sizeSectors;
    uint32_t seen = 0;
    for (uint64_t b = 0; b < s.catalogue.BlockCount(); ++b) {
        const std::vector<FoundItem>* list = s.catalogue.BlockItems(b);
        if (!list) continue;
        for (const FoundItem& it : *list) {
            if (++seen % kRecountStep == 0) {
                char text[64];
                std::snprintf(text, sizeof text, "扇区信息: %u / %u", seen, unsigned(all));
                PostProgressText(u"正在处理扇区信息！", Utf16FromUtf8(text).c_str());
            }
            if (it.lba < start || it.lba - start >= size) continue;
            const int counter = StructureCounterIndex(it.type);
            if (counter >= 0)
                ++c.structures[counter];
            else if (it.type < 154)
                ++c.signatureFiles;
        }
    }
}

void InitialSnapshot(ScanSession& s) {
    s.progress = ProgressSnapshot();
    s.progress.phase = kPhaseDeepScan;
    DeepScanProgress& p = s.progress.scan;
    ScanSchedule& sc = s.schedule;
    if (s.recoverMode == 1) {
        std::lock_guard<std::mutex> guard(sc.lock);
        p.totalSectors = kScanBlockSectors * sc.mode1Total;
        const uint64_t queued = kScanBlockSectors * sc.queue.size();
        p.doneSectors = p.totalSectors > queued ? p.totalSectors - queued : 0;
    } else {
        p.totalSectors = s.scanned.sizeSectors;
        uint64_t done = 0;
        if (!sc.rangeEmpty)
            for (uint64_t b = sc.rangeStart; b <= sc.rangeEnd; b += kScanBlockSectors)
                if (sc.map.Get(b >> kScanBlockShift) == kBlockProcessed) done += kScanBlockSectors;
        p.doneSectors = done;
    }
    s.timing.speedBase = p.doneSectors;
    RecountReusedCatalogue(s);
    PostProgress(s.progress);
}

// The FAT reader guesses the lost upper halves of the first clusters of
// deleted FAT32 entries from what a complete scan found: file starts and
// subdirectory sectors.
void HandOverFatScanFinds(const ScanSession& s) {
    std::vector<FatScanFind> finds;
    for (uint64_t b = 0; b < s.catalogue.BlockCount(); ++b) {
        const std::vector<FoundItem>* list = s.catalogue.BlockItems(b);
        if (!list) continue;
        for (const FoundItem& it : *list)
            if (it.type < 154 || it.type == kCodeFatDir) finds.push_back({it.lba, it.type});
    }
    SetFatScanFinds(std::move(finds));
}

void EndOfScan(ScanSession& s, ScanState& state) {
    if (!Run().AppExiting.load()) {
        const uint64_t now = ScanClockSeconds();
        s.timing.EndPause(now);
        const uint64_t elapsed = s.timing.Elapsed(now);
        if (elapsed >= 120) {
            if (elapsed > 299) {
                char text[48];
                std::snprintf(text, sizeof text, "Scan minute: %u", unsigned(elapsed / 60));
                SendReport(kEvScanMinutes, text);
            }
            // Blocks read but never processed are read again by a resumed scan.
            for (uint64_t b = 0; b < s.schedule.map.Count(); ++b)
                if (s.schedule.map.Get(b) == kBlockClaimed) s.schedule.map.Set(b, kBlockUnread);
            if (s.hooks.saveScanData &&
                UserInteraction().AskYesNo(u"是否保存当前已扫描的数据？", true) &&
                !s.hooks.saveScanData(s))
                UserInteraction().ShowMessage(u"保存扫描数据失败！");
        }
    }
    if (state.load() == kScanFinished) {
        s.scanCompleted = true;
        HandOverFatScanFinds(s);
    }
    // The reader sets its flag a moment after the state word that ended the
    // processor's loop, so the processor nearly always gets here first: a
    // whole poll interval of sleep would be added to every scan.
    while (!s.readerFinished.load()) SleepMs(1);
    s.ring.Free();
    s.pending.ReleaseWindow();
    s.schedule.map.Free();

    if (state.load() == kScanFinished) {
        state = kScanRunning;
        Notify(s, kMsgPostScanBegin);
        if (s.hooks.postScan) {
            SleepMs(500);
            if (s.hooks.postScan(s, state) && s.hooks.rebuildTree) s.hooks.rebuildTree(s);
        }
        Notify(s, kMsgPostScanEnd);
        int32_t expected = kScanRunning;
        state.compare_exchange_strong(expected, kScanFinished);
    }
}

}  // namespace

void DiskFileScanHandThread(void* param) {
    ScanJob& job = *static_cast<ScanJob*>(param);
    ScanSession& s = *job.session;
    ScanState& state = *job.state;
    ThreadBegin(kProcessorName);
    const uint64_t cpu0 = ThreadCpuNs();

    InitialSnapshot(s);
    BlockBuffer own = CScanBlockRing::AllocateOwnBuffer();
    while (state.load() != kScanStopRequested) {
        if (s.ring.Take(own)) {
            ProcessBlock(s, own, state);
            continue;
        }
        // The reader sets Finished only after its last hand-over, so an empty
        // ring seen after Finished is really drained.
        if (state.load() == kScanFinished && s.ring.Count() == 0) break;
        s.ring.WaitForBlock(s.pollMs);
    }
    CScanBlockRing::FreeOwnBuffer(own);
    s.processorCpuNs = ThreadCpuNs() - cpu0;
    EndOfScan(s, state);

    ThreadEnd(kProcessorName);
    s.processorFinished = true;
}

void DiskScanAndViewThread(void* param) {
    ScanJob& job = *static_cast<ScanJob*>(param);
    ScanSession& s = *job.session;
    ScanState& state = *job.state;
    ThreadBegin(kReaderName);
    PrepareScan(s, state);
    StartWorker(&DiskFileScanHandThread, param);
    ReadLoop(s, state);
    // A reader that ends while the word says Paused has still read
    // everything: the scan is finished (a Paused word would keep the
    // processor waiting for ever).
    int32_t v = state.load();
    while ((v == kScanRunning || v == kScanPaused) &&
           !state.compare_exchange_weak(v, kScanFinished)) {
    }
    s.ring.Wake();  // the processor looks at the state word at once
    ThreadEnd(kReaderName);
    s.readerFinished = true;
}

void StartDeepScan(ScanJob& job) {
    // Cleared before the thread starts, so a caller polling it right away
    // does not see the end of an earlier scan.
    job.session->processorFinished = false;
    StartWorker(&DiskScanAndViewThread, &job);
}

void RunDeepScan(ScanSession& s, ScanState& state) {
    ScanJob job{&s, &state};
    DiskScanAndViewThread(&job);
    while (!s.processorFinished.load()) SleepMs(1);
}

}  // namespace kestrel
