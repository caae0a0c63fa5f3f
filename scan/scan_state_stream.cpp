#include "scan/scan_state_stream.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>

namespace kestrel {

StateWriter::StateWriter(int fd, size_t bufferBytes)
    : fd_(fd), limit_(bufferBytes ? bufferBytes : 1) {
    buffer_.reserve(limit_);
}

void StateWriter::Bytes(const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    if (fd_ < 0) {
        buffer_.insert(buffer_.end(), p, p + n);
        return;
    }
    while (n > 0) {
        const size_t room = limit_ - buffer_.size();
        const size_t take = n < room ? n : room;
        buffer_.insert(buffer_.end(), p, p + take);
        p += take;
        n -= take;
        if (buffer_.size() >= limit_) Drain();
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

void StateWriter::U16(uint16_t v) {
    uint8_t b[2];
    StoreU16(b, v);
    Bytes(b, 2);
}

void StateWriter::U32(uint32_t v) {
    uint8_t b[4];
    StoreU32(b, v);
    Bytes(b, 4);
}

void StateWriter::U64(uint64_t v) {
    uint8_t b[8];
    StoreU64(b, v);
    Bytes(b, 8);
}

void StateWriter::Drain() {
    // After a failure the rest is dropped: the caller truncates the file anyway.
    const uint8_t* p = buffer_.data();
    size_t n = failed_ ? 0 : buffer_.size();
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
    buffer_.clear();
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

bool StateReader::Bytes(void* out, size_t n) {
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

bool StateReader::U16(uint16_t& v) {
    uint8_t b[2];
    if (!Bytes(b, 2)) return false;
    v = ByteView(b, 2).U16(0);
    return true;
}

bool StateReader::U32(uint32_t& v) {
    uint8_t b[4];
    if (!Bytes(b, 4)) return false;
    v = ByteView(b, 4).U32(0);
    return true;
}

bool StateReader::U64(uint64_t& v) {
    uint8_t b[8];
    if (!Bytes(b, 8)) return false;
    v = ByteView(b, 8).U64(0);
    return true;
}

}  // namespace kestrel
