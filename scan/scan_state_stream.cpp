#include "scan/scan_state_stream.h"

#include <errno.h>
#include <unistd.h>

namespace kestrel {

StateWriter::StateWriter(int fd, size_t bufferBytes)
    : fd_(fd), buffer_(bufferBytes ? bufferBytes : 1), room_(buffer_.size()) {}

void StateWriter::SlowBytes(const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (fd_ < 0) {
        // Memory mode grows the buffer instead of draining it.
        const size_t need = used_ + n;
        size_t cap = buffer_.size() ? buffer_.size() : 256;
        while (cap < need) cap *= 2;
        buffer_.resize(cap);
        room_ = cap - used_;
        Bytes(p, n);
        return;
    }
    while (n > 0) {
        const size_t take = n < room_ ? n : room_;
        std::memcpy(buffer_.data() + used_, p, take);
        used_ += take;
        room_ -= take;
        p += take;
        n -= take;
        if (room_ == 0) Drain();
    }
}

void StateWriter::Zeros(size_t n) {
    static const uint8_t kZeros[512] = {};
    while (n > 0) {
        const size_t take = n < sizeof kZeros ? n : sizeof kZeros;
        Bytes(kZeros, take);
        n -= take;
    }
}

void StateWriter::Drain() {
    // After a failure the rest is dropped: the caller truncates the file anyway.
    const uint8_t* p = buffer_.data();
    size_t n = failed_ ? 0 : used_;
    while (n > 0) {
        const ssize_t w = ::write(fd_, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) {
            failed_ = true;
            break;
        }
        p += w;
        n -= size_t(w);
    }
    used_ = 0;
    room_ = buffer_.size();
}

bool StateWriter::Flush() {
    if (fd_ >= 0) Drain();
    return !failed_;
}

StateReader::StateReader(ByteView bytes) : data_(bytes.data()), size_(bytes.size()) {}

StateReader::StateReader(int fd, size_t bufferBytes)
    : fd_(fd), buffer_(bufferBytes ? bufferBytes : 1) {
    data_ = buffer_.data();
}

bool StateReader::Refill() {
    if (fd_ < 0 || failed_) return false;
    const size_t left = size_ - pos_;
    std::memmove(buffer_.data(), buffer_.data() + pos_, left);
    pos_ = 0;
    size_ = left;
    while (size_ < buffer_.size()) {
        const ssize_t r = ::read(fd_, buffer_.data() + size_, buffer_.size() - size_);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        size_ += size_t(r);
    }
    return size_ > left;
}

bool StateReader::SlowBytes(void* out, size_t n) {
    if (failed_) return false;
    uint8_t* dst = static_cast<uint8_t*>(out);
    while (n > 0) {
        if (pos_ == size_ && !Refill()) {
            failed_ = true;
            return false;
        }
        const size_t have = size_ - pos_;
        const size_t take = n < have ? n : have;
        std::memcpy(dst, data_ + pos_, take);
        dst += take;
        pos_ += take;
        n -= take;
        consumed_ += take;
    }
    return true;
}

}  // namespace kestrel
