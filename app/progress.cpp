#include "app/progress.h"

#include <atomic>
#include <cstring>
#include <mutex>

namespace kestrel {
namespace {

std::mutex gSlotLock;
ProgressSnapshot gSlot;
// Mirrors gSlot.phase so the emptiness test needs no lock.
std::atomic<uint32_t> gSlotPhase{0};

void CopyText(char16_t* dst, size_t cap, const char16_t* src) {
    size_t n = 0;
    if (src)
        while (n + 1 < cap && src[n]) ++n;
    if (n) std::memcpy(dst, src, n * sizeof(char16_t));
    dst[n] = 0;
}

}  // namespace

ProgressSnapshot::ProgressSnapshot() { std::memset(static_cast<void*>(this), 0, sizeof(*this)); }

void PostProgress(const ProgressSnapshot& snapshot) {
    if (gSlotPhase.load(std::memory_order_acquire) != 0) return;
    std::lock_guard<std::mutex> lock(gSlotLock);
    gSlot = snapshot;
    gSlotPhase.store(snapshot.phase, std::memory_order_release);
}

void PostProgressText(const char16_t* title, const char16_t* text) {
    ProgressSnapshot s;
    s.phase = kPhaseText;
    CopyText(s.text.title, 40, title);
    CopyText(s.text.text, 110, text);
    PostProgress(s);
}

void CountKindProgress(uint32_t kind, ProgressSnapshot& p) {
    p.phase = kPhaseFsRead;
    switch (kind & 3) {
        case 0: ++p.fs.deletedFiles; break;
        case 1: ++p.fs.liveFiles; break;
        case 2: ++p.fs.deletedDirs; break;
        case 3: ++p.fs.liveDirs; break;
    }
    PostProgress(p);
}

bool TakeProgress(ProgressSnapshot& out) {
    std::lock_guard<std::mutex> lock(gSlotLock);
    if (gSlot.phase == 0) return false;
    out = gSlot;
    gSlot.phase = 0;
    gSlotPhase.store(0, std::memory_order_release);
    return true;
}

void ClearProgress() {
    std::lock_guard<std::mutex> lock(gSlotLock);
    gSlot = ProgressSnapshot();
    gSlotPhase.store(0, std::memory_order_release);
}

}  // namespace kestrel
