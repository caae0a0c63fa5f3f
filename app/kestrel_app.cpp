#include "app/kestrel_app.h"

#include <sys/utsname.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "app/guarded_memory.h"
#include "app/reports.h"
#include "app/run_state.h"
#include "app/text_utils.h"
#include "app/user_interaction.h"
#include "platform/crash_handler.h"
#include "platform/registry_store.h"

namespace kestrel {
namespace {

constexpr char kCrashMarker[] = "VRX_Crash_{FC1A0E29-3523-4152-B110-3340363E5DE7}";
constexpr char kHighestRunChar = '~';

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n'))
        --e;
    return s.substr(b, e - b);
}

void OsVersion(unsigned& major, unsigned& minor, unsigned& bits) {
    major = minor = 0;
    bits = sizeof(void*) * 8;
    utsname u{};
    if (::uname(&u) != 0) return;
    std::sscanf(u.release, "%u.%u", &major, &minor);
    const std::string machine = u.machine;
    if (machine.find("64") != std::string::npos) bits = 64;
}

}  // namespace

CKestrelApp::~CKestrelApp() { WaitStartupThread(); }

void CKestrelApp::AddStartupHook(std::function<void()> hook) {
    startupHooks_.push_back(std::move(hook));
}

void CKestrelApp::AddShutdownHook(std::function<void()> hook) {
    shutdownHooks_.push_back(std::move(hook));
}

WString CKestrelApp::ComputeInstallId(const std::string& machineIdPath) {
    std::ifstream in(machineIdPath);
    std::string id;
    if (!in || !std::getline(in, id)) return {};
    id = Trim(id);
    if (id.empty()) return {};
    // FNV-1a over the machine id and the product: the id itself is not sent.
    uint64_t h = 1469598103934665603ULL;
    for (char c : id + "/" + kCompanyName + "/" + kProductName) {
        h ^= uint8_t(c);
        h *= 1099511628211ULL;
    }
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return WideFromUtf8(buf);
}

uint32_t CKestrelApp::NextRunNumber(RegistryStore& reg) {
    std::string v;
    if (reg.Read("RunNum", v) && !v.empty()) {
        const unsigned char c = static_cast<unsigned char>(v[0]);
        // A counter character outside '0'..'~' is not one we wrote; restart
        // the count instead of reporting a wrapped run number.
        if (c >= '0' && c <= kHighestRunChar) {
            if (c < kHighestRunChar) reg.Write("RunNum", std::string(1, char(c + 1)));
            return uint32_t(c) - 47;
        }
    }
    reg.Write("RunNum", "1");
    return 1;
}

WString CKestrelApp::StartupReportText(uint32_t runNumber) {
    unsigned major, minor, bits;
    OsVersion(major, minor, bits);
    char buf[256];
    std::snprintf(buf, sizeof buf, "%s %u %u ver: %s     Svn ver: %u     OS: %u   %u    %u",
                  kProductAbbrev, 1u, runNumber, kProductVersion, kBuildNumber, major, minor, bits);
    std::string text = buf;
    PhysicalMemory mem;
    if (QueryPhysicalMemory(mem)) {
        std::snprintf(buf, sizeof buf, "     AllMem: %u   FreeMem: %u", mem.totalMiB, mem.availMiB);
        text += buf;
    }
    return WideFromUtf8(text);
}

bool InstallAppCrashHandler(const std::string& folder) {
    CrashHandlerConfig cfg;
    cfg.folder = folder.empty() ? GetExeFolder() : folder;
    cfg.buildNumber = kBuildNumber;
    const char* run = std::getenv("XDG_RUNTIME_DIR");
    cfg.markerPath = std::string(run && *run ? run : "/tmp") + "/" + kCrashMarker;
    if (cfg.folder.empty()) return false;
    return InstallCrashHandler(cfg);
}

bool CKestrelApp::Startup(const AppStartupOptions& options) {
    dumpFolder_ = options.dumpFolder.empty() ? GetExeFolder() : options.dumpFolder;
    if (options.installCrashHandler) InstallAppCrashHandler(dumpFolder_);

    // Character classification follows the user's locale; numbers stay in the
    // C locale so that every formatted size keeps its '.' decimal point.
    std::setlocale(LC_CTYPE, "");
    std::srand(unsigned(std::time(nullptr)));

    const std::string lockPath =
        options.lockPath.empty() ? InstanceLock::DefaultPath() : options.lockPath;
    if (!lock_.Acquire(lockPath)) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "已经有一个%s软件运行了!", kProductName);
        UserInteraction().ShowMessage(WideFromUtf8(buf));
        return false;
    }

    RegistryStore reg(options.registryPath.empty() ? RegistryStore::DefaultPath()
                                                   : options.registryPath);
    std::string value;
    Run().ImproveConsent = (reg.Read("JoinImproveSoft", value) && value == "1") ? 1 : 0;
    if (reg.Read("ReportServer", value)) SetReportServer(Trim(value));
    Run().InstallId = ComputeInstallId(options.machineIdPath);
    runNumber_ = NextRunNumber(reg);

    startupThread_ = std::thread(&CKestrelApp::StartupThread, this);

    for (auto& hook : startupHooks_) hook();
    return true;
}

void CKestrelApp::StartupThread() {
    // The online parameter page belongs to the periphery; this build has none.
    StartReportQueueWorker();
    SendReport(kEvStartup, StartupReportText(runNumber_), true);
    UploadOldDumps(dumpFolder_);
}

void CKestrelApp::WaitStartupThread() {
    if (startupThread_.joinable()) startupThread_.join();
}

void CKestrelApp::Shutdown(ScanState* scanState, int waitMs) {
    WaitStartupThread();
    lock_.Release();
    for (auto& hook : shutdownHooks_) hook();
    SendReport(kEvExit, WString(), false);
    if (scanState) scanState->store(kScanStopRequested);
    if (waitMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
}

}  // namespace kestrel
