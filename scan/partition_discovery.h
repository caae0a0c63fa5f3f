#pragma once
// The rules that turn what the scan found into partition records: entries of
// extended partition tables, boot records found anywhere (with their backups)
// and runs of NTFS file records that begin with the record area's own first
// records. Shared by the post-scan processing and the live view.
#include <cstdint>
#include <vector>

#include "scan/found_item.h"
#include "storage/part_info.h"
#include "storage/sector_source.h"

namespace kestrel {

bool HasPartitionStart(const std::vector<PartInfo>& list, uint64_t startLba);

// The partition a boot-record item (223, 226, 228, 233) stands for, checked
// against the structures it describes (record area, FAT, root directory),
// at the item's LBA or, for a backup copy, before it. False when no check
// holds. device gives the device path and identity the record takes over.
bool PartFromBootRecordItem(const FoundItem& item, SectorSource& src, const PartInfo& device,
                            PartInfo& part);

// Appends the partitions of EBR entries and boot records (items in
// catalogue order) whose start is not yet in list.
void AddPartitionsFromTablesAndBootRecords(const std::vector<FoundItem>& items, SectorSource& src,
                                           const PartInfo& device, std::vector<PartInfo>& list);

// Appends the NTFS partitions that runs of file records ("$MFT" first)
// imply, when their start is not yet in list.
void AddNtfsPartitionsFromRecordRuns(const std::vector<FoundItem>& items, SectorSource& src,
                                     const PartInfo& device, std::vector<PartInfo>& list);

}  // namespace kestrel
