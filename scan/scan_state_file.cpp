#include "scan/scan_state_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>

#include "app/guarded_memory.h"
#include "app/progress.h"
#include "app/run_state.h"
#include "app/text_utils.h"
#include "scan/scan_state_records.h"
#include "scan/scan_state_stream.h"

namespace kestrel {
namespace {

constexpr const char* kFileName = "DiskScanData.dat";
constexpr const char* kSaveThreadName = "SaveDiskScanDataThread";
// The guarded allocator takes 32-bit sizes; a map that large would describe
// a device of 32 PiB.
constexpr uint64_t kMaxMapBlocks = 0xFFFF0000u;
// Smallest item record: type, LBA and status.
constexpr uint64_t kMinItemRecordBytes = 10;
// Progress goes to a mailbox that drops what it cannot take; posting every
// item would only spend time on its lock.
constexpr uint32_t kProgressStep = 1024;
constexpr uint64_t kReadBufferBytes = 1 << 20;

std::mutex gPathLock;
std::string gInstalledPath;

// Opens a regular file with other writers kept out; -1 when that fails.
// O_NONBLOCK keeps a FIFO planted at the path from hanging the open.
int OpenStateFile(const std::string& path, bool forWriting) {
    const int flags = (forWriting ? O_RDWR | O_CREAT : O_RDONLY) | O_CLOEXEC | O_NONBLOCK;
    const int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        ::flock(fd, (forWriting ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

uint64_t FileSize(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_size > 0 ? uint64_t(st.st_size) : 0;
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

void PostItems(uint32_t phase, uint32_t done, uint32_t total) {
    ProgressSnapshot p;
    p.phase = phase;
    p.items.done = done;
    p.items.total = total;
    PostProgress(p);
}

void FreeItems(std::vector<FoundItem>& items) {
    for (FoundItem& it : items) FreeItemPayload(it);
    items.clear();
}

bool HasSavedHook(ScanSession& s) {
    return HasSavedScanData(InstalledScanStateFilePath(), s.scanned.diskName);
}
bool LoadHook(ScanSession& s, ScanState& state) {
    return LoadScanData(InstalledScanStateFilePath(), s, state);
}
bool SaveHook(ScanSession& s) { return SaveScanData(InstalledScanStateFilePath(), s); }

// Everything after the identity, written front to back.
bool WriteBody(StateWriter& out, ScanSession& s) {
    CScanBlockMap& map = s.schedule.map;
    out.U32(uint32_t(map.Count()));
    // A block still claimed was read but not processed (a save while paused,
    // or a block claimed after the end of the scan reset its claims): its
    // items are not in the catalogue, so a resumed scan must read it again.
    for (uint64_t b = 0; b < map.Count(); ++b)
        out.U8(map.Get(b) == kBlockProcessed ? kBlockProcessed : kBlockUnread);
    {
        std::lock_guard<std::mutex> guard(s.schedule.lock);
        out.U64(s.schedule.cursor);
        out.U64(s.schedule.rangeStart);
        out.U64(s.schedule.rangeEnd);
    }
    const size_t count = s.catalogue.ItemCount();
    if (count > UINT32_MAX) return false;
    const uint32_t total = uint32_t(count);
    out.U32(total);
    uint32_t written = 0;
    for (uint64_t b = 0; b < s.catalogue.BlockCount(); ++b) {
        const std::vector<FoundItem>* list = s.catalogue.BlockItems(b);
        if (!list) continue;
        for (const FoundItem& it : *list) {
            // A list that grew behind our back would make M a lie.
            if (written == total) return false;
            WriteItemRecord(out, it);
            ++written;
            if (written % kProgressStep == 0) PostItems(kPhaseSaveScanData, written, total);
        }
        if (out.Failed()) return false;
    }
    PostItems(kPhaseSaveScanData, written, total);
    return written == total;
}

}  // namespace

std::string DefaultScanStateFilePath() { return GetExeFolder() + kFileName; }

std::string InstalledScanStateFilePath() {
    std::lock_guard<std::mutex> guard(gPathLock);
    return gInstalledPath.empty() ? DefaultScanStateFilePath() : gInstalledPath;
}

void InstallScanStateFileHooks(ScanSession& s, const std::string& path) {
    {
        std::lock_guard<std::mutex> guard(gPathLock);
        gInstalledPath = path.empty() ? DefaultScanStateFilePath() : path;
    }
    s.hooks.hasSavedData = &HasSavedHook;
    s.hooks.loadSavedData = &LoadHook;
    s.hooks.saveScanData = &SaveHook;
}

bool HasSavedScanData(const std::string& path, const WString& identity) {
    const int fd = OpenStateFile(path, false);
    if (fd < 0) return false;
    FdCloser closer{fd};
    StateReader in(fd, 4096);
    std::vector<uint8_t> stored;
    return ReadIdentity(in, stored) && stored == IdentityBytes(identity);
}

bool LoadScanData(const std::string& path, ScanSession& s, ScanState& state) {
    const int fd = OpenStateFile(path, false);
    if (fd < 0) return false;
    FdCloser closer{fd};
    const uint64_t fileSize = FileSize(fd);
    StateReader in(fd, size_t(std::min<uint64_t>(kReadBufferBytes, fileSize + 1)));
    std::vector<uint8_t> identity;
    uint32_t blocks = 0;
    if (!ReadIdentity(in, identity) || !in.U32(blocks)) return false;
    // A map of another size belongs to another device: the blocks past its
    // end would read as processed and never be scanned. The size is checked
    // against the file before anything is allocated for it.
    const uint64_t deviceBlocks = DeviceBlockCount(s.scanned);
    if (blocks == 0 || blocks > kMaxMapBlocks || fileSize < in.Offset() ||
        blocks > fileSize - in.Offset() || (deviceBlocks != 0 && blocks != deviceBlocks))
        return false;
    uint8_t* map = static_cast<uint8_t*>(GuardedAlloc(blocks, __LINE__));
    uint64_t cursor = 0, rangeStart = 0, rangeEnd = 0;
    uint32_t total = 0;
    std::vector<FoundItem> items;
    bool ok = in.Bytes(map, blocks) && in.U64(cursor) && in.U64(rangeStart) && in.U64(rangeEnd) &&
              in.U32(total);
    if (ok) {
        const uint64_t left = fileSize > in.Offset() ? fileSize - in.Offset() : 0;
        items.reserve(size_t(std::min<uint64_t>(total, left / kMinItemRecordBytes)));
    }
    for (uint32_t i = 0; ok && i < total; ++i) {
        if (state.load() == kScanStopRequested) {
            ok = false;
            break;
        }
        FoundItem item;
        ok = ReadItemRecord(in, item);
        if (ok) items.push_back(item);
        if ((i + 1) % kProgressStep == 0) PostItems(kPhaseLoadScanData, i + 1, total);
    }
    if (!ok) {
        FreeItems(items);
        GuardedFree(map);
        return false;
    }
    PostItems(kPhaseLoadScanData, total, total);
    // Only processed blocks are trusted: anything else (a claim written by
    // another program, damage) is read again.
    for (uint32_t b = 0; b < blocks; ++b)
        if (map[b] != kBlockProcessed) map[b] = kBlockUnread;
    {
        std::lock_guard<std::mutex> guard(s.schedule.lock);
        s.schedule.map.Adopt(map, blocks);
        s.schedule.cursor = cursor;
        s.schedule.rangeStart = rangeStart;
        s.schedule.rangeEnd = rangeEnd;
    }
    s.catalogue.Reset(blocks);
    for (const FoundItem& it : items) s.catalogue.AppendItem(it);
    return true;
}

bool SaveScanData(const std::string& path, ScanSession& s) {
    if (s.schedule.map.Empty() || s.schedule.map.Count() == 0) return true;
    const std::vector<uint8_t> identity = IdentityBytes(s.scanned.diskName);
    // Such a file could never be matched again: saving it would be a
    // success in name only.
    if (identity.size() > kMaxIdentityBytes) return false;
    const int fd = OpenStateFile(path, true);
    if (fd < 0) return false;
    FdCloser closer{fd};
    if (::ftruncate(fd, 0) != 0) return false;
    StateWriter out(fd);
    WriteIdentity(out, identity);
    const bool ok = WriteBody(out, s) && out.Flush();
    if (!ok) {
        (void)::ftruncate(fd, 0);
        return false;
    }
    return true;
}

void SaveDiskScanDataThread(void* param) {
    SaveScanDataJob& job = *static_cast<SaveScanDataJob*>(param);
    ThreadBegin(kSaveThreadName);
    const std::string path = job.path.empty() ? InstalledScanStateFilePath() : job.path;
    const bool ok = job.session && SaveScanData(path, *job.session);
    ThreadEnd(kSaveThreadName);
    job.status = ok ? kJobDone : kJobCancelled;
}

}  // namespace kestrel
