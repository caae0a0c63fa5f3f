#pragma once
// Buffered little-endian streams for the scan-state file. The catalogue of a
// large disk holds millions of items, so both sides go through one buffer
// and touch the file only when it is full (writing) or empty (reading). Both
// also work on memory alone, which is how the record layouts are tested.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/bytes.h"

namespace kestrel {

class StateWriter {
public:
    // Collects everything in memory (Memory() holds it).
    StateWriter() = default;
    // Writes to fd whenever bufferBytes have gathered; fd is not closed.
    explicit StateWriter(int fd, size_t bufferBytes = size_t(1) << 20);
    StateWriter(const StateWriter&) = delete;
    StateWriter& operator=(const StateWriter&) = delete;

    // Called a few dozen times per item: the common case stays inline.
    void Bytes(const void* data, size_t n) {
        if (n <= room_) {
            if (n == 0) return;
            std::memcpy(buffer_.data() + used_, data, n);
            used_ += n;
            room_ -= n;
            return;
        }
        SlowBytes(data, n);
    }
    void Zeros(size_t n);
    void U8(uint8_t v) { Bytes(&v, 1); }
    void U16(uint16_t v) {
        uint8_t b[2];
        StoreU16(b, v);
        Bytes(b, 2);
    }
    void U32(uint32_t v) {
        uint8_t b[4];
        StoreU32(b, v);
        Bytes(b, 4);
    }
    void U64(uint64_t v) {
        uint8_t b[8];
        StoreU64(b, v);
        Bytes(b, 8);
    }

    // Writes out what is buffered; false once any write has failed.
    bool Flush();
    bool Failed() const { return failed_; }
    // Memory mode: everything written so far.
    std::vector<uint8_t> Memory() const {
        return std::vector<uint8_t>(buffer_.begin(), buffer_.begin() + long(used_));
    }

private:
    void SlowBytes(const void* data, size_t n);
    void Drain();

    int fd_ = -1;
    bool failed_ = false;
    // buffer_ is allocated whole; used_ bytes of it are filled, room_ free.
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    size_t room_ = 0;
};

class StateReader {
public:
    // Reads a span that stays alive for the reader's lifetime.
    explicit StateReader(ByteView bytes);
    // Reads fd from its current offset through one buffer; fd is not closed.
    explicit StateReader(int fd, size_t bufferBytes = size_t(1) << 20);
    StateReader(const StateReader&) = delete;
    StateReader& operator=(const StateReader&) = delete;

    // All of them fail (and keep failing) when the stream ends first.
    bool Bytes(void* out, size_t n) {
        if (n <= size_ - pos_) {
            if (n == 0) return true;
            std::memcpy(out, data_ + pos_, n);
            pos_ += n;
            consumed_ += n;
            return true;
        }
        return SlowBytes(out, n);
    }
    bool U8(uint8_t& v) { return Bytes(&v, 1); }
    bool U16(uint16_t& v) {
        uint8_t b[2];
        if (!Bytes(b, 2)) return false;
        v = ByteView(b, 2).U16(0);
        return true;
    }
    bool U32(uint32_t& v) {
        uint8_t b[4];
        if (!Bytes(b, 4)) return false;
        v = ByteView(b, 4).U32(0);
        return true;
    }
    bool U64(uint64_t& v) {
        uint8_t b[8];
        if (!Bytes(b, 8)) return false;
        v = ByteView(b, 8).U64(0);
        return true;
    }
    // Bytes consumed so far.
    uint64_t Offset() const { return consumed_; }

private:
    bool SlowBytes(void* out, size_t n);
    bool Refill();

    int fd_ = -1;
    bool failed_ = false;
    std::vector<uint8_t> buffer_;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
    size_t pos_ = 0;
    uint64_t consumed_ = 0;
};

}  // namespace kestrel
