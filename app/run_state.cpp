#include "app/run_state.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <thread>

#include "platform/crash_handler.h"
#include "storage/dev_info.h"

namespace kestrel {

RunState& Run() {
    static RunState state;
    return state;
}

void ThreadBegin(const char*) { Run().LiveThreadCount.fetch_add(1); }

void ThreadEnd(const char*) { Run().LiveThreadCount.fetch_sub(1); }

void StartWorker(void (*fn)(void*), void* param) {
    std::thread([fn, param] {
        // A stack overflow in a worker must still reach the crash handler.
        PrepareCrashStackForThread();
        fn(param);
    }).detach();
}

}  // namespace kestrel
