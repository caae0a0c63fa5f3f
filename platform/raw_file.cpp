#include "platform/raw_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>

namespace kestrel {

RawFile::RawFile(RawFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      size_(std::exchange(other.size_, 0)),
      blockDevice_(std::exchange(other.blockDevice_, false)),
      path_(std::move(other.path_)) {}

RawFile& RawFile::operator=(RawFile&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = std::exchange(other.fd_, -1);
        size_ = std::exchange(other.size_, 0);
        blockDevice_ = std::exchange(other.blockDevice_, false);
        path_ = std::move(other.path_);
    }
    return *this;
}

bool RawFile::Open(const std::string& utf8Path) {
    Close();
    int fd;
    do {
        fd = ::open(utf8Path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        ::close(fd);
        return false;
    }
    uint64_t size = 0;
    const bool block = S_ISBLK(st.st_mode);
    if (block) {
        if (::ioctl(fd, BLKGETSIZE64, &size) != 0) size = 0;
    } else {
        size = st.st_size > 0 ? uint64_t(st.st_size) : 0;
    }
    fd_ = fd;
    size_ = size;
    blockDevice_ = block;
    path_ = utf8Path;
    return true;
}

void RawFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
    blockDevice_ = false;
    path_.clear();
}

int64_t RawFile::PRead(void* buf, size_t n, uint64_t off) {
    if (fd_ < 0 || !buf) return -1;
    if (n == 0) return 0;
    // pread takes a signed offset; anything beyond it is past every medium.
    if (off > uint64_t(INT64_MAX)) return 0;
    if (n > size_t(INT64_MAX)) n = size_t(INT64_MAX);
    auto* out = static_cast<uint8_t*>(buf);
    size_t done = 0;
    while (done < n) {
        const uint64_t pos = off + done;
        if (pos > uint64_t(INT64_MAX)) break;
        const ssize_t got = ::pread(fd_, out + done, n - done, off_t(pos));
        if (got < 0) {
            if (errno == EINTR) continue;
            return done ? int64_t(done) : -1;
        }
        if (got == 0) break;  // end of the medium
        done += size_t(got);
    }
    return int64_t(done);
}

}  // namespace kestrel
