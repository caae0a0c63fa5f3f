#pragma once
// The structure classifier: decides whether one 512-byte sector is a
// file-system structure the reassembly can use, and builds the FoundItem with
// its payload. Classification is a pure function of the sector and its LBA.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "scan/found_item.h"
#include "storage/part_info.h"

namespace kestrel {

struct ScanSchedule;

// The structure code of the sector (221..236), or kCodeNothing (238).
uint32_t ClassifySector(const uint8_t* sector, uint64_t lba);

// The exFAT entry-set test over the 16 directory entries of a sector, from
// entry `first` on.
bool PassesExfatEntrySetTest(const uint8_t* sector, uint32_t first);

// What building an item may need beyond the sector: the whole block (index
// blocks and file records run on past the sector), the scanned record (to
// read again from the device) and the read order (a GPT header's entries are
// prioritised).
struct ItemContext {
    const uint8_t* blockData = nullptr;
    size_t blockBytes = 0;
    uint32_t sectorIndex = 0;
    uint64_t blockLba = 0;
    const PartInfo* scanned = nullptr;
    ScanSchedule* schedule = nullptr;
};

// The item for a classified sector, or nothing when its payload cannot be
// built (a file record or index block that does not yield its values).
std::optional<FoundItem> MakeItem(uint32_t code, const ItemContext& ctx);

// The low 32 bits of the parent reference of the first named Win32 entry of
// an index block whose bytes run from `block` for `bytes` bytes.
bool IndexBlockDirectory(const uint8_t* block, size_t bytes, uint32_t& directoryRecord);

}  // namespace kestrel
