#pragma once
#include <cstdint>

namespace kestrel {

// What an export does when part of a file cannot be read.
enum ReadErrorPolicy : uint32_t {
    kClearFile = 0,    // "清空当前文件": the file is cut to 0 bytes
    kKeepPartial = 1,  // "保留已恢复的数据，并跳过当前文件": bytes written so far stay
    kRecoverAll = 2,   // "恢复文件全部数据": unreadable sectors are written as zeros
};

}  // namespace kestrel
