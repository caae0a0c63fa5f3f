#include "fs/ntfs_reader.h"

#include <algorithm>
#include <vector>

#include "app/guarded_memory.h"
#include "fs/file_node.h"
#include "fs/ntfs_attributes.h"
#include "fs/ntfs_known_extents.h"
#include "fs/ntfs_mft.h"
#include "fs/ntfs_record.h"
#include "storage/sector_source.h"

namespace kestrel {
namespace {

constexpr uint32_t kChunkSectors = 8192;  // 4 MiB
// Records past this number can never become nodes, so no MFT walk goes further.
constexpr uint64_t kMaxMftSectors = 2 * (uint64_t(kNtfsMaxRecordNumber) + 1);

bool StopRequested(const ScanState& state) { return state.load() == kScanStopRequested; }

// The part of each run that lies on the device, and no more sectors in all
// than a table of nodes can use: a hostile run list must not make the walk
// read terabytes of nothing.
RunList ClipMftRuns(const RunList& runs, const SectorSource& src) {
    RunList out;
    uint64_t total = 0;
    for (RunItem r : runs) {
        if (r.sparse || r.startLba > src.lastLba || total >= kMaxMftSectors) continue;
        const uint64_t beyondStart = src.lastLba - r.startLba;  // sectors after the first
        const uint64_t onDevice = beyondStart == UINT64_MAX ? beyondStart : beyondStart + 1;
        r.sectors = std::min({r.sectors, onDevice, kMaxMftSectors - total});
        r.sectors &= ~uint64_t(1);  // whole records only
        if (r.sectors == 0) continue;
        total += r.sectors;
        out.push_back(r);
    }
    return out;
}

// Directory chains that loop (a record naming itself or a descendant as its
// parent) would never be reached from the root; their first node moves to the
// lost-files folder instead. One pass with a state per slot keeps this linear.
void BreakParentLoops(PartInfo& part) {
    const uint32_t count = part.nodeCount;
    std::vector<uint8_t> state(count, 0);  // 0 unseen, 1 on the current path, 2 done
    std::vector<uint32_t> path;
    for (uint32_t i = 0; i < count; ++i) {
        if (state[i] != 0 || GetNode(part, i) == nullptr) continue;
        path.clear();
        uint32_t cur = i;
        while (true) {
            FileNode* n = GetNode(part, cur);
            if (n == nullptr || cur == kRootNodeId || state[cur] == 2) break;
            if (state[cur] == 1) {
                // cur closes a loop: the last node on the path points back to it.
                GetNode(part, path.back())->parentId = kLostFilesNodeId;
                break;
            }
            state[cur] = 1;
            path.push_back(cur);
            const uint32_t p = n->parentId;
            if (p >= count) break;
            cur = p;
        }
        for (uint32_t id : path) state[id] = 2;
    }
}

}  // namespace

bool ReadNtfsPartition(PartInfo& part, ScanState& state) {
    ScopedSource src;
    if (!OpenSourceFromPart(part, *src)) return false;
    const uint32_t spc = NtfsSectorsPerCluster(part);
    if (spc == 0) return false;

    const RunList mftRuns = ReadMftRecordRuns(*src, part, 0);
    if (mftRuns.empty()) return false;
    const RunList walk = ClipMftRuns(mftRuns, *src);

    uint64_t walkSectors = 0;
    for (const RunItem& r : walk) walkSectors += r.sectors;
    ReserveNodes(part, uint32_t(std::min<uint64_t>(walkSectors / 2, kFileNodeLimit)));

    uint8_t* buffer = static_cast<uint8_t*>(GuardedAlloc(kChunkSectors * kSectorSize, __LINE__));
    ProgressSnapshot progress;
    bool stopped = false;
    for (const RunItem& run : walk) {
        if (StopRequested(state)) {
            stopped = true;
            break;
        }
        for (uint64_t done = 0; done < run.sectors && !stopped; done += kChunkSectors) {
            if (StopRequested(state)) {
                stopped = true;
                break;
            }
            const uint32_t n = uint32_t(std::min<uint64_t>(kChunkSectors, run.sectors - done));
            const uint64_t chunkLba = run.startLba + done;
            // Unreadable sectors arrive as zeros and fail the signature test.
            ReadSectors(*src, n, buffer, chunkLba);
            for (uint32_t k = 0; k + 2 <= n; k += 2) {
                uint8_t* rec = buffer + size_t(k) * kSectorSize;
                if (!FixupFileRecord(rec)) continue;
                FileNode node;
                if (!ParseFileRecord(rec, part, node, false)) continue;
                if (node.flags & kFlagResidentData) node.locationLba = chunkLba + k;
                if (node.runList) {
                    RunList own = DecodeRunList(node.runList, node.firstCluster);
                    if (ResolveRuns(part, own)) node.locationLba = own.front().startLba;
                }
                if (AddNode(part, node, false) != 0) CountNodeProgress(node, progress);
            }
        }
    }
    GuardedFree(buffer);

    RegisterMftExtents(mftRuns);
    const RunList mirrorRuns = ReadMftRecordRuns(*src, part, 1);
    if (!mirrorRuns.empty()) RegisterMftExtents(mirrorRuns);

    if (stopped) {
        // The partial table never reaches the result set; nobody else frees it.
        FreeTable(part);
        return false;
    }
    BreakParentLoops(part);
    AddRootAndLostNodes(part);
    LinkChildren(part);
    CompactTable(part);
    return true;
}

}  // namespace kestrel
