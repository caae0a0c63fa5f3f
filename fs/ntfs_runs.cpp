#include "fs/ntfs_runs.h"

#include "platform/bytes.h"

namespace kestrel {

RunList DecodeRunList(const uint8_t* bytes, uint32_t length) {
    RunList runs;
    const ByteView v(bytes, length);
    size_t pos = 0;
    // Every pair takes at least one byte, so the walk ends within length steps.
    while (pos < v.size()) {
        const uint8_t header = v.U8(pos);
        if (header == 0) break;
        const size_t lenBytes = header & 0x0F;
        const size_t offBytes = header >> 4;
        if (lenBytes == 0 || lenBytes > 8 || offBytes > 8) break;
        if (!v.Has(pos + 1, lenBytes + offBytes)) break;
        RunItem run;
        run.clusters = uint32_t(v.Le(pos + 1, lenBytes));
        if (offBytes == 0) {
            run.sparse = true;
        } else {
            uint64_t off = v.Le(pos + 1 + lenBytes, offBytes);
            if (offBytes < 8 && (off >> (8 * offBytes - 1)) & 1)
                off |= ~uint64_t(0) << (8 * offBytes);  // sign-extend from the top byte
            run.delta = int32_t(uint32_t(off));
        }
        runs.push_back(run);
        pos += 1 + lenBytes + offBytes;
    }
    return runs;
}

bool ResolveRuns(const PartInfo& part, RunList& list) {
    const uint32_t spc = NtfsSectorsPerCluster(part);
    if (list.empty() || spc == 0) return false;
    uint64_t lba = part.startLba;
    for (RunItem& run : list) {
        // Unsigned arithmetic: a hostile delta wraps instead of overflowing,
        // and the reads at such a position simply fail.
        lba += uint64_t(int64_t(run.delta) * int64_t(spc));
        run.startLba = lba;
        run.sectors = run.clusters * spc;
    }
    return true;
}

}  // namespace kestrel
