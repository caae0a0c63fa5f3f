#pragma once
// Helpers of the kestrel-cli recover tests: a child-process runner that keeps
// stderr and sets the scan-state file, and a walk of an export folder.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/cli/cli_runner.h"

namespace kestrel::test {

struct CliResult {
    int code = -1;
    std::string out, err;
};

// Starts kestrel-cli with TZ=UTC and KESTREL_SCAN_STATE=statePath, stdin from
// /dev/null, stdout and stderr into files; the child's pid.
inline pid_t SpawnCli(const std::vector<std::string>& args, const std::string& statePath,
                      const std::string& outPath, const std::string& errPath) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    setenv("TZ", "UTC", 1);
    setenv("KESTREL_SCAN_STATE", statePath.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(KESTREL_CLI)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(KESTREL_CLI, argv.data());
    _exit(127);
}

inline int WaitCli(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs one command in work (a folder of the test's own).
inline CliResult Recover(const std::vector<std::string>& args, const std::string& work,
                         const std::string& statePath = {}) {
    const std::string out = work + "/stdout.txt", err = work + "/stderr.txt";
    std::vector<std::string> full{"recover"};
    full.insert(full.end(), args.begin(), args.end());
    CliResult r;
    r.code = WaitCli(
        SpawnCli(full, statePath.empty() ? work + "/DiskScanData.dat" : statePath, out, err));
    r.out = ReadText(out);
    r.err = ReadText(err);
    return r;
}

// Bytes the process has read so far (its rchar), or 0 when unknown.
inline unsigned long long BytesReadBy(pid_t pid) {
    const std::string io = ReadText("/proc/" + std::to_string(pid) + "/io");
    const size_t at = io.find("rchar:");
    return at == std::string::npos ? 0 : std::stoull(io.substr(at + 6));
}

struct ExportedFile {
    std::string path;  // relative to the partition folder
    std::string partition;
    std::string sha;
    std::string modified;  // "YYYY-MM-DD HH:MM:SS" UTC
    unsigned long long size = 0;
};

inline std::string UtcText(time_t t) {
    char text[32];
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

// Every file below outDir/"Kestrel恢复的文件"/<partition folder>/.
inline std::vector<ExportedFile> ExportedFiles(const std::string& outDir) {
    namespace fs = std::filesystem;
    std::vector<ExportedFile> files;
    const fs::path root = fs::path(outDir) / "Kestrel恢复的文件";
    std::error_code ec;
    if (!fs::is_directory(root, ec)) return files;
    for (const fs::directory_entry& part : fs::directory_iterator(root)) {
        if (!part.is_directory()) continue;
        for (const fs::directory_entry& e : fs::recursive_directory_iterator(part.path())) {
            if (!e.is_regular_file()) continue;
            struct stat st {};
            if (::stat(e.path().c_str(), &st) != 0) continue;
            ExportedFile f;
            f.partition = part.path().filename().string();
            f.path = fs::relative(e.path(), part.path()).string();
            f.sha = Sha256File(e.path().string());
            f.modified = UtcText(st.st_mtime);
            f.size = (unsigned long long)st.st_size;
            files.push_back(f);
        }
    }
    return files;
}

}  // namespace kestrel::test
