#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kestrel {

std::string InstanceLock::DefaultPath() {
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run)
        return std::string(run) + "/kestrel.lock";
    return "/tmp/kestrel-" + std::to_string(::getuid()) + ".lock";
}

bool InstanceLock::Acquire(const std::string& path) {
    if (fd_ >= 0) return true;
    // O_NOFOLLOW: in a shared /tmp a planted symlink must not redirect us.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return false;
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void InstanceLock::Release() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace kestrel
