#include "platform/crash_handler.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "tests/support/fixture.h"

namespace kestrel {
namespace {

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs crash() in a child with the handler installed; returns its end signal.
template <typename Fn>
int CrashChild(const std::string& dir, const std::string& marker, Fn crash) {
    const pid_t child = ::fork();
    if (child == 0) {
        rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
        if (!InstallCrashHandler({dir, 3349, marker})) ::_exit(90);
        crash();
        ::_exit(91);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : -WEXITSTATUS(status);
}

TEST(CrashHandler, FaultWritesADumpAndStillEndsBySignal) {
    const std::string dir = test::TempDir("crash_segv");
    const std::string marker = dir + "/VRX_Crash_{FC1A0E29-3523-4152-B110-3340363E5DE7}";
    const time_t before = ::time(nullptr);
    const int sig = CrashChild(dir, marker, [] {
        // The address is read back from a volatile so the optimiser cannot
        // see (and warn about) the deliberate fault.
        volatile uintptr_t address = 0x10;
        volatile int* p = reinterpret_cast<int*>(address);
        *p = 1;
    });
    EXPECT_EQ(sig, SIGSEGV);

    std::string dump;
    for (const std::string& n : FilesIn(dir))
        if (n.size() > 4 && n.substr(n.size() - 4) == ".dmp") dump = n;
    ASSERT_FALSE(dump.empty());
    EXPECT_TRUE(std::regex_match(dump, std::regex(R"(3349_\d{8}_\d{6}\.dmp)"))) << dump;
    // The name carries the local date and time of the crash.
    tm local{};
    localtime_r(&before, &local);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "3349_%04d%02d%02d_%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour);
    EXPECT_EQ(dump.substr(0, 13), std::string(prefix).substr(0, 13)) << dump;

    const std::string text = Slurp(dir + "/" + dump);
    EXPECT_NE(text.find("signal: 11 (SIGSEGV)"), std::string::npos) << text;
    EXPECT_NE(text.find("address: 0x0000000000000010"), std::string::npos) << text;
#if defined(__x86_64__)
    EXPECT_NE(text.find("  RIP = 0x"), std::string::npos) << text;
    EXPECT_NE(text.find("  CR2 = 0x0000000000000010"), std::string::npos) << text;
#endif
    EXPECT_NE(text.find("backtrace:\n"), std::string::npos) << text;
    EXPECT_EQ(::access(marker.c_str(), F_OK), 0);
}

TEST(CrashHandler, AbortIsCaughtToo) {
    const std::string dir = test::TempDir("crash_abort");
    EXPECT_EQ(CrashChild(dir, "", [] { ::abort(); }), SIGABRT);
    const auto files = FilesIn(dir);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(Slurp(dir + "/" + files[0]).find("(SIGABRT)"), std::string::npos);
}

int Recurse(int depth) {
    volatile char pad[512];
    pad[0] = char(depth);
    if (depth == INT32_MAX) return 0;  // never reached: the stack ends first
    return Recurse(depth + 1) + pad[0];
}

TEST(CrashHandler, StackOverflowInAPreparedThreadIsCaught) {
    const std::string dir = test::TempDir("crash_overflow");
    const int sig = CrashChild(dir, "", [] {
        std::thread t([] {
            PrepareCrashStackForThread();
            Recurse(0);
        });
        t.join();
    });
    EXPECT_EQ(sig, SIGSEGV);
    const auto files = FilesIn(dir);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(Slurp(dir + "/" + files[0]).find("(SIGSEGV)"), std::string::npos);
}

TEST(CrashHandler, DumpNamesUseTheOffsetTakenAtInstall) {
    // 2026-01-02 03:04:05 UTC.
    const int64_t t = 1767323045;
    EXPECT_EQ(CrashDumpName(3349, t, 0), "3349_20260102_030405.dmp");
    EXPECT_EQ(CrashDumpName(3349, t, 8 * 3600), "3349_20260102_110405.dmp");
    EXPECT_EQ(CrashDumpName(3349, t, -4 * 3600), "3349_20260101_230405.dmp");
    EXPECT_EQ(CrashDumpName(3349, 951782400, 0), "3349_20000229_000000.dmp");  // leap day
    EXPECT_EQ(CrashDumpName(7, 0, 0), "7_19700101_000000.dmp");
}

TEST(CrashHandler, RefusesAFolderTooLongForTheHandlerBuffer) {
    EXPECT_FALSE(InstallCrashHandler({std::string(5000, 'a'), 3349, ""}));
}

}  // namespace
}  // namespace kestrel
