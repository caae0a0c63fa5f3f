#include "platform/crash_handler.h"

#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace kestrel {
namespace {

constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};
constexpr size_t kPathMax = 3072;
constexpr size_t kAltStackSize = 64 * 1024;

// Filled at install; read-only inside the handler.
char gFolder[kPathMax];
size_t gFolderLen = 0;
char gMarker[kPathMax];
uint32_t gBuild = 0;
long gUtcOffset = 0;
std::atomic<int> gInHandler{0};

alignas(16) char gMainAltStack[kAltStackSize];

// A fixed buffer that never allocates; text past its end is dropped.
struct Line {
    char buf[kPathMax + 128];
    size_t len = 0;
    void Put(const char* s) {
        while (*s && len < sizeof buf) buf[len++] = *s++;
    }
    void Char(char c) {
        if (len < sizeof buf) buf[len++] = c;
    }
    void Dec(uint64_t v, int width = 0) {
        char tmp[24];
        int n = 0;
        do {
            tmp[n++] = char('0' + v % 10);
            v /= 10;
        } while (v && n < 24);
        for (int i = n; i < width; ++i) Char('0');
        while (n) Char(tmp[--n]);
    }
    void Hex(uint64_t v) {
        Put("0x");
        for (int shift = 60; shift >= 0; shift -= 4) Char("0123456789abcdef"[(v >> shift) & 0xF]);
    }
    void WriteTo(int fd) {
        size_t done = 0;
        while (done < len) {
            const ssize_t n = ::write(fd, buf + done, len - done);
            if (n <= 0) return;
            done += size_t(n);
        }
        len = 0;
    }
};

// Civil date from days since 1970-01-01 (proleptic Gregorian), by arithmetic
// only: the handler cannot call localtime.
void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

void FormatName(Line& l, uint32_t build, int64_t utc, int64_t offset) {
    const int64_t local = utc + offset;
    int64_t days = local / 86400;
    int64_t secs = local % 86400;
    if (secs < 0) {
        secs += 86400;
        --days;
    }
    int64_t y;
    unsigned m, d;
    CivilFromDays(days, y, m, d);
    l.Dec(build);
    l.Char('_');
    l.Dec(uint64_t(y < 0 ? 0 : y), 4);
    l.Dec(m, 2);
    l.Dec(d, 2);
    l.Char('_');
    l.Dec(uint64_t(secs / 3600), 2);
    l.Dec(uint64_t(secs / 60 % 60), 2);
    l.Dec(uint64_t(secs % 60), 2);
    l.Put(".dmp");
}

const char* SignalName(int sig) {
    switch (sig) {
        case SIGSEGV:
            return "SIGSEGV";
        case SIGBUS:
            return "SIGBUS";
        case SIGFPE:
            return "SIGFPE";
        case SIGILL:
            return "SIGILL";
        case SIGABRT:
            return "SIGABRT";
        default:
            return "?";
    }
}

void WriteRegisters(int fd, void* context) {
#if defined(__x86_64__)
    if (!context) return;
    const auto* uc = static_cast<const ucontext_t*>(context);
    static const struct {
        const char* name;
        int index;
    } kRegs[] = {
        {"RIP", REG_RIP}, {"RSP", REG_RSP}, {"RBP", REG_RBP}, {"RAX", REG_RAX},
        {"RBX", REG_RBX}, {"RCX", REG_RCX}, {"RDX", REG_RDX}, {"RSI", REG_RSI},
        {"RDI", REG_RDI}, {"R8", REG_R8},   {"R9", REG_R9},   {"R10", REG_R10},
        {"R11", REG_R11}, {"R12", REG_R12}, {"R13", REG_R13}, {"R14", REG_R14},
        {"R15", REG_R15}, {"EFL", REG_EFL}, {"ERR", REG_ERR}, {"TRAPNO", REG_TRAPNO},
        {"CR2", REG_CR2},
    };
    Line l;
    l.Put("registers:\n");
    l.WriteTo(fd);
    for (const auto& r : kRegs) {
        l.Put("  ");
        l.Put(r.name);
        l.Put(" = ");
        l.Hex(uint64_t(uc->uc_mcontext.gregs[r.index]));
        l.Char('\n');
        l.WriteTo(fd);
    }
#else
    (void)fd;
    (void)context;
#endif
}

