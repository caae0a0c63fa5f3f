#pragma once
// Everything one deep scan works with, from its preparation to the end of the
// processor thread: the scanned record and its options, the read order, the
// catalogue, the ring, timing and the hand-over flags. The catalogue outlives
// the threads; it is cleared when the next scan is prepared.
#include <atomic>
#include <cstdint>
#include <vector>

#include "app/progress.h"
#include "app/scan_state.h"
#include "carving/signature_find.h"
#include "scan/block_ring.h"
#include "scan/block_schedule.h"
#include "scan/scan_catalogue.h"
#include "scan/scan_options.h"
#include "scan/scan_timing.h"
#include "storage/part_info.h"

namespace kestrel {

class IObserver;
struct ResultSet;
struct ScanSession;

// The steps of the scan that belong to the scan-state file and to the
// reassembly of partitions and trees. Each is optional: an empty hook does
// nothing (and, for the questions, asks nothing).
struct PostScanHooks {
    // Scan-state file.
    bool (*hasSavedData)(ScanSession& s) = nullptr;
    bool (*loadSavedData)(ScanSession& s, ScanState& state) = nullptr;  // map and catalogue
    bool (*saveScanData)(ScanSession& s) = nullptr;
    // Reassembly.
    void (*resetForScan)(ScanSession& s) = nullptr;  // per-scan lists, the result tree
    void (*liveStart)(ScanSession& s, ScanState& state) = nullptr;
    void (*liveBootRecord)(ScanSession& s, const FoundItem& item, ScanState& state) = nullptr;
    void (*liveBlockEnd)(ScanSession& s, uint64_t blockLba, uint32_t fileRecords,
                         const std::vector<FoundItem>& items) = nullptr;
    void (*liveSignatureFinds)(ScanSession& s, uint64_t blockLba,
                               const std::vector<FoundItem>& items) = nullptr;
    bool (*postScan)(ScanSession& s, ScanState& state) = nullptr;
    void (*rebuildTree)(ScanSession& s) = nullptr;
    // Where the file-record area begins, from a run that starts with "$M...".
    MftStartFromRecord mftStart = nullptr;
};

struct ScanSession {
    // Set by the caller before the reader starts.
    PartInfo scanned;
    ScanOptions options;
    int32_t recoverMode = 2;
    BlockAllocatedQuery allocated;  // mode 1; empty: every block is read
    PostScanHooks hooks;
    IObserver* mainWindow = nullptr;  // 1126 / 1127
    // Where the reassembly puts what it rebuilds: the result set the browser
    // and the export read (null: the post-scan steps build nothing).
    ResultSet* results = nullptr;
    // Injected read failures for the reader's source (tests).
    const struct FaultMap* faults = nullptr;
    // Poll intervals (ms): ring full or empty, and paused.
    uint32_t pollMs = 100;
    uint32_t pauseMs = 1000;

    // The scan's working state.
    ScanSchedule schedule;
    CScanCatalogue catalogue;
    CScanBlockRing ring;
    PendingFinds pending;
    ScanTiming timing;
    std::atomic<bool> readerFinished{false};
    std::atomic<bool> processorFinished{false};
    std::atomic<bool> scanCompleted{false};
    std::atomic<bool> openFailed{false};

    // Owned by the processor until processorFinished is set.
    ProgressSnapshot progress;
    std::vector<uint64_t> processedBlocks;  // block LBAs in the order processed
    uint64_t processorCpuNs = 0;            // processor thread CPU time
    uint64_t readerCpuNs = 0;               // reader thread CPU time in its read loop
    uint32_t readFailures = 0;              // the read-error counters at the reader's end
    uint32_t readCalls = 0;

    // The partition list the post-scan processing built, installed into the
    // result set by rebuildTree (which takes over the node tables).
    std::vector<PartInfo> foundPartitions;
};

// The structure counter (index into DeepScanProgress::structures) of a code,
// or -1 for codes that are not counted.
int StructureCounterIndex(uint32_t code);

// Runs the per-sector recognition over one block and files the results.
void ProcessBlock(ScanSession& s, BlockBuffer& block, ScanState& state);

// Thread bodies: param is a ScanJob.
struct ScanJob {
    ScanSession* session;
    ScanState* state;
};
void DiskScanAndViewThread(void* job);
void DiskFileScanHandThread(void* job);

// Starts the reader (which starts the processor) on worker threads. The job
// must stay alive until processorFinished is set.
void StartDeepScan(ScanJob& job);
// Runs a whole scan, the reader on the calling thread, and returns once the
// processor has ended.
void RunDeepScan(ScanSession& s, ScanState& state);

}  // namespace kestrel
