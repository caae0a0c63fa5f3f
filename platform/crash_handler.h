#pragma once
// The process's last word on a fatal signal: a small text dump next to the
// executable, written from the signal handler itself, then the default action
// so the process still ends the way it would have.
//
// The dump ("<build>_YYYYMMDD_HHMMSS.dmp", local time) holds the signal, the
// faulting address, the registers and a backtrace. Everything the handler
// needs is prepared at install time; the handler only uses async-signal-safe
// calls (no allocation, no stdio, no locale or time-zone lookups).
#include <cstdint>
#include <string>

namespace kestrel {

struct CrashHandlerConfig {
    std::string folder;  // where dumps go; a trailing '/' is added when missing
    uint32_t buildNumber = 0;
    std::string markerPath;  // touched on a crash for an outside watcher; empty = none
};

// Installs the handler for SIGSEGV, SIGBUS, SIGFPE, SIGILL and SIGABRT on an
// alternate stack for the calling thread. May be called again to change the
// configuration. False when the folder path is too long or sigaction fails.
bool InstallCrashHandler(const CrashHandlerConfig& config);

// Gives the calling thread its own alternate signal stack, so a stack overflow
// in that thread still reaches the handler.
void PrepareCrashStackForThread();

// Formats the dump file name for a UTC instant and UTC offset, as the handler
// does; exposed so the naming can be tested without crashing.
std::string CrashDumpName(uint32_t buildNumber, int64_t utcSeconds, int64_t utcOffsetSeconds);

}  // namespace kestrel
