#include "scan/block_schedule.h"

#include <atomic>

#include "app/guarded_memory.h"
#include "platform/bytes.h"
#include "scan/scan_catalogue.h"

namespace kestrel {
namespace {

// The guarded allocator takes 32-bit sizes: a map of more blocks than that
// would describe a device of 32 PiB, which no record can honestly claim.
constexpr uint64_t kMaxMapBlocks = 0xFFFF0000u;

constexpr uint64_t kSmartFixedSectors = 0x9600000;       // 75 GiB
constexpr uint64_t kSmartRemovableSectors = 0x32000000;  // 400 GiB
constexpr uint64_t kGiBSectors = 0x200000;
constexpr uint64_t kSampleThreshold = 0x800000;  // 4 GiB

bool InRange(const ScanSchedule& s, uint64_t blockStart) {
    return !s.rangeEmpty && blockStart >= s.rangeStart && blockStart <= s.rangeEnd;
}

}  // namespace

CScanBlockMap::~CScanBlockMap() { Free(); }

void CScanBlockMap::Allocate(uint64_t blockCount) {
    Free();
    if (blockCount > kMaxMapBlocks) blockCount = kMaxMapBlocks;
    count_ = blockCount;
    bytes_ = static_cast<uint8_t*>(GuardedAlloc(uint32_t(blockCount ? blockCount : 1), __LINE__));
}

void CScanBlockMap::Adopt(uint8_t* bytes, uint64_t blockCount) {
    Free();
    bytes_ = bytes;
    count_ = bytes ? blockCount : 0;
}

void CScanBlockMap::Free() {
    if (bytes_) GuardedFree(bytes_);
    bytes_ = nullptr;
    count_ = 0;
}

uint8_t CScanBlockMap::Get(uint64_t index) const {
    if (!bytes_ || index >= count_) return kBlockProcessed;
    return std::atomic_ref<uint8_t>(bytes_[index]).load(std::memory_order_acquire);
}

void CScanBlockMap::Set(uint64_t index, uint8_t value) {
    if (!bytes_ || index >= count_) return;
    std::atomic_ref<uint8_t>(bytes_[index]).store(value, std::memory_order_release);
}

uint64_t DeviceBlockCount(const PartInfo& scanned) {
    uint64_t sectors = scanned.deviceSectors;
    // A record that claims to reach past the device (a container without its
    // own device size) still needs map bytes for its blocks, unless its size
    // is the unknown-size marker.
    if (scanned.sizeSectors != kUnknownSizeSectors &&
        scanned.startLba <= UINT64_MAX - scanned.sizeSectors &&
        scanned.startLba + scanned.sizeSectors > sectors)
        sectors = scanned.startLba + scanned.sizeSectors;
    return sectors / kScanBlockSectors + (sectors % kScanBlockSectors ? 1 : 0);
}

bool ComputeSmartScan(const PartInfo& p) {
    if (p.startLba != 0 || p.sizeSectors != p.deviceSectors) return false;
    return p.sizeSectors > (p.isRemovable == 1 ? kSmartRemovableSectors : kSmartFixedSectors);
}

void SetUpReadOrder(ScanSchedule& s, const PartInfo& scanned, const ScanOptions& options,
                    int32_t recoverMode, const BlockAllocatedQuery& allocated) {
    std::lock_guard<std::mutex> guard(s.lock);
    s.queue.clear();
    s.mode1Total = 0;
    s.freeSpaceOnly = recoverMode == 1;
    s.smartScan = ComputeSmartScan(scanned);
    // The range ends with the block holding the record's last sector (not the
    // block just past it), and never past the map, so every block of the range
    // has a map byte and no phantom block is scanned.
    s.rangeStart = BlockStartOf(scanned.startLba);
    uint64_t size = scanned.sizeSectors;
    const uint64_t mapSectors = s.map.Count() << kScanBlockShift;
    if (scanned.startLba >= mapSectors)
        size = 0;
    else if (size > mapSectors - scanned.startLba)
        size = mapSectors - scanned.startLba;
    s.rangeEmpty = size == 0;
    s.rangeEnd = s.rangeEmpty ? s.rangeStart : BlockStartOf(scanned.startLba + size - 1);
    s.cursor = s.rangeStart;
    s.cursorDone = s.rangeEmpty;
    if (s.rangeEmpty) return;

    if (s.freeSpaceOnly) {
        const uint64_t recordEnd = scanned.startLba + size;  // exclusive
        for (uint64_t b = s.rangeStart;; b += kScanBlockSectors) {
            if (b < recordEnd) {
                const uint64_t last = b + kScanBlockSectors - 1;
                if (!allocated || !allocated(b, last)) {
                    s.queue.push_back(b);
                    ++s.mode1Total;
                }
            }
            if (b >= s.rangeEnd) break;
        }
        return;
    }
    if (options.prioritySize != 0) {
        const uint64_t first = BlockStartOf(options.priorityStart);
        const uint64_t end = options.priorityStart > UINT64_MAX - options.prioritySize
                                 ? UINT64_MAX
                                 : options.priorityStart + options.prioritySize;
        const uint64_t last = BlockStartOf(end);
        // Blocks past the range would only be skipped when taken.
        const uint64_t stop = last < s.rangeEnd ? last : s.rangeEnd;
        for (uint64_t b = first; b <= stop; b += kScanBlockSectors) s.queue.push_back(b);
    }
    if (s.smartScan && scanned.sizeSectors > kSampleThreshold) {
        const uint64_t end = scanned.startLba + size;
        for (uint64_t g = s.rangeStart & ~(kGiBSectors - 1); g <= end; g += kGiBSectors) {
            if (g >= scanned.startLba && g <= s.rangeEnd) s.queue.push_back(g);
        }
    }
}

bool NextBlock(ScanSchedule& s, uint64_t& lba) {
    std::lock_guard<std::mutex> guard(s.lock);
    while (!s.queue.empty()) {
        const uint64_t b = s.queue.front();
        s.queue.pop_front();
        if (!InRange(s, b)) continue;
        const uint64_t index = b >> kScanBlockShift;
        if (s.map.Get(index) != kBlockUnread) continue;
        s.map.Set(index, kBlockClaimed);
        lba = b;
        return true;
    }
    if (s.freeSpaceOnly) return false;
    while (!s.cursorDone) {
        const uint64_t b = s.cursor;
        if (b >= s.rangeEnd)
            s.cursorDone = true;
        else
            s.cursor = b + kScanBlockSectors;
        const uint64_t index = b >> kScanBlockShift;
        if (s.map.Get(index) == kBlockUnread) {
            s.map.Set(index, kBlockClaimed);
            lba = b;
            return true;
        }
    }
    return false;
}

void PrioritiseBlock(ScanSchedule& s, uint64_t lba) {
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.smartScan) return;
    const uint64_t b = BlockStartOf(lba);
    if (!InRange(s, b)) return;
    if (s.map.Get(b >> kScanBlockShift) != kBlockUnread) return;  // would be skipped anyway
    s.queue.push_front(b);
}

