#include "fs/ntfs_data.h"

#include <algorithm>
#include <cstring>

#include "app/guarded_memory.h"
#include "app/text_utils.h"
#include "fs/export_times.h"
#include "fs/ntfs_attributes.h"
#include "fs/ntfs_mft.h"
#include "fs/ntfs_runs.h"

namespace kestrel {
namespace {

constexpr uint32_t kChunkSectors = 8192;  // 4 MiB
constexpr uint32_t kChunkBytes = kChunkSectors * kSectorSize;

bool StopRequested(const ScanState& state) { return state.load() == kScanStopRequested; }

RunList NodeRuns(const PartInfo& part, const FileNode& node) {
    if (!node.runList || node.firstCluster == 0 || node.firstCluster >= kNtfsRecordBytes) return {};
    RunList runs = DecodeRunList(node.runList, node.firstCluster);
    if (!ResolveRuns(part, runs)) runs.clear();
    return runs;
}

// No file can hold more data than the device it lies on; a hostile size with
// the zero-filling policy must not write without end.
uint64_t DeviceBytes(const SectorSource& src) {
    const uint64_t queried = QuerySourceSize(src);
    if (queried != 0) return queried;
    return src.lastLba >= (UINT64_MAX / kSectorSize) ? UINT64_MAX : (src.lastLba + 1) * kSectorSize;
}

// Reads one chunk of a run; a hole of a sparse file reads as zeros.
bool ReadRunChunk(SectorSource& src, const RunItem& run, uint64_t offset, uint32_t sectors,
                  uint8_t* buffer) {
    if (run.sparse) {
        std::memset(buffer, 0, size_t(sectors) * kSectorSize);
        return true;
    }
    return ReadSectors(src, sectors, buffer, run.startLba + offset);
}

void CountExported(ProgressSnapshot& progress, uint64_t bytes) {
    progress.phase = kPhaseExport;
    progress.exp.fileDone += bytes;
    progress.exp.doneBytes += bytes;
    PostProgress(progress);
}

}  // namespace

std::optional<ByteView> ResidentDataOfRecord(ByteView record) {
    std::optional<ByteView> data;
    ForEachAttribute(record, [&](const NtfsAttribute& a) {
        if (a.type != kAttrData) return true;
        if (a.NonResident()) return false;
        const uint32_t len = a.bytes.U32(0x10);
        const size_t off = a.offset + a.bytes.U16(0x14);
        if (len == 0)
            data = ByteView();
        else if (off < kNtfsRecordBytes && len <= kNtfsRecordBytes - off)
            data = record.Sub(off, len);
        return false;
    });
    return data;
}

bool ReadResidentData(SectorSource& src, const FileNode& node, std::vector<uint8_t>& out) {
    out.clear();
    if (node.size > kNtfsRecordBytes) return false;
    uint8_t record[kNtfsRecordBytes];
    if (!ReadFileRecordAt(src, node.locationLba, record)) return false;
    const std::optional<ByteView> data = ResidentDataOfRecord(ByteView(record, sizeof record));
    if (!data) return false;
    out.assign(data->data(), data->data() + data->size());
    return true;
}

bool ReadNtfsFileData(PartInfo& part, const FileNode& node, ScanState& state, uint32_t maxBytes,
                      uint8_t* buffer, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    ScopedSource src;
    if (!OpenSourceFromPart(part, *src)) return false;
    return ReadNtfsFileDataFrom(*src, part, node, state, maxBytes, buffer, bytesRead);
}

bool ReadNtfsFileDataFrom(SectorSource& src, PartInfo& part, const FileNode& node, ScanState& state,
                          uint32_t maxBytes, uint8_t* buffer, uint32_t* bytesRead) {
    if (bytesRead) *bytesRead = 0;
    if (!buffer) return false;
    if (node.flags & kFlagResidentData) {
        std::vector<uint8_t> data;
        if (!ReadResidentData(src, node, data)) return false;
        const uint32_t n = uint32_t(std::min<size_t>(data.size(), maxBytes));
        if (n != 0) std::memcpy(buffer, data.data(), n);
        if (bytesRead) *bytesRead = n;
        return true;
    }
    const RunList runs = NodeRuns(part, node);
    if (runs.empty()) return false;

    const uint64_t want = std::min<uint64_t>(node.size, maxBytes);
    uint64_t got = 0;
    uint8_t* chunk = static_cast<uint8_t*>(GuardedAlloc(kChunkBytes, __LINE__));
    bool ended = false;
    for (const RunItem& run : runs) {
        for (uint64_t done = 0; done < run.sectors && !ended; done += kChunkSectors) {
            if (got >= want || StopRequested(state)) {
                ended = true;
                break;
            }
            const uint64_t needSectors = (want - got + kSectorSize - 1) / kSectorSize;
            const uint32_t n =
                uint32_t(std::min<uint64_t>({kChunkSectors, run.sectors - done, needSectors}));
            if (!ReadRunChunk(src, run, done, n, chunk)) {
                ended = true;
                break;
            }
            const uint64_t take = std::min<uint64_t>(uint64_t(n) * kSectorSize, want - got);
            std::memcpy(buffer + got, chunk, size_t(take));
            got += take;
        }
        if (ended) break;
    }
    GuardedFree(chunk);
    if (bytesRead) *bytesRead = uint32_t(got);
    return true;
}

bool ExportNtfsFile(OutputFile& out, PartInfo& part, ScanState& state, const FileNode& node,
                    ProgressSnapshot& progress, ReadErrorPolicy policy) {
    ScopedSource src;
    if (!OpenSourceFromPart(part, *src)) return false;
    return ExportNtfsFileFrom(*src, out, part, state, node, progress, policy);
}

bool ExportNtfsFileFrom(SectorSource& src, OutputFile& out, PartInfo& part, ScanState& state,
                        const FileNode& node, ProgressSnapshot& progress, ReadErrorPolicy policy) {
    if (node.flags & kFlagResidentData) {
        std::vector<uint8_t> data;
        if (StopRequested(state) || !ReadResidentData(src, node, data)) return false;
        if (!data.empty() && !out.Write(data.data(), data.size())) {
            if (policy == kClearFile) out.SetLengthZero();
            return false;
        }
        CountExported(progress, data.size());
        SetExportTimes(out, node);
        return true;
    }
    const RunList runs = NodeRuns(part, node);
    if (runs.empty()) {
        // An empty non-resident file has no clusters, and nothing is missing.
        if (node.size != 0 || StopRequested(state)) return false;
        SetExportTimes(out, node);
        return true;
    }

    const uint64_t size = std::min(node.size, DeviceBytes(src));
    uint64_t written = 0;
    bool failed = false;
    uint8_t* chunk = static_cast<uint8_t*>(GuardedAlloc(kChunkBytes, __LINE__));
    for (const RunItem& run : runs) {
        if (failed || written >= size) break;
        if (StopRequested(state)) {
            failed = true;
            break;
        }
        // Once the whole size is written the remaining clusters are slack:
        // they are not read.
        for (uint64_t done = 0; done < run.sectors && written < size; done += kChunkSectors) {
            const uint32_t n = uint32_t(std::min<uint64_t>(kChunkSectors, run.sectors - done));
            if (!ReadRunChunk(src, run, done, n, chunk)) {
                if (policy != kRecoverAll) {
                    failed = true;
                    break;
                }
                // Only the sectors that really fail become zeros, not the
                // whole 4 MiB around one bad sector.
                for (uint32_t k = 0; k < n; ++k)
                    ReadSectors(src, 1, chunk + size_t(k) * kSectorSize, run.startLba + done + k);
            }
            if (StopRequested(state)) {
                failed = true;
                break;
            }
            const uint64_t bytes = std::min<uint64_t>(uint64_t(n) * kSectorSize, size - written);
            if (!out.Write(chunk, size_t(bytes))) {
                failed = true;
                break;
            }
            written += bytes;
            CountExported(progress, bytes);
        }
    }
    GuardedFree(chunk);
    if (failed) {
        if (policy == kClearFile) out.SetLengthZero();
        return false;
    }
    SetExportTimes(out, node);
    return true;
}

}  // namespace kestrel
