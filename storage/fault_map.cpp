#include "storage/fault_map.h"

#include <algorithm>

namespace kestrel {

bool FaultMap::Overlaps(uint64_t offset, uint64_t length) const {
    if (length == 0) return false;
    const uint64_t last = length - 1 > UINT64_MAX - offset ? UINT64_MAX : offset + length - 1;
    // First range that ends after offset; ranges are sorted and disjoint.
    auto it = std::upper_bound(ranges.begin(), ranges.end(), offset,
                               [](uint64_t off, const FaultRange& r) { return off < r.end; });
    return it != ranges.end() && it->start <= last && it->start < it->end;
}

bool FaultMap::ShouldFail(uint64_t offset, uint64_t length) const {
    if (!Overlaps(offset, length)) return false;
    ++hits;
    return failFirstAttempts == 0 || hits <= failFirstAttempts;
}

}  // namespace kestrel
