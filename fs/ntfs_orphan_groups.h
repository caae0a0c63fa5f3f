#pragma once
// The pure steps of rebuilding NTFS partitions from orphan FILE records:
// grouping the finds into MFT runs, voting the cluster size from the
// members' allocated sizes, and reading the file references of an index
// block. Nothing here touches the device.
#include <cstdint>
#include <vector>

#include "fs/ntfs_orphan_partitions.h"
#include "platform/bytes.h"

namespace kestrel {

// A run of records of one MFT: record n + k lies 2k sectors after record n.
// Members are indices into the find list, in LBA order.
using OrphanGroup = std::vector<uint32_t>;

// Groups the finds (in LBA order). Each group starts at the first find not
// yet taken (the anchor); a later find joins when its record number is above
// the anchor's and its distance to the anchor is two sectors per record in
// between; 21 other finds in a row end the group, and the next one starts
// after its last member. Groups of fewer than minMembers are dropped.
std::vector<OrphanGroup> GroupOrphanRecords(const std::vector<NtfsRecordFind>& records,
                                            uint32_t minMembers);

// Sectors per cluster from the allocated sizes of the group's in-use files
// with non-resident data: more than 19 sizes that are whole sectors, all
// multiples of the smallest (at most 64 KiB), which must be at least four
// sectors. 0 when the sizes do not say.
uint32_t VoteOrphanClusterSectors(const std::vector<NtfsRecordFind>& records,
                                  const OrphanGroup& group);

// The file references (low 32 bits) of the index entries of an "INDX" block
// whose name is a Win32 or Win32-and-DOS name, from the first entry until
// the last-entry flag, a zero length or the end of the block. Empty for a
// block without the magic.
std::vector<uint32_t> IndexBlockWin32References(ByteView block);

}  // namespace kestrel
