#pragma once
// Locating the MFT of an NTFS partition and reading single FILE records
// through the sector source.
#include <cstdint>

#include "fs/ntfs_runs.h"
#include "storage/sector_source.h"

namespace kestrel {

// The update-sequence fix-up of a 1 KiB FILE record (false on a mismatch).
// The sequence array's place is checked here first, so that no header value
// can point the fix-up outside the record.
bool FixupFileRecord(uint8_t* record1024);

// Reads the two sectors of the record at lba and applies the fix-up. False
// when the read fails, the fix-up does not match, or it is no FILE record.
bool ReadFileRecordAt(SectorSource& src, uint64_t lba, uint8_t* record1024);

// The resolved runs of the first $DATA attribute of a fixed-up record, which
// must be non-resident and whose mapping pairs must leave more than 2 bytes.
RunList DataRunsOfRecord(const uint8_t* record1024, const PartInfo& part);

// The run list of MFT record `recordIndex` (0 the MFT itself, 1 its mirror
// file) read at the MFT position of the boot sector, or, when that gives no
// run, at the mirror position.
RunList ReadMftRecordRuns(SectorSource& src, const PartInfo& part, uint32_t recordIndex);

}  // namespace kestrel
