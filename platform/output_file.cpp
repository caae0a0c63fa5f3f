#include "platform/output_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

bool OutputFile::Create(const std::string& path) {
    Close();
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    owned_ = fd_ >= 0;
    written_ = 0;
    return fd_ >= 0;
}

void OutputFile::AttachDescriptor(int fd) {
    Close();
    fd_ = fd;
    owned_ = false;
    written_ = 0;
}

bool OutputFile::Write(const void* data, size_t n) {
    if (fd_ < 0) return false;
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        ssize_t w = ::write(fd_, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= size_t(w);
        written_ += uint64_t(w);
    }
    return true;
}

bool OutputFile::SetLengthZero() {
    if (fd_ < 0) return false;
    if (::ftruncate(fd_, 0) != 0) return false;
    ::lseek(fd_, 0, SEEK_SET);
    written_ = 0;
    return true;
}

bool OutputFile::SetTimes(int64_t /*createdUtc*/, int64_t modifiedUtc) {
    if (fd_ < 0) return false;
    struct timespec ts[2];
    ts[0].tv_sec = 0;
    ts[0].tv_nsec = UTIME_OMIT;  // leave the access time alone
    ts[1].tv_sec = time_t(modifiedUtc);
    ts[1].tv_nsec = 0;
    return ::futimens(fd_, ts) == 0;
}

void OutputFile::Close() {
    if (fd_ >= 0 && owned_) ::close(fd_);
    fd_ = -1;
    owned_ = false;
}

}  // namespace kestrel
