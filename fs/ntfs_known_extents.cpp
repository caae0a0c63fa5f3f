#include "fs/ntfs_known_extents.h"

#include <mutex>

namespace kestrel {
namespace {

// The lists are filled by the deep-scan worker only; the lock just keeps
// tests and tools that read partitions side by side well defined.
std::mutex gLock;
std::vector<NtfsExtent> gMft;
std::vector<NtfsExtent> gIndex;
MftExtentHook gHook = nullptr;

// Every partition read adds runs; a hostile set of volumes must not grow the
// lists without end.
constexpr size_t kMaxExtents = 1 << 20;

}  // namespace

void SetMftExtentHook(MftExtentHook hook) {
    std::lock_guard<std::mutex> g(gLock);
    gHook = hook;
}

bool RegisterMftExtents(const RunList& runs) {
    std::vector<NtfsExtent> added;
    MftExtentHook hook;
    {
        std::lock_guard<std::mutex> g(gLock);
        for (const RunItem& r : runs)
            for (const NtfsExtent& e : gMft)
                if (e.startLba == r.startLba && e.sectors == r.sectors) return false;
        for (const RunItem& r : runs) {
            if (r.sparse || gMft.size() >= kMaxExtents) continue;
            gMft.push_back({r.startLba, r.sectors});
            added.push_back(gMft.back());
        }
        hook = gHook;
    }
    if (hook)
        for (const NtfsExtent& e : added) hook(e);
    return !added.empty();
}

void RegisterIndexExtents(const RunList& runs) {
    std::lock_guard<std::mutex> g(gLock);
    for (const RunItem& r : runs) {
        if (r.sparse || gIndex.size() >= kMaxExtents) continue;
        gIndex.push_back({r.startLba, r.sectors});
    }
}

std::optional<NtfsExtent> FindKnownMftExtent(uint64_t lba) {
    std::lock_guard<std::mutex> g(gLock);
    for (const NtfsExtent& e : gMft)
        if (e.startLba <= lba && lba - e.startLba < e.sectors) return e;
    return std::nullopt;
}

std::vector<NtfsExtent> KnownMftExtents() {
    std::lock_guard<std::mutex> g(gLock);
    return gMft;
}

std::vector<NtfsExtent> KnownIndexExtents() {
    std::lock_guard<std::mutex> g(gLock);
    return gIndex;
}

void ClearNtfsKnownExtents() {
    std::lock_guard<std::mutex> g(gLock);
    gMft.clear();
    gIndex.clear();
}

}  // namespace kestrel
