#include "app/guarded_memory.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/reports.h"
#include "app/run_state.h"
#include "app/text_utils.h"
#include "app/user_interaction.h"

namespace kestrel {
namespace {

constexpr uint16_t kTag = 0x4D51;  // "QM"
constexpr uint8_t kTrailer = 'M';
constexpr uint32_t kHeader = 8;
constexpr uint64_t kStep = 104857600;  // 100 MiB
constexpr uint16_t kUntrustedSite = 999;

// Live bytes are kept in 64 bits: a large disk's node tables can exceed 4 GiB
// and a wrapped total would report nonsense.
std::mutex gStatLock;
uint64_t gLiveBytes = 0;
uint64_t gBigStep = 0;

std::mutex gDamageLock;
std::vector<uint16_t> gReportedSites;

struct Deferred {
    void* block;
    int64_t tick;
};
std::mutex gDeferLock;
// Never destroyed: blocks still waiting at process exit stay reachable (and
// a worker that defers a block during exit finds a live list).
std::deque<Deferred>& gDeferred = *new std::deque<Deferred>;

std::atomic<ResultSetSummaryFn> gSummaryHook{nullptr};

int64_t NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

uint8_t* BlockOf(const void* user) {
    return static_cast<uint8_t*>(const_cast<void*>(user)) - kHeader;
}

bool HeaderValid(const uint8_t* block) {
    uint16_t tag;
    std::memcpy(&tag, block, 2);
    return tag == kTag;
}

uint16_t SiteOf(const uint8_t* block) {
    uint16_t site;
    std::memcpy(&site, block + 2, 2);
    return site;
}

uint32_t SizeOf(const uint8_t* block) {
    uint32_t size;
    std::memcpy(&size, block + 4, 4);
    return size;
}

std::string Fmt(const char* fmt, unsigned a) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, a);
    return buf;
}

void DamageReport(uint32_t code, uint16_t site) {
    std::string text;
    {
        std::lock_guard<std::mutex> lock(gDamageLock);
        for (uint16_t s : gReportedSites)
            if (s == site) return;
        gReportedSites.push_back(site);
        switch (code) {
            case kEvMemBegin:
                text = Fmt("Mem begin err: %u  ", site);
                break;
            case kEvMemEnd:
                text = Fmt("Mem end err: %u  ", site);
                break;
            case kEvMemOper:
                text = Fmt("Mem oper: %u  ", site);
                break;
            default:
                text = Fmt("Mem xxx: %u  ", site);
                break;
        }
    }
    // Queued, never sent from here: no network wait may happen under a lock.
    SendReport(code, text, true);
}

[[noreturn]] void AllocationFailed(uint64_t request, uint16_t site) {
    // Queuing the reports below allocates; a second failure on the way must
    // not recurse.
    thread_local bool failing = false;
    if (failing) std::exit(1);
    failing = true;
    Run().OutOfMemoryFlag.store(1);
    std::string text;
    {
        std::lock_guard<std::mutex> lock(gStatLock);
        text = "Mem size: " + Utf8FromWide(FormatByteSize(gLiveBytes)) +
               "    alloc size: " + Utf8FromWide(FormatByteSize(request));
    }
    PhysicalMemory mem;
    if (QueryPhysicalMemory(mem)) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "   line: %u  AllMem: %u   FreeMem: %u     ", unsigned(site),
                      mem.totalMiB, mem.availMiB);
        text += buf;
    }
    SendReport(kEvMemFailure, text, true);
    SendReport(kEvExit, WString(), true);
    UserInteraction().ShowMessage(u"分配内存失败: " + FormatByteSize(request));
    // A message box would have kept the process alive while the reports went
    // out; a front end that does not block gets a short grace period instead.
    WaitReportQueueIdle(2000);
    std::exit(1);
}

}  // namespace

void* GuardedAlloc(uint32_t size, uint16_t site) {
    if (size == 0) AllocationFailed(0, site);
    const uint64_t request = uint64_t(size) + kHeader + 1;
    // calloc hands out zeroed memory, and large requests get fresh pages
    // that are zeroed lazily by the kernel rather than by a memset here.
    auto* block = static_cast<uint8_t*>(std::calloc(1, size_t(request)));
    if (!block) AllocationFailed(request, site);

    std::string text;
    {
        std::lock_guard<std::mutex> lock(gStatLock);
        gLiveBytes += size;
        const uint64_t step = gLiveBytes / kStep;
        if (step > gBigStep) {
            if (step > 9) {
                text = Fmt("Mem big: %u(MB)", unsigned(gLiveBytes >> 20));
                if (step == 10) {
                    if (ResultSetSummaryFn fn = gSummaryHook.load())
                        text += "   " + Utf8FromWide(fn());
                }
            }
            gBigStep = step;
        }
    }
    if (!text.empty()) SendReport(kEvMemBig, text, true);

    const uint16_t tag = kTag;
    std::memcpy(block, &tag, 2);
    std::memcpy(block + 2, &site, 2);
    std::memcpy(block + 4, &size, 4);
    block[kHeader + size] = kTrailer;
    return block + kHeader;
}

