#pragma once
// NTFS mapping pairs (run lists): decoding the raw bytes into runs of
// clusters, and placing the runs on the device.
#include <cstdint>
#include <vector>

#include "storage/part_info.h"

namespace kestrel {

struct RunItem {
    int32_t delta = 0;      // cluster offset from the previous run's start
    uint64_t startLba = 0;  // absolute on the device, set by ResolveRuns
    uint64_t clusters = 0;
    uint64_t sectors = 0;  // set by ResolveRuns
    bool sparse = false;   // a pair without offset bytes: a hole that reads as zeros
};
using RunList = std::vector<RunItem>;

// Decodes mapping pairs until a 0 header byte or the end of the bytes. A pair
// whose fields would run past the end, or that declares more than 8 bytes
// for a field, ends the list. Lengths and deltas keep their low 32 bits.
RunList DecodeRunList(const uint8_t* bytes, uint32_t length);

// Sectors per cluster of an NTFS partition (boot byte 0x0D).
inline uint32_t NtfsSectorsPerCluster(const PartInfo& part) { return part.bootSector[0x0D]; }

// Fills start LBAs and sector lengths, each run relative to the one before
// (the first to the partition start). False for an empty list or a cluster
// size of 0.
bool ResolveRuns(const PartInfo& part, RunList& list);

}  // namespace kestrel
