#include "fs/fat_data.h"

#include <algorithm>
#include <cstring>

#include "app/guarded_memory.h"
#include "app/text_utils.h"
#include "fs/export_times.h"
#include "fs/fat_geometry.h"
#include "storage/sector_source.h"

namespace kestrel {

namespace {

bool StopRequested(const ScanState& state) { return state.load() == kScanStopRequested; }

// A guarded buffer freed with its owner.
class GuardedBuffer {
public:
    explicit GuardedBuffer(uint32_t size)
        : p_(static_cast<uint8_t*>(GuardedAlloc(size, __LINE__))) {}
    ~GuardedBuffer() { GuardedFree(p_); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;
    uint8_t* get() const { return p_; }

private:
    uint8_t* p_;
};

// The write side of an export: reading runs of sectors, the policies, the
// stop request and the progress counters.
class FatExportWriter {
public:
    FatExportWriter(OutputFile& out, SectorSource& src, ScanState& state,
                    ProgressSnapshot& progress, ReadErrorPolicy policy, uint64_t size)
        : out_(out), src_(src), state_(state), progress_(progress), policy_(policy), size_(size) {}

    bool Done() const { return written_ >= size_; }

    // Reads `sectors` sectors at lba and writes them, cut to what the file
    // still needs. False when the file fails (stop, read error under a
    // strict policy, or a write error).
    bool CopySectors(uint64_t lba, uint32_t sectors, uint8_t* buf) {
        if (StopRequested(state_)) return false;
        const bool readOk = ReadSectors(src_, sectors, buf, lba);
        if (!readOk && policy_ != kRecoverAll) return false;
        if (StopRequested(state_)) return false;
        const uint64_t n = std::min<uint64_t>(uint64_t(sectors) * kSectorSize, size_ - written_);
        if (!out_.Write(buf, size_t(n))) return false;
        written_ += n;
        progress_.exp.doneBytes += n;
        progress_.exp.fileDone += n;
        PostProgress(progress_);
        return true;
    }

private:
    OutputFile& out_;
    SectorSource& src_;
    ScanState& state_;
    ProgressSnapshot& progress_;
    ReadErrorPolicy policy_;
    uint64_t size_;
    uint64_t written_ = 0;
};

bool FinishExport(OutputFile& out, const FileNode& node, ReadErrorPolicy policy, bool ok) {
    if (ok) {
        SetExportTimes(out, node);
        return true;
    }
    if (policy == kClearFile) out.SetLengthZero();
    return false;
}

bool LoadGeometry(const PartInfo& part, FatGeometry& g) {
    return ParseFatGeometry(ByteView(part.bootSector, sizeof part.bootSector), part.startLba,
                            part.fsKind, g);
}

}  // namespace

bool ExportFatFile(OutputFile& out, PartInfo& part, ScanState& state, const FileNode& node,
                   ProgressSnapshot& progress, ReadErrorPolicy policy) {
    ScopedSource src;
    if (!OpenSourceFromPart(part, src.get())) return FinishExport(out, node, policy, false);
    return ExportFatFileFrom(src.get(), out, part, state, node, progress, policy);
}

bool ExportFatFileFrom(SectorSource& src, OutputFile& out, PartInfo& part, ScanState& state,
                       const FileNode& node, ProgressSnapshot& progress, ReadErrorPolicy policy) {
    FatGeometry g;
    if (!LoadGeometry(part, g)) return FinishExport(out, node, policy, false);
    GuardedBuffer buf(g.ClusterBytes());
    FatExportWriter writer(out, src, state, progress, policy, node.size);
    const bool live = NodeKind(node) == kLiveFile;
    uint32_t c = node.firstCluster;
    // Each pass writes a whole cluster, so the loop ends after at most
    // ceil(size / cluster size) passes, even on a looping chain.
    while (!writer.Done()) {
        // Leaving the volume before the size is covered means the file is
        // incomplete: that is a failure, not a short success.
        if (!g.IsDataCluster(c)) return FinishExport(out, node, policy, false);
        if (!writer.CopySectors(g.ClusterLba(c), g.sectorsPerCluster, buf.get()))
            return FinishExport(out, node, policy, false);
        if (live) {
            const uint32_t next = FatEntry(g, part.fsTable, part.fsTableBytes, c);
            // A chain that ends early goes on with the clusters that follow.
            c = (next == 0 || next > g.highestCluster) ? c + 1 : next;
        } else {
            ++c;
        }
    }
    return FinishExport(out, node, policy, true);
}

bool ReadFatFileData(PartInfo& part, const FileNode& node, uint32_t maxBytes, uint8_t* buffer,
                     uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    ScopedSource src;
    if (!OpenSourceFromPart(part, src.get())) return false;
    return ReadFatFileDataFrom(src.get(), part, node, maxBytes, buffer, bytesRead);
}

bool ReadFatFileDataFrom(SectorSource& src, PartInfo& part, const FileNode& node, uint32_t maxBytes,
                         uint8_t* buffer, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    const uint32_t want = uint32_t(std::min<uint64_t>(maxBytes, node.size));
    if (want == 0) return true;
    FatGeometry g;
    if (!LoadGeometry(part, g)) return false;
    GuardedBuffer cluster(g.ClusterBytes());
    uint32_t copied = 0;
    for (uint32_t c = node.firstCluster; copied < want && g.IsDataCluster(c);) {
        if (!ReadSectors(src, g.sectorsPerCluster, cluster.get(), g.ClusterLba(c))) break;
        const uint32_t n = std::min(g.ClusterBytes(), want - copied);
        std::memcpy(buffer + copied, cluster.get(), n);
        copied += n;
        const uint32_t next = FatEntry(g, part.fsTable, part.fsTableBytes, c);
        c = (next == 0 && copied < node.size) ? c + 1 : next;
    }
    if (bytesRead) *bytesRead = copied;
    return copied == want;
}

namespace {
// Found FAT directories are read in runs of 2048 sectors (1 MiB).
constexpr uint32_t kFatDirChunkSectors = 2048;

uint32_t FatDirSectorsPerCluster(const PartInfo& part) { return part.bootSector[0x0D]; }
}  // namespace

bool ExportFatDirFile(OutputFile& out, PartInfo& part, ScanState& state, const FileNode& node,
                      ProgressSnapshot& progress, ReadErrorPolicy policy) {
    const uint32_t spc = FatDirSectorsPerCluster(part);
    ScopedSource src;
    if (spc == 0 || node.firstCluster < 2 || !OpenSourceFromPart(part, src.get()))
        return FinishExport(out, node, policy, false);
    GuardedBuffer buf(kFatDirChunkSectors * kSectorSize);
    FatExportWriter writer(out, src.get(), state, progress, policy, node.size);
    uint64_t lba = part.startLba + uint64_t(node.firstCluster - 2) * spc;
    uint64_t left = node.size;
    while (!writer.Done()) {
        const uint64_t chunkBytes = std::min<uint64_t>(left, kFatDirChunkSectors * kSectorSize);
        const uint32_t sectors = uint32_t((chunkBytes + kSectorSize - 1) / kSectorSize);
        if (!writer.CopySectors(lba, sectors, buf.get()))
            return FinishExport(out, node, policy, false);
        lba += sectors;
        left -= chunkBytes;
    }
    return FinishExport(out, node, policy, true);
}

bool ReadFatDirFileData(PartInfo& part, const FileNode& node, uint32_t maxBytes, uint8_t* buffer,
                        uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    const uint32_t want = uint32_t(std::min<uint64_t>(maxBytes, node.size));
    if (want == 0) return true;
    const uint32_t spc = FatDirSectorsPerCluster(part);
    ScopedSource src;
    if (spc == 0 || node.firstCluster < 2 || !OpenSourceFromPart(part, src.get())) return false;
    GuardedBuffer chunk(kFatDirChunkSectors * kSectorSize);
    uint64_t lba = part.startLba + uint64_t(node.firstCluster - 2) * spc;
    uint32_t copied = 0;
    while (copied < want) {
        const uint32_t n = std::min(want - copied, kFatDirChunkSectors * kSectorSize);
        const uint32_t sectors = (n + kSectorSize - 1) / kSectorSize;
        if (!ReadSectors(src.get(), sectors, chunk.get(), lba)) break;
        std::memcpy(buffer + copied, chunk.get(), n);
        copied += n;
        lba += sectors;
    }
    if (bytesRead) *bytesRead = copied;
    return copied == want;
}

}  // namespace kestrel