bool GuardedFree(void* p) {
    if (!p) return true;
    uint8_t* block = BlockOf(p);
    if (!HeaderValid(block)) {
        DamageReport(kEvMemBegin, kUntrustedSite);
        return false;
    }
    const uint32_t size = SizeOf(block);
    if (block[kHeader + size] != kTrailer) {
        DamageReport(kEvMemEnd, SiteOf(block));
        std::free(block);
        return true;
    }
    std::string text;
    {
        std::lock_guard<std::mutex> lock(gStatLock);
        if (gLiveBytes < size) {
            char buf[96];
            std::snprintf(buf, sizeof buf, "Mem size: %llu    free size: %u",
                          static_cast<unsigned long long>(gLiveBytes), size);
            text = buf;
        } else {
            gLiveBytes -= size;
        }
    }
    if (!text.empty()) SendReport(kEvMemFailure, text, true);
    // A stale pointer to a released block then fails the tag test more often
    // than it would with the tag left in place.
    block[0] = 0;
    std::free(block);
    return true;
}

uint32_t GuardedSize(const void* p) {
    if (!p) return 0;
    const uint8_t* block = BlockOf(p);
    return HeaderValid(block) ? SizeOf(block) : 0;
}

uint32_t GuardedCopy(void* dst, const void* src, uint32_t count, uint16_t site) {
    // Blocks are never empty (a 0-byte allocation is fatal), so a copy to
    // offset 0 clamps exactly as a plain guarded copy must.
    return GuardedCopyAt(dst, 0, src, count, site);
}

uint32_t GuardedCopyAt(void* dst, uint32_t offset, const void* src, uint32_t count, uint16_t site) {
    if (!dst || !src || count == 0) return 0;
    uint8_t* block = BlockOf(dst);
    if (!HeaderValid(block)) {
        DamageReport(kEvMemBegin, site);
        return 0;
    }
    const uint32_t size = SizeOf(block);
    if (offset > size || count > size - offset) {
        DamageReport(kEvMemOper, site);
        if (size <= offset) return 0;
        count = size - offset;
    }
    std::memmove(static_cast<uint8_t*>(dst) + offset, src, count);
    return count;
}

void DeferFree(void* p) {
    if (!p) return;
    std::lock_guard<std::mutex> lock(gDeferLock);
    while (gDeferred.size() > 5) {
        GuardedFree(gDeferred.front().block);
        gDeferred.pop_front();
    }
    const int64_t now = NowMs();
    while (!gDeferred.empty() && now - gDeferred.front().tick > 200) {
        GuardedFree(gDeferred.front().block);
        gDeferred.pop_front();
    }
    while (!gDeferred.empty() && (uint64_t(LiveBytes()) & ~uint64_t(0xFFFFF)) > 0x40000000) {
        GuardedFree(gDeferred.front().block);
        gDeferred.pop_front();
    }
    gDeferred.push_back({p, now});
}

void FlushDeferred() {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::lock_guard<std::mutex> lock(gDeferLock);
    while (!gDeferred.empty()) {
        GuardedFree(gDeferred.front().block);
        gDeferred.pop_front();
    }
}

size_t DeferredCount() {
    std::lock_guard<std::mutex> lock(gDeferLock);
    return gDeferred.size();
}

uint32_t LiveBytes() {
    std::lock_guard<std::mutex> lock(gStatLock);
    return gLiveBytes > UINT32_MAX ? UINT32_MAX : uint32_t(gLiveBytes);
}

void SetResultSetSummaryHook(ResultSetSummaryFn fn) { gSummaryHook.store(fn); }

bool QueryPhysicalMemory(PhysicalMemory& out) {
    std::ifstream in("/proc/meminfo");
    if (!in) return false;
    bool haveTotal = false, haveAvail = false;
    std::string key;
    unsigned long long kib = 0;
    std::string unit;
    while (in >> key >> kib) {
        std::getline(in, unit);
        if (key == "MemTotal:") {
            out.totalMiB = uint32_t(kib / 1024);
            haveTotal = true;
        } else if (key == "MemAvailable:") {
            out.availMiB = uint32_t(kib / 1024);
            haveAvail = true;
        }
        if (haveTotal && haveAvail) return true;
    }
    return false;
}

}  // namespace kestrel