void FollowPointers(ScanSchedule& s, const FoundItem* items, size_t count,
                    MftStartFromRecord mftStart) {
    if (!s.smartScan || !items) return;
    size_t fileRecords = 0;
    for (size_t i = 0; i < count; ++i) {
        const FoundItem& it = items[i];
        const uint64_t L = it.lba;
        const bool ntfs = it.type == kCodeNtfsBoot;
        const bool fat = it.type == kCodeFat16Boot || it.type == kCodeFat32Boot;
        if (it.type == kCodeFileRecord) ++fileRecords;
        if (!(ntfs || fat) || !it.data) continue;
        ByteView boot(it.data, 512);
        if (L > kScanBlockSectors) PrioritiseBlock(s, L - kScanBlockSectors);
        const uint64_t S = ntfs ? boot.U64(0x28) : boot.U32(0x20);
        if (S <= UINT64_MAX - L - kScanBlockSectors) {
            PrioritiseBlock(s, L + S);
            PrioritiseBlock(s, L + S + kScanBlockSectors);
        }
        if (ntfs && L > S) {
            PrioritiseBlock(s, L - S);
            if (L - S >= kScanBlockSectors) PrioritiseBlock(s, L - S - kScanBlockSectors);
        }
    }
    if (fileRecords <= 3) return;
    // Runs of file records at consecutive 2-sector steps, in item order.
    size_t i = 0;
    while (i < count) {
        if (items[i].type != kCodeFileRecord) {
            ++i;
            continue;
        }
        size_t j = i + 1;
        uint64_t prev = items[i].lba;
        while (j < count && items[j].type == kCodeFileRecord && items[j].lba == prev + 2) {
            prev = items[j].lba;
            ++j;
        }
        if (j - i > 3) {
            const FoundItem& first = items[i];
            uint64_t areaStart = 0;
            uint32_t recordNumber = 0;
            if (FileRecordNameStartsWithMft(first) && mftStart) {
                if (mftStart(first, areaStart)) PrioritiseBlock(s, areaStart);
            } else if (FileRecordNumber(first, recordNumber) &&
                       first.lba > 2 * uint64_t(recordNumber)) {
                // Without the NTFS reader's answer a "$M" run is placed like
                // any other: by its first record's number.
                PrioritiseBlock(s, first.lba - 2 * uint64_t(recordNumber));
            }
        }
        i = j;
    }
}

}  // namespace kestrel
