#pragma once
// Buffered little-endian streams for the scan-state file. The catalogue of a
// large disk holds millions of items, so both sides go through one buffer
// and touch the file only when it is full (writing) or empty (reading). Both
// also work on memory alone, which is how the record layouts are tested.
#include <cstddef>
#include <cstdint>
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

    void Bytes(const void* data, size_t n);
    void Zeros(size_t n);
    void U8(uint8_t v) { Bytes(&v, 1); }
    void U16(uint16_t v);
    void U32(uint32_t v);
    void U64(uint64_t v);

    // Writes out what is buffered; false once any write has failed.
    bool Flush();
    bool Failed() const { return failed_; }
    const std::vector<uint8_t>& Memory() const { return buffer_; }

private:
    void Drain();

    int fd_ = -1;
    size_t limit_ = 0;
    bool failed_ = false;
    std::vector<uint8_t> buffer_;
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
    bool Bytes(void* out, size_t n);
    bool U8(uint8_t& v) { return Bytes(&v, 1); }
    bool U16(uint16_t& v);
    bool U32(uint32_t& v);
    bool U64(uint64_t& v);
    // Bytes consumed so far.
    uint64_t Offset() const { return consumed_; }

private:
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
