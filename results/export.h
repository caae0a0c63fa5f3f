#pragma once
// Export of the checked files and directories of a result set below
// "Kestrel恢复的文件" in a target folder: one folder per partition named by
// its label, then the recovered directory structure.
#include <atomic>
#include <cstdint>
#include <vector>

#include "app/progress.h"
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
};

// The worker: param is an ExportJob whose resultSet, currentDir (the target
// folder) and policies are set.
void SaveAllToDirThread(void* param);

}  // namespace kestrel