void CrashSignal(int sig, siginfo_t* info, void* context) {
    const int savedErrno = errno;
    if (gInHandler.exchange(1) == 0) {
        if (gMarker[0]) {
            const int m = ::open(gMarker, O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (m >= 0) {
                ::futimens(m, nullptr);
                ::close(m);
            }
        }
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        Line path;
        path.Put(gFolder);
        FormatName(path, gBuild, now.tv_sec, gUtcOffset);
        path.buf[path.len < sizeof path.buf ? path.len : sizeof path.buf - 1] = 0;
        const int fd = ::open(path.buf, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd >= 0) {
            Line l;
            l.Put("build: ");
            l.Dec(gBuild);
            l.Put("\nsignal: ");
            l.Dec(uint64_t(sig));
            l.Put(" (");
            l.Put(SignalName(sig));
            l.Put(")\ncode: ");
            l.Dec(uint64_t(uint32_t(info ? info->si_code : 0)));
            l.Put("\naddress: ");
            l.Hex(uint64_t(reinterpret_cast<uintptr_t>(info ? info->si_addr : nullptr)));
            l.Put("\npid: ");
            l.Dec(uint64_t(::getpid()));
            l.Char('\n');
            l.WriteTo(fd);
            WriteRegisters(fd, context);
            l.Put("backtrace:\n");
            l.WriteTo(fd);
            void* frames[64];
            const int n = ::backtrace(frames, 64);
            ::backtrace_symbols_fd(frames, n, fd);
            ::close(fd);
        }
    }
    // End the way the signal would have ended the process without us.
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    ::sigaction(sig, &dfl, nullptr);
    errno = savedErrno;
    ::raise(sig);
}

bool CopyPath(char* dst, const std::string& src) {
    if (src.size() + 1 > kPathMax) return false;
    std::memcpy(dst, src.c_str(), src.size() + 1);
    return true;
}

}  // namespace

std::string CrashDumpName(uint32_t buildNumber, int64_t utcSeconds, int64_t utcOffsetSeconds) {
    Line l;
    FormatName(l, buildNumber, utcSeconds, utcOffsetSeconds);
    return std::string(l.buf, l.len);
}

namespace {
// One alternate stack per thread, released when the thread ends.
struct ThreadAltStack {
    char* mem = nullptr;
    ~ThreadAltStack() {
        if (!mem) return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        ::sigaltstack(&off, nullptr);
        delete[] mem;
    }
};
thread_local ThreadAltStack tAltStack;
}  // namespace

void PrepareCrashStackForThread() {
    stack_t current{};
    if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
    if (!tAltStack.mem) tAltStack.mem = new char[kAltStackSize];
    stack_t ss{};
    ss.ss_sp = tAltStack.mem;
    ss.ss_size = kAltStackSize;
    ::sigaltstack(&ss, nullptr);
}

bool InstallCrashHandler(const CrashHandlerConfig& config) {
    std::string folder = config.folder;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    // Room for the file name the handler appends.
    if (folder.size() + 64 > kPathMax || !CopyPath(gMarker, config.markerPath)) return false;
    CopyPath(gFolder, folder);
    gFolderLen = folder.size();
    gBuild = config.buildNumber;

    // The time-zone offset is taken now: the handler cannot consult the rules.
    const time_t now = ::time(nullptr);
    tm local{};
    gUtcOffset = ::localtime_r(&now, &local) ? local.tm_gmtoff : 0;

    // The first backtrace loads the unwinder; later calls do not allocate.
    void* frames[4];
    ::backtrace(frames, 4);

    stack_t current{};
    if (::sigaltstack(nullptr, &current) != 0 || (current.ss_flags & SS_DISABLE)) {
        stack_t ss{};
        ss.ss_sp = gMainAltStack;
        ss.ss_size = sizeof gMainAltStack;
        ::sigaltstack(&ss, nullptr);
    }

    gInHandler.store(0);
    struct sigaction sa {};
    sa.sa_sigaction = &CrashSignal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    for (int sig : kSignals)
        if (::sigaction(sig, &sa, nullptr) != 0) return false;
    return true;
}

}  // namespace kestrel
