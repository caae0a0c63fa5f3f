#pragma once
// The application object: what happens between process start and the main
// window, and the shutdown after it closes. Front ends (desktop, command line)
// own one instance for the process lifetime.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/scan_state.h"
#include "platform/instance_lock.h"
#include "platform/wide_text.h"

namespace kestrel {

class RegistryStore;

constexpr const char* kProductName = "Kestrel";
constexpr const char* kCompanyName = "Norvale";

struct AppStartupOptions {
    std::string lockPath;      // empty: InstanceLock::DefaultPath()
    std::string registryPath;  // empty: RegistryStore::DefaultPath()
    std::string dumpFolder;    // empty: the executable's folder
    std::string machineIdPath = "/etc/machine-id";
    bool installCrashHandler = true;
};

class CKestrelApp {
public:
    CKestrelApp() = default;
    ~CKestrelApp();
    CKestrelApp(const CKestrelApp&) = delete;
    CKestrelApp& operator=(const CKestrelApp&) = delete;

    // The start-up steps before the main window. False when another instance
    // holds the lock (the message has then been shown): the caller exits.
    bool Startup(const AppStartupOptions& options = {});
    // Runs the shutdown hooks (release results), sends the exit report
    // synchronously, asks a running scan to stop and waits waitMs.
    void Shutdown(ScanState* scanState, int waitMs = 1000);

    // Called at the end of Startup, in order (type names, filter defaults:
    // they live in libraries above this one).
    void AddStartupHook(std::function<void()> hook);
    // Called first in Shutdown (release deep-scan results, clear the result set).
    void AddShutdownHook(std::function<void()> hook);

    // Waits for the start-up thread (report worker started, start-up report
    // queued, old dumps handed over).
    void WaitStartupThread();

    uint32_t RunNumber() const { return runNumber_; }

    // A stable per-machine text (16 hex digits) from the machine id; empty
    // when there is none. Short enough that dump upload names fit.
    static WString ComputeInstallId(const std::string& machineIdPath);
    // Reads "RunNum", stores the next value and returns this run's number.
    static uint32_t NextRunNumber(RegistryStore& reg);
    static WString StartupReportText(uint32_t runNumber);

private:
    void StartupThread();

    InstanceLock lock_;
    std::thread startupThread_;
    std::string dumpFolder_;
    uint32_t runNumber_ = 1;
    std::vector<std::function<void()>> startupHooks_;
    std::vector<std::function<void()>> shutdownHooks_;
};

// The crash handler for the product: dumps into folder (the executable's
// folder when empty), the crash marker in $XDG_RUNTIME_DIR or /tmp.
bool InstallAppCrashHandler(const std::string& folder = {});

}  // namespace kestrel
