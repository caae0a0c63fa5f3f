#pragma once
// The hand-over between the scan's reader and its processor: up to 8 blocks
// in transit. Instead of copying 8 MiB into and out of a slot under the lock,
// the reader and the processor swap buffer ownership with a slot: each side
// always owns exactly one buffer of its own, the ring owns the other eight.
// What is observable is unchanged (the same blocks arrive in the same order,
// at most 8 wait), but the scan is no longer limited by two memcpy's per block.
// A side that finds the ring full or empty waits at most one poll interval
// and is woken as soon as the other side moves: with plain sleeps both sides
// could doze at once and the scan would run at a fraction of the medium's
// speed.
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace kestrel {

constexpr uint32_t kRingSlots = 8;
constexpr uint32_t kBlockDataBytes = 0x800000;
constexpr uint32_t kBlockBufferBytes = 0x800200;  // data, then a 512-byte trailer

// One block in transit: the data part, then the trailer whose first 8 bytes
// hold the block's start LBA (little-endian); the rest of the trailer is zero.
struct BlockBuffer {
    uint8_t* bytes = nullptr;
    void* allocation = nullptr;  // what was allocated; bytes lies in it
    uint64_t Lba() const;
    void SetLba(uint64_t lba);
    uint8_t* Data() { return bytes; }
    const uint8_t* Data() const { return bytes; }
};

class CScanBlockRing {
public:
    CScanBlockRing() = default;
    ~CScanBlockRing() { Free(); }
    CScanBlockRing(const CScanBlockRing&) = delete;
    CScanBlockRing& operator=(const CScanBlockRing&) = delete;

    // Allocates the 8 slot buffers (empty ring, indexes 0).
    void Allocate();
    void Free();
    bool Allocated() const { return slots_[0].bytes != nullptr; }

    // A side's own buffer; freed by FreeOwnBuffer.
    static BlockBuffer AllocateOwnBuffer();
    static void FreeOwnBuffer(BlockBuffer& b);

    // Reader: when a slot is free, swaps `own` with it (own now holds an old
    // slot buffer to fill next) and returns true; false when the ring is full.
    bool Put(BlockBuffer& own);
    // Processor: when a block is waiting, swaps it into `own` and returns true.
    bool Take(BlockBuffer& own);
    uint32_t Count();
    // Wait up to ms for a free slot / a waiting block (or a Wake).
    void WaitForSpace(uint32_t ms);
    void WaitForBlock(uint32_t ms);
    // Wakes every waiter, so that it looks at the state word again.
    void Wake();

private:
    std::mutex lock_;
    std::condition_variable moved_;
    uint32_t wakes_ = 0;
    BlockBuffer slots_[kRingSlots];
    uint32_t count_ = 0;
    uint32_t readIndex_ = 0;
    uint32_t writeIndex_ = 0;
};

}  // namespace kestrel
