#pragma once
// The ways a partition record is made: from an entry of the device list,
// from a partition-table entry, and from an NTFS, FAT or exFAT boot sector
// found on the medium. Each returns a fresh record; on failure the record
// may be partly filled and the caller discards it.
#include <cstdint>

#include "storage/dev_info.h"
#include "storage/part_info.h"
#include "storage/sector_source.h"

namespace kestrel {

// The label a volume or a partition-table entry gets when it has none.
inline constexpr char16_t kDefaultLabel[] = u"本地磁盘";

PartInfo BuildPartFromDevInfo(const DevInfo& dev);

// What every record found on a device takes over from the device's record:
// its path, identity (disk name and description), size and removable flag.
void TakeDeviceIdentity(const PartInfo& device, PartInfo& part);
// A fresh record on the device with nothing else set.
PartInfo RecordOnDevice(const PartInfo& device);
// A copy of part that shares none of its node table and reader buffers.
PartInfo WithoutTables(const PartInfo& part);

// entry: the 16 bytes of a partition-table entry; baseLba: LBA of the table
// that holds it (its start field is relative to that). part must be fresh.
// False when the partition's first sector cannot be read.
bool BuildPartFromEntry(const uint8_t* entry, uint64_t baseLba, SectorSource& src, PartInfo& part);

PartInfo BuildPartFromNtfsBoot(const uint8_t* boot, uint64_t startLba, SectorSource& src);
PartInfo BuildPartFromFatBoot(const uint8_t* boot, uint64_t startLba, SectorSource& src);
PartInfo BuildPartFromExfatBoot(const uint8_t* boot, uint64_t startLba, SectorSource& src);

}  // namespace kestrel
