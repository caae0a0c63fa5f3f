#pragma once
// Export of the checked files and directories of a result set below
// "Kestrel恢复的文件" in a target folder: one folder per partition named by
// its label, then the recovered directory structure.
#include <atomic>
#include <cstdint>
#include <vector>

#include "app/progress.h"
#include "fs/file_node.h"
#include "fs/read_error_policy.h"
#include "fs/result_set.h"
#include "platform/wide_text.h"

namespace kestrel {

enum CollisionPolicy : uint32_t {
    kAskUser = 0,    // "提示用户"
    kOverwrite = 1,  // "覆盖文件"
    kSkipFile = 2,   // "跳过文件"
};

struct ExportOptions {
    WString targetDir;
    CollisionPolicy collisionPolicy = kOverwrite;
    ReadErrorPolicy readErrorPolicy = kKeepPartial;
};

struct ExportJob {
    std::atomic<int32_t> status{0};  // 0 running, 2 stop requested, 3 finished
    ResultSet* resultSet = nullptr;
    WString currentDir;
    TreeRow row = 0;
    std::vector<uint32_t> items;
    CollisionPolicy collisionPolicy = kOverwrite;
    ReadErrorPolicy readErrorPolicy = kKeepPartial;
    // What this job wrote, set by the worker at its end (the summary's figures).
    uint32_t filesDone = 0;
    uint64_t bytesDone = 0;
};

// The command's steps before the worker starts: queues report 2, switches the
// read accounting to export mode with both counters zeroed, and fills the job
// (status 0, the options, currentDir = the target folder).
void PrepareExportJob(ExportJob& job, ResultSet& rs, const ExportOptions& options);

// The worker: param is an ExportJob whose resultSet, currentDir (the target
// folder) and policies are set. Traced with ThreadBegin/ThreadEnd.
void SaveAllToDirThread(void* param);
// The same work on the calling thread: counts the selection, creates the
// export root and one folder per checked partition, exports, queues report 3,
// updates the export counters, and sets status 3 unless a stop was requested.
void RunExport(ExportJob& job);

// Exports job.items (ids in job.row) into job.currentDir, recursing into
// directories; stops when job.status becomes 2.
void ExportNodes(ExportJob& job, ProgressSnapshot& progress);
// One file to path: collision handling, creation (with the name repair on
// failure) and the reader of the partition. True when the file was written.
bool ExportOneFile(ExportJob& job, const WString& path, const FileNode& node,
                   ProgressSnapshot& progress);

}  // namespace kestrel
