// Finds whose analysis waits for later blocks, and the look-ahead window of
// up to eight consecutive blocks that serves them.
#include <cstring>
#include <list>

#include "app/guarded_memory.h"
#include "carving/find_bytes.h"
#include "carving/signature_find.h"

namespace kestrel {

uint32_t CompareSectorRanges(uint64_t a, uint64_t b, uint64_t c, uint64_t d) {
    if (b < a || d < c) return kRangeEmpty;
    if (c <= a) {
        if (d < a) return kRangeBefore;
        if (d < b) return kRangeCoversStart;
        return kRangeCovers;
    }
    if (c > b) return kRangeAfter;
    if (d < b) return kRangeInside;
    return kRangeCoversEnd;
}

struct PendingFinds::Impl {
    std::list<SignatureFind> list;
    uint8_t* window = nullptr;
    uint64_t windowStart = 0;
    uint32_t windowCount = 0;
    uint64_t windowLast = 0;

    void ResetWindowTo(const uint8_t* block, uint64_t blockStart) {
        std::memcpy(window, block, kBlockBytes);
        windowStart = blockStart;
        windowCount = 1;
    }

    void UpdateWindow(const uint8_t* block, uint64_t blockStart) {
        if (windowCount == 0 || blockStart < windowStart ||
            ((blockStart - windowStart) & ~uint64_t(kBlockSectors - 1)) >
                uint64_t(kWindowBlocks) * kBlockSectors) {
            ResetWindowTo(block, blockStart);
        } else {
            uint64_t k = (blockStart - windowStart) / kBlockSectors;
            if (k == kWindowBlocks) {
                std::memmove(window, window + kBlockBytes, size_t(kWindowBlocks - 1) * kBlockBytes);
                std::memcpy(window + size_t(kWindowBlocks - 1) * kBlockBytes, block, kBlockBytes);
                windowStart += kBlockSectors;
                windowCount = kWindowBlocks;
            } else if (k == windowCount) {
                std::memcpy(window + size_t(k) * kBlockBytes, block, kBlockBytes);
                ++windowCount;
            } else {
                ResetWindowTo(block, blockStart);
            }
        }
        windowLast = windowStart + uint64_t(windowCount) * kBlockSectors - 1;
    }

    void Insert(const SignatureFind& find) {
        auto it = list.begin();
        while (it != list.end() && it->neededFirst <= find.neededFirst) ++it;
        list.insert(it, find);
    }
};

PendingFinds::PendingFinds() : impl_(new Impl) {}

PendingFinds::~PendingFinds() {
    ReleaseWindow();
    delete impl_;
}

void PendingFinds::AllocateWindow() {
    if (!impl_->window)
        impl_->window = static_cast<uint8_t*>(GuardedAlloc(kWindowBlocks * kBlockBytes, __LINE__));
    impl_->list.clear();
    impl_->windowStart = 0;
    impl_->windowCount = 0;
    impl_->windowLast = 0;
}

void PendingFinds::ReleaseWindow() {
    if (impl_->window) GuardedFree(impl_->window);
    impl_->window = nullptr;
    impl_->list.clear();
    impl_->windowStart = 0;
    impl_->windowCount = 0;
    impl_->windowLast = 0;
}

bool PendingFinds::Queue(const SignatureFind& find) {
    if (find.neededLast < find.neededFirst ||
        find.neededLast - find.neededFirst > kMaxPendingRangeSectors)
        return false;
    // Hostile media (every sector a file start) must not grow the list, and
    // the per-block work of running it, without bound.
    if (impl_->list.size() >= kMaxPendingFinds) return false;
    impl_->Insert(find);
    return true;
}

bool PendingFinds::Prune(uint64_t blockStartSector) {
    const uint64_t c = blockStartSector;
    const uint64_t d = blockStartSector + kBlockSectors - 1;
    bool wanted = false;
    for (auto it = impl_->list.begin(); it != impl_->list.end();) {
        uint32_t r = CompareSectorRanges(it->neededFirst, it->neededLast, c, d);
        if (r == kRangeAfter || r == kRangeEmpty) {
            it = impl_->list.erase(it);
            continue;
        }
        if (r != kRangeBefore) wanted = true;
        ++it;
    }
    return wanted;
}

void PendingFinds::Run(const uint8_t* block, uint64_t blockStartSector,
                       FinalisePendingFind finalise, void* context) {
    if (!block) return;
    if (!impl_->window) AllocateWindow();
    impl_->UpdateWindow(block, blockStartSector);
    const size_t windowBytes = size_t(impl_->windowCount) * kBlockBytes;
    // Each pass either finishes a find or moves a needed range; a range that
    // keeps moving inside the window is still bounded by this many passes.
    const size_t maxPasses = 4 * impl_->list.size() + 16;
    for (size_t pass = 0; pass < maxPasses; ++pass) {
        bool changed = false;
        for (auto it = impl_->list.begin(); it != impl_->list.end();) {
            uint32_t r = CompareSectorRanges(it->neededFirst, it->neededLast, impl_->windowStart,
                                             impl_->windowLast);
            if (r != kRangeCovers && r != kRangeCoversEnd) {
                ++it;
                continue;
            }
            const uint64_t first = it->neededFirst;
            const uint64_t last = it->neededLast;
            uint32_t status =
                AnalyzeSignatureFind(impl_->window, windowBytes, *it, impl_->windowStart);
            if (status == kFindPending) {
                if (it->neededFirst != first || it->neededLast != last) changed = true;
                ++it;
                continue;
            }
            if (finalise) finalise(context, *it);
            it = impl_->list.erase(it);
            changed = true;
        }
        if (!changed) break;
    }
    // Moved ranges keep the list in needed-first order (a stable sort keeps
    // equal ranges in arrival order).
    impl_->list.sort([](const SignatureFind& x, const SignatureFind& y) {
        return x.neededFirst < y.neededFirst;
    });
}

size_t PendingFinds::Count() const { return impl_->list.size(); }

uint64_t PendingFinds::WindowStart() const { return impl_->windowStart; }
uint32_t PendingFinds::WindowBlockCount() const { return impl_->windowCount; }
uint64_t PendingFinds::WindowLast() const { return impl_->windowLast; }

}  // namespace kestrel
