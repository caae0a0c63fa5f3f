#pragma once
// The read order of a deep scan: one status byte per 8 MiB block of the
// device, a queue of blocks read before the sequential sweep continues, and
// the sweep's cursor. Every block is read at most once per scan: a block
// leaves state 0 only under the queue lock.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

#include "scan/found_item.h"
#include "scan/scan_options.h"
#include "storage/part_info.h"

namespace kestrel {

constexpr uint64_t kScanBlockSectors = 0x4000;
constexpr uint32_t kScanBlockShift = 14;
inline uint64_t BlockStartOf(uint64_t lba) { return lba & ~(kScanBlockSectors - 1); }

enum BlockMapValue : uint8_t { kBlockUnread = 0, kBlockClaimed = 1, kBlockProcessed = 2 };

// One byte per block from LBA 0. The reader moves 0 -> 1 under the queue lock;
// the processor moves 1 -> 2 without it, so the bytes are accessed atomically.
class CScanBlockMap {
public:
    CScanBlockMap() = default;
    ~CScanBlockMap();
    CScanBlockMap(const CScanBlockMap&) = delete;
    CScanBlockMap& operator=(const CScanBlockMap&) = delete;

    void Allocate(uint64_t blockCount);  // zeroed
    // Takes over a guarded allocation of blockCount bytes (a loaded map).
    void Adopt(uint8_t* bytes, uint64_t blockCount);
    void Free();
    uint64_t Count() const { return count_; }
    bool Empty() const { return bytes_ == nullptr; }
    // Out-of-range indexes read as processed and ignore writes.
    uint8_t Get(uint64_t index) const;
    void Set(uint64_t index, uint8_t value);
    const uint8_t* Bytes() const { return bytes_; }

private:
    uint8_t* bytes_ = nullptr;
    uint64_t count_ = 0;
};

// Blocks of the device: total sectors / 0x4000, rounded up.
uint64_t DeviceBlockCount(const PartInfo& scanned);

// A whole disk larger than 75 GiB (400 GiB when it sits on USB).
bool ComputeSmartScan(const PartInfo& scanned);

// The mode-1 answer: true when every cluster overlapping [firstLba, lastLba]
// is in use, so the block cannot hold deleted data.
using BlockAllocatedQuery = std::function<bool(uint64_t firstLba, uint64_t lastLba)>;

struct ScanSchedule {
    CScanBlockMap map;
    uint64_t rangeStart = 0;  // first block start of the scanned record
    uint64_t rangeEnd = 0;    // last block start (inclusive)
    bool rangeEmpty = true;
    uint64_t cursor = 0;
    bool cursorDone = false;
    std::deque<uint64_t> queue;
    bool smartScan = false;
    bool freeSpaceOnly = false;  // RecoverMode 1: only queued blocks are read
    uint64_t mode1Total = 0;
    std::mutex lock;  // queue, cursor and the map transition 0 -> 1
};

// Sets the scan range, the cursor and the queue for the scanned record. The
// map must exist. allocated is used in mode 1 only; without it every block of
// the range is queued.
void SetUpReadOrder(ScanSchedule& s, const PartInfo& scanned, const ScanOptions& options,
                    int32_t recoverMode, const BlockAllocatedQuery& allocated);

// The next block start to read (its map byte becomes 1); false when none is left.
bool NextBlock(ScanSchedule& s, uint64_t& lba);

// Queues the block holding lba at the front, only with SmartScan on and lba
// inside the scan range.
void PrioritiseBlock(ScanSchedule& s, uint64_t lba);

// Where an NTFS file-record area starts, given a record whose name begins
// with "$M" at lba; false when it cannot be told.
using MftStartFromRecord = bool (*)(const FoundItem& record, uint64_t& areaStart);

// Pointer following after one processed block (SmartScan only): boot records
// point at their backups and the blocks before them, runs of file records at
// the start of their file-record area.
void FollowPointers(ScanSchedule& s, const FoundItem* items, size_t count,
                    MftStartFromRecord mftStart);

}  // namespace kestrel
