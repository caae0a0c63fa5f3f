#include "storage/sector_source.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "app/run_state.h"
#include "storage/fault_map.h"

// Reads go straight into the caller's buffer with pread: there is no shared
// bounce buffer and no process-wide lock, so sources on different threads
// read in parallel and the deep scan never pays for a copy. Positioning and
// reading are one call, so a positioning error cannot occur on its own.

namespace kestrel {

namespace {

constexpr uint64_t kMaxOffset = uint64_t(std::numeric_limits<off_t>::max());

// Every source is opened for reading only, whatever the caller asked for:
// recovery must never be able to write to the medium it recovers from.
int OpenReadOnly(const WString& path) {
    if (path.empty()) return -1;
    const std::string utf8 = Utf8FromWide(path);
    int fd;
    do {
        fd = ::open(utf8.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// One pread in the usual case; loops only on an interrupted or partial
// transfer. Returns the bytes read, or -1 when the device reported an error.
int64_t PReadAll(const SectorSource& src, uint8_t* buffer, uint32_t byteCount, uint64_t offset) {
    if (src.fd < 0) return -1;
    if (src.faults && src.faults->ShouldFail(offset, byteCount)) {
        errno = EIO;
        return -1;
    }
    uint32_t done = 0;
    while (done < byteCount) {
        const ssize_t n = ::pread(src.fd, buffer + done, byteCount - done, off_t(offset + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;  // end of the object
        done += uint32_t(n);
    }
    return done;
}

}  // namespace

bool OpenSourceFromPart(const PartInfo& part, SectorSource& src, bool /*readOnly*/) {
    CloseSource(src);
    src.fd = OpenReadOnly(part.devicePath);
    if (src.fd < 0) return false;
    src.name = part.diskDesc;
    src.reopenPath = part.devicePath;
    src.byteSize = 0;
    if (part.sizeSectors == kUnknownSizeSectors) {
        src.lastLba = kUnknownSizeSectors;
    } else if (part.sizeSectors == 0) {
        // A record without a size would make start + size - 1 wrap to "all of
        // the device and beyond"; take the opened object's real end instead.
        const uint64_t bytes = QuerySourceSize(src);
        src.lastLba = bytes >= kSectorSize ? bytes / kSectorSize - 1 : 0;
    } else if (part.sizeSectors - 1 > UINT64_MAX - part.startLba) {
        src.lastLba = UINT64_MAX;
    } else {
        src.lastLba = part.startLba + part.sizeSectors - 1;
    }
    return true;
}

bool OpenSourcePath(const WString& path, SectorSource& src) {
    CloseSource(src);
    src.fd = OpenReadOnly(path);
    if (src.fd < 0) return false;
    src.name = path;
    src.reopenPath = path;
    src.byteSize = QuerySourceSize(src);
    // An empty object has no readable sector; callers reject size 0. The
    // wrap to UINT64_MAX is kept out: lastLba 0 with byteSize 0 reads fail short.
    src.lastLba = src.byteSize >= kSectorSize ? src.byteSize / kSectorSize - 1 : 0;
    return true;
}

uint64_t QuerySourceSize(const SectorSource& src) {
    if (src.fd < 0) return 0;
    struct stat st {};
    const bool haveStat = ::fstat(src.fd, &st) == 0;
    if (haveStat && S_ISBLK(st.st_mode)) {
        uint64_t bytes = 0;
        if (::ioctl(src.fd, BLKGETSIZE64, &bytes) == 0 && bytes != 0) return bytes;
    }
    if (haveStat && S_ISREG(st.st_mode) && st.st_size > 0) return uint64_t(st.st_size);
    const off_t end = ::lseek(src.fd, 0, SEEK_END);
    return end > 0 ? uint64_t(end) : 0;
}

bool ReadSectors(SectorSource& src, uint32_t count, void* buffer, uint64_t lba) {
    auto* out = static_cast<uint8_t*>(buffer);
    const uint64_t requested = uint64_t(count) * kSectorSize;
    if (lba > src.lastLba) {
        if (requested) std::memset(out, 0, requested);
        return false;
    }
    if (count != 0 && count - 1 > src.lastLba - lba) count = uint32_t(src.lastLba - lba + 1);

    // Whatever the read does not deliver reads as zeros: the clamped-off
    // tail here, a short or failed transfer in ReadBytesAt. The part that
    // arrives is not zeroed first, which spares the scan a pass over 8 MiB.
    const uint64_t bytes = uint64_t(count) * kSectorSize;
    if (requested > bytes) std::memset(out + bytes, 0, requested - bytes);
    bool ok = false;
    if (bytes <= kMaxReadBytes && lba <= kMaxOffset / kSectorSize)
        ok = ReadBytesAt(src, uint32_t(bytes), out, lba * kSectorSize);
    else
        std::memset(out, 0, bytes);

    RunState& run = Run();
    const int32_t mode = run.ReadStatMode.load(std::memory_order_relaxed);
    if ((mode == kReadStatScan && count == 16384) || mode == kReadStatExport) {
        run.ReadCallCount.fetch_add(1, std::memory_order_relaxed);
        if (!ok) run.ReadFailCount.fetch_add(1, std::memory_order_relaxed);
    }
    return ok;
}

bool ReadBytesAt(SectorSource& src, uint32_t byteCount, void* buffer, uint64_t offset) {
    if (byteCount > kMaxReadBytes) return false;
    auto* out = static_cast<uint8_t*>(buffer);
    // A source whose reopen failed stays closed; its owner discards it.
    if (src.fd < 0 || offset > kMaxOffset - byteCount) {
        std::memset(out, 0, byteCount);
        return false;
    }

    int64_t got = PReadAll(src, out, byteCount, offset);
    if (got < 0) {
        // Hide one failure: some devices (USB bridges, card readers) recover
        // after a reopen. The source keeps the new handle, or none at all.
        if (src.fd >= 0) ::close(src.fd);
        src.fd = OpenReadOnly(src.reopenPath);
        got = PReadAll(src, out, byteCount, offset);
    }
    if (got < 0) {
        // Whatever a partial transfer left behind is not data.
        std::memset(out, 0, byteCount);
        return false;
    }
    if (uint64_t(got) < byteCount) std::memset(out + got, 0, byteCount - uint64_t(got));
    return uint64_t(got) == byteCount;
}

void CloseSource(SectorSource& src) {
    if (src.fd >= 0) ::close(src.fd);
    src.fd = -1;
    src.name.clear();
    src.reopenPath.clear();
}

}  // namespace kestrel
