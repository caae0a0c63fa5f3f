#pragma once
// Injected read failures for tests: a read whose byte range overlaps one of
// the failing ranges fails as a device read error would (EIO), so the
// reopen-and-retry path and the zero-fill run exactly as on a bad disk.
#include <cstdint>
#include <vector>

namespace kestrel {

struct FaultRange {
    uint64_t start = 0;  // first failing byte
    uint64_t end = 0;    // one past the last failing byte
};

struct FaultMap {
    std::vector<FaultRange> ranges;  // sorted by start, not overlapping
    // 0: the ranges fail every time. N > 0: only the first N reads that hit a
    // range fail (a transient error that the retry gets past).
    uint32_t failFirstAttempts = 0;
    // Reads that hit a range so far; a source is used by one thread at a time.
    mutable uint32_t hits = 0;

    // True when [offset, offset + length) overlaps a failing range.
    bool Overlaps(uint64_t offset, uint64_t length) const;
    // Overlaps() and the attempt counting: true when this read must fail.
    bool ShouldFail(uint64_t offset, uint64_t length) const;
};

}  // namespace kestrel
