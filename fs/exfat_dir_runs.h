#pragma once
// The pure steps of rebuilding exFAT directory partitions: runs of directory
// sectors, the cluster size and alignment they share, and the first
// subdirectory a directory's sectors name. Nothing here reads the device.
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/bytes.h"

namespace kestrel {

// Consecutive directory sectors. Starts keep the low 32 bits of their LBA,
// as cluster positions of these partitions are 32-bit.
struct ExfatDirRun {
    uint32_t start = 0;
    uint32_t sectors = 0;
};

// Merges finds at consecutive sectors (lbas in LBA order) into runs.
std::vector<ExfatDirRun> MergeExfatDirRuns(const std::vector<uint64_t>& lbas);

// The cluster size in sectors: the largest power of two (up to 2^15) that
// divides more than 80 % of the even distances between consecutive run
// starts. 0 with fewer than 20 runs or no even distance.
uint32_t VoteExfatClusterSectors(const std::vector<ExfatDirRun>& runs);

// Indices of the runs that lie on one cluster grid: run i of the first
// quarter and every later run a whole number of clusters from it, for the
// first i whose selection holds more than 80 % of all runs. Empty when none.
std::vector<uint32_t> SelectAlignedRuns(const std::vector<ExfatDirRun>& runs,
                                        uint32_t clusterSectors);

// The first cluster of the first subdirectory (a live file entry with the
// directory attribute directly followed by its stream extension) among the
// entries, before any end-of-directory or deleted file entry.
std::optional<uint32_t> FirstSubdirectoryCluster(ByteView entries);

}  // namespace kestrel
