#pragma once
// The process-wide values that pages and worker threads share. They are
// written by the front end before the worker that reads them starts (the
// thread start orders them); counters touched by several threads are atomic.
#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "platform/wide_text.h"
#include "storage/part_info.h"

namespace kestrel {

struct DevInfo;

enum RecoverModeValue : int32_t {
    kModeNone = 0,
    kModeDeletedFiles = 1,   // "恢复删除的文件"
    kModePartitionFiles = 2, // "恢复分区的文件"
    kModeDiskFiles = 3,      // "恢复磁盘的文件"
};

enum ReadStatModeValue : int32_t {
    kReadStatOff = 0,
    kReadStatScan = 1,    // only reads of exactly 16384 sectors are counted
    kReadStatExport = 2,  // every read is counted
};

struct RunState {
    int32_t RecoverMode = kModeNone;
    int32_t DevListKind = 0;  // 1 volumes only, 2 disks only, else both
    PartInfo CurPartInfo;
    int32_t ScanParamSetEnabled = 0;
    std::atomic<int32_t> LiveThreadCount{0};
    std::atomic<int32_t> OutOfMemoryFlag{0};
    std::atomic<int32_t> AppExiting{0};
    std::atomic<int32_t> ReadStatMode{kReadStatOff};
    std::atomic<uint32_t> ReadCallCount{0};
    std::atomic<uint32_t> ReadFailCount{0};
    // InstallId labels reports and dump uploads; with it empty no report is sent.
    WString InstallId;
    std::atomic<uint32_t> ImproveConsent{0};
    // Export: the folder offered again in the options dialog, the export root
    // of the last run (the browser's open-folder command), and the counters
    // the summary reads. Written by the export worker, read after it ended.
    WString ExportTargetDir;
    WString LastExportDir;
    std::atomic<uint64_t> ExportTotalKib{0};
    std::atomic<uint32_t> ExportTotalFiles{0};
    std::atomic<uint64_t> LastExportKib{0};
    std::atomic<uint32_t> LastExportFiles{0};
    // The device list GetAllPartInfoThread fills: volumes first, then disks.
    // Read by the front end only after the thread has set its status to done.
    std::vector<DevInfo> AllDevInfoList;
};

RunState& Run();

// Called first and last by each long-running worker.
void ThreadBegin(const char* name);
void ThreadEnd(const char* name);

// Starts a worker thread (detached) running fn(param). The worker calls
// ThreadBegin/ThreadEnd itself, as the long-running ones must.
void StartWorker(void (*fn)(void*), void* param);

}  // namespace kestrel
