#pragma once
// Process-wide lists of the disk areas the NTFS reader has identified while
// reading partitions: MFT extents and directory-index extents. The deep-scan
// reassembly consults them to tell records that belong to a known MFT from
// orphans. Both lists belong to one scan and are cleared when the next is
// prepared.
#include <cstdint>
#include <optional>
#include <vector>

#include "fs/ntfs_runs.h"

namespace kestrel {

struct NtfsExtent {
    uint64_t startLba = 0;
    uint64_t sectors = 0;
};

// Called for every run newly registered as an MFT extent, so that the scan
// can drop the FILE-record finds that lie inside it. The scan installs it.
using MftExtentHook = void (*)(const NtfsExtent& extent);
void SetMftExtentHook(MftExtentHook hook);

// Registers the resolved runs of an MFT (or its mirror). Nothing happens when
// any run equals an extent already known; otherwise every run is appended.
// True when the runs were appended.
bool RegisterMftExtents(const RunList& runs);
// Appends every resolved run of a directory's $INDEX_ALLOCATION.
void RegisterIndexExtents(const RunList& runs);

// The first known MFT extent, in registration order, holding lba.
std::optional<NtfsExtent> FindKnownMftExtent(uint64_t lba);

std::vector<NtfsExtent> KnownMftExtents();
std::vector<NtfsExtent> KnownIndexExtents();
void ClearNtfsKnownExtents();

}  // namespace kestrel
