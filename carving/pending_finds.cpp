// Finds whose analysis waits for later blocks, and the look-ahead window of
// up to eight consecutive blocks that serves them.
#include <sys/mman.h>
#include <unistd.h>

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

namespace {

constexpr size_t kWindowBytes = size_t(kWindowBlocks) * kBlockBytes;

// The window as a ring of block slots mapped twice in a row, so that the
// kWindowBlocks blocks from any slot on are contiguous in memory: moving the
// window on by one block is one block copy into the slot of the oldest, not
// a move of the other seven (56 MiB per block while a long find is pending).
uint8_t* MapMirroredWindow() {
    const int fd = memfd_create("kestrel-lookahead", MFD_CLOEXEC);
    if (fd < 0) return nullptr;
    uint8_t* base = nullptr;
    if (ftruncate(fd, off_t(kWindowBytes)) == 0) {
        void* area = mmap(nullptr, 2 * kWindowBytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (area != MAP_FAILED) {
            base = static_cast<uint8_t*>(area);
            const int rw = PROT_READ | PROT_WRITE;
            if (mmap(base, kWindowBytes, rw, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED ||
                mmap(base + kWindowBytes, kWindowBytes, rw, MAP_SHARED | MAP_FIXED, fd, 0) ==
                    MAP_FAILED) {
                munmap(base, 2 * kWindowBytes);
                base = nullptr;
            }
        }
    }
    close(fd);  // the mappings keep the memory
    return base;
}

}  // namespace

struct PendingFinds::Impl {
    std::list<SignatureFind> list;
    // Either the mirrored ring (the window starts at slot `head`) or, where
    // it cannot be mapped, one plain guarded block that is shifted by moves.
    uint8_t* storage = nullptr;
    bool mirrored = false;
    uint32_t head = 0;
    uint64_t windowStart = 0;
    uint32_t windowCount = 0;
    uint64_t windowLast = 0;

    uint8_t* Window() const { return storage + size_t(head) * kBlockBytes; }

    void Allocate() {
        if (storage) return;
        head = 0;
        storage = MapMirroredWindow();
        mirrored = storage != nullptr;
        if (!mirrored) storage = static_cast<uint8_t*>(GuardedAlloc(kWindowBytes, __LINE__));
    }

    void Release() {
        if (storage && mirrored) munmap(storage, 2 * kWindowBytes);
        else if (storage) GuardedFree(storage);
        storage = nullptr;
        mirrored = false;
        head = 0;
    }

    void ResetWindowTo(const uint8_t* block, uint64_t blockStart) {
        std::memcpy(Window(), block, kBlockBytes);
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
                if (mirrored) {
                    // The oldest block's slot becomes the newest.
                    head = (head + 1) % kWindowBlocks;
                } else {
                    std::memmove(Window(), Window() + kBlockBytes,
                                 size_t(kWindowBlocks - 1) * kBlockBytes);
                }
                std::memcpy(Window() + size_t(kWindowBlocks - 1) * kBlockBytes, block, kBlockBytes);
                windowStart += kBlockSectors;
                windowCount = kWindowBlocks;
            } else if (k == windowCount) {
                std::memcpy(Window() + size_t(k) * kBlockBytes, block, kBlockBytes);
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
    impl_->Allocate();
    impl_->list.clear();
    impl_->windowStart = 0;
    impl_->windowCount = 0;
    impl_->windowLast = 0;
}

void PendingFinds::ReleaseWindow() {
    impl_->Release();
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
    if (!impl_->storage) AllocateWindow();
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
                AnalyzeSignatureFind(impl_->Window(), windowBytes, *it, impl_->windowStart);
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
