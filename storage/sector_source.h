#pragma once
// The sector source: a read-only handle on a disk, a volume or an image file,
// read in 512-byte sectors at absolute 64-bit LBAs. Reads are zero-filled,
// clamped to the end, retried once through a reopen, and counted for the
// scan and export summaries. It never writes.
#include <cstdint>

#include "platform/wide_text.h"
#include "storage/part_info.h"

namespace kestrel {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kMaxReadBytes = 0x10000000;  // 256 MiB per call

struct SectorSource {
    int fd = -1;
    WString name;
    WString reopenPath;
    uint64_t lastLba = 0;   // last readable sector, inclusive
    uint64_t byteSize = 0;  // OpenSourcePath only
    // Test hook: a source may inject failing byte ranges (see FaultMap).
    const struct FaultMap* faults = nullptr;
};

bool OpenSourceFromPart(const PartInfo& part, SectorSource& src, bool readOnly = true);
bool OpenSourcePath(const WString& path, SectorSource& src);
uint64_t QuerySourceSize(const SectorSource& src);
bool ReadSectors(SectorSource& src, uint32_t count, void* buffer, uint64_t lba);
bool ReadBytesAt(SectorSource& src, uint32_t byteCount, void* buffer, uint64_t offset);
void CloseSource(SectorSource& src);

// Closes the source when it goes out of scope.
class ScopedSource {
public:
    ScopedSource() = default;
    ~ScopedSource() { CloseSource(src_); }
    ScopedSource(const ScopedSource&) = delete;
    ScopedSource& operator=(const ScopedSource&) = delete;
    SectorSource& operator*() { return src_; }
    SectorSource* operator->() { return &src_; }
    SectorSource& get() { return src_; }

private:
    SectorSource src_;
};

}  // namespace kestrel
