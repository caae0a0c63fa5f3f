#include "preview/read_file_prefix.h"

#include <algorithm>

#include "app/scan_state.h"
#include "fs/exfat_data.h"
#include "fs/fat_data.h"
#include "fs/ntfs_data.h"
#include "storage/sector_source.h"

namespace kestrel {
namespace {

// A carved file lies contiguously from its first sector on.
bool ReadCarvedPrefix(const PartInfo& part, const FileNode& node, uint32_t want, uint8_t* dest) {
    ScopedSource src;
    if (!OpenSourceFromPart(part, *src)) return false;
    // lastLba is far below 2^55, so the product cannot overflow.
    const uint64_t available =
        node.locationLba > src->lastLba ? 0 : (src->lastLba - node.locationLba + 1) * kSectorSize;
    if (want > available) return false;
    return ReadBytesAt(*src, want, dest, node.locationLba * kSectorSize);
}

}  // namespace

bool ReadFilePrefix(PartInfo& part, const FileNode& node, uint32_t byteCount, uint8_t* dest) {
    if (IsDirectory(node) || dest == nullptr) return false;
    const uint32_t want = uint32_t(std::min<uint64_t>(byteCount, node.size));
    if (want == 0) return true;
    uint32_t got = 0;
    switch (part.fsKind) {
        case kFsNtfs: {
            ScanState running{kScanRunning};
            // The reader reports success once the run list resolved; only a
            // full count means every read worked.
            return ReadNtfsFileData(part, node, running, want, dest, &got) && got == want;
        }
        case kFsFat16:
        case kFsFat32:
            return ReadFatFileData(part, node, want, dest, &got) && got == want;
        case kFsFatDirs:
            return ReadFatDirFileData(part, node, want, dest, &got) && got == want;
        case kFsExfat:
        case kFsExfatDirs:
            return ReadExfatFileData(part, node, want, dest);
        case kFsFoundFiles:
            return ReadCarvedPrefix(part, node, want, dest);
        default:
            return false;
    }
}

}  // namespace kestrel
