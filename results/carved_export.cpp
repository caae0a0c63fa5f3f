#include "results/carved_export.h"

#include <algorithm>

#include "app/guarded_memory.h"

namespace kestrel {
namespace {

constexpr uint32_t kChunkSectors = 8192;  // 4 MiB
constexpr uint32_t kChunkBytes = kChunkSectors * kSectorSize;

struct ChunkBuffer {
    uint8_t* bytes = static_cast<uint8_t*>(GuardedAlloc(kChunkBytes, __LINE__));
    ~ChunkBuffer() { GuardedFree(bytes); }
};

}  // namespace

bool ExportCarvedFileFrom(SectorSource& src, OutputFile& out, ScanState& state,
                          const FileNode& node, ProgressSnapshot& progress,
                          ReadErrorPolicy policy) {
    progress.phase = kPhaseExport;
    // What the device holds from the file's first sector on; lastLba is at
    // most 2^48, so the product cannot overflow.
    const uint64_t available =
        node.locationLba > src.lastLba ? 0 : (src.lastLba - node.locationLba + 1) * kSectorSize;
    const uint64_t size = std::min(node.size, available);
    bool ok = true;
    ChunkBuffer buffer;
    uint64_t done = 0;
    while (ok && done < size) {
        if (state.load() == kScanStopRequested) {
            ok = false;
            break;
        }
        const uint32_t n = uint32_t(std::min<uint64_t>(kChunkBytes, size - done));
        const uint32_t sectors = (n + kSectorSize - 1) / kSectorSize;
        const bool read =
            ReadSectors(src, sectors, buffer.bytes, node.locationLba + done / kSectorSize);
        if (!read && policy != kRecoverAll) {
            ok = false;
            break;
        }
        if (!out.Write(buffer.bytes, n)) {
            ok = false;
            break;
        }
        done += n;
        progress.exp.doneBytes += n;
        progress.exp.fileDone += n;
        PostProgress(progress);
    }
    // The part beyond the device's end is a failed read, which only the
    // zero-filling policy forgives (and it would only write zeros).
    if (ok && size < node.size && policy != kRecoverAll) ok = false;
    if (!ok && policy == kClearFile) out.SetLengthZero();
    return ok;
}

bool ExportCarvedFile(OutputFile& out, PartInfo& part, ScanState& state, const FileNode& node,
                      ProgressSnapshot& progress, ReadErrorPolicy policy) {
    ScopedSource src;
    if (!OpenSourceFromPart(part, *src)) {
        if (policy == kClearFile) out.SetLengthZero();
        return false;
    }
    return ExportCarvedFileFrom(*src, out, state, node, progress, policy);
}

}  // namespace kestrel
