#pragma once
// Runs the built kestrel-cli in a child process for the end-to-end tests.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kestrel::test {

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Runs kestrel-cli with TZ=UTC, standard output into outPath; the exit code.
inline int RunCli(const std::vector<std::string>& args, const std::string& outPath) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const int fd = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) _exit(127);
        dup2(fd, 1);
        const int devNull = ::open("/dev/null", O_WRONLY);
        if (devNull >= 0) dup2(devNull, 2);
        setenv("TZ", "UTC", 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(KESTREL_CLI));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(KESTREL_CLI, argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The sha256 of a file's bytes, in lower-case hex.
inline std::string Sha256File(const std::string& path) {
    const std::string cmd = "sha256sum < '" + path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return "";
    char buf[65] = {};
    const size_t n = std::fread(buf, 1, 64, p);
    pclose(p);
    return std::string(buf, n);
}

}  // namespace kestrel::test
