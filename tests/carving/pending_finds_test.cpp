#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "carving/signature_find.h"
#include "carving/type_ids.h"
#include "tests/carving/carving_samples.h"

namespace kestrel {
namespace {

using test::Bytes;
using test::LoadSample;

struct Item {
    uint32_t type = 0;
    uint32_t status = 0;
    uint64_t length = 0;
};

// The per-block calling order of the deep scan over an in-memory medium.
class ScanSim {
public:
    std::map<uint64_t, Item> items;
    PendingFinds pending;
    size_t finalised = 0;

    static void Finalise(void* context, const SignatureFind& find) {
        auto* self = static_cast<ScanSim*>(context);
        auto it = self->items.find(find.startSector);
        ASSERT_NE(it, self->items.end());
        it->second = {find.typeId, find.status, find.length};
        ++self->finalised;
    }

    void Scan(const Bytes& medium, uint64_t firstLba = 0) {
        ASSERT_EQ(medium.size() % kBlockBytes, 0u);
        pending.AllocateWindow();
        for (size_t b = 0; b < medium.size() / kBlockBytes; ++b) {
            const uint8_t* block = medium.data() + b * kBlockBytes;
            const uint64_t p = firstLba + b * kBlockSectors;
            for (uint32_t i = 0; i < kBlockSectors; ++i) {
                uint32_t type = 0;
                if (!SniffFileSignature(block + size_t(i) * 512, type)) continue;
                SignatureFind find{};
                find.typeId = type;
                find.startSector = p + i;
                uint32_t status = AnalyzeSignatureFind(block, kBlockBytes, find, p);
                if (status == kFindPending) pending.Queue(find);
                items[p + i] = {find.typeId, status, find.length};
            }
            if (pending.Prune(p)) pending.Run(block, p, &ScanSim::Finalise, this);
        }
        pending.ReleaseWindow();
    }
};

// A JPEG grown to about `bytes` by comment segments of zeros after its SOI.
Bytes BigJpeg(size_t bytes) {
    Bytes jpg = LoadSample("sample.jpg");
    Bytes out(jpg.begin(), jpg.begin() + 2);
    while (out.size() < bytes) {
        const uint8_t segment[4] = {0xFF, 0xFE, 0xFF, 0xFF};
        out.insert(out.end(), segment, segment + 4);
        out.resize(out.size() + 0xFFFD, 0);
    }
    out.insert(out.end(), jpg.begin() + 2, jpg.end());
    return out;
}

// An MP4 with a zero-filled "free" box of `bytes` after its "ftyp" box.
Bytes BigMp4(uint32_t bytes) {
    Bytes mp4 = LoadSample("sample.mp4");
    const size_t ftyp = (size_t(mp4[2]) << 8) | mp4[3];
    Bytes out(mp4.begin(), mp4.begin() + ptrdiff_t(ftyp));
    Bytes box(bytes, 0);
    test::PutU32Be(box, 0, bytes);
    std::memcpy(&box[4], "free", 4);
    out.insert(out.end(), box.begin(), box.end());
    out.insert(out.end(), mp4.begin() + ptrdiff_t(ftyp), mp4.end());
    return out;
}

Bytes Medium(size_t blocks, const Bytes& file, size_t atSector) {
    Bytes medium(blocks * kBlockBytes, 0);
    std::copy(file.begin(), file.end(), medium.begin() + ptrdiff_t(atSector * 512));
    return medium;
}

TEST(PendingFinds, JpegOf20MiBCompletesInALaterBlock) {
    Bytes jpg = BigJpeg(20 << 20);
    ScanSim sim;
    const uint64_t lba = 5 * kBlockSectors;
    sim.Scan(Medium(4, jpg, 5), lba);
    ASSERT_EQ(sim.items.size(), 1u);
    const Item& item = sim.items.at(lba + 5);
    EXPECT_EQ(item.type, 46u);
    EXPECT_EQ(item.status, uint32_t(kFindComplete));
    EXPECT_EQ(item.length, jpg.size());
    EXPECT_EQ(sim.finalised, 1u);
    EXPECT_EQ(sim.pending.Count(), 0u);
}

TEST(PendingFinds, Mp4OfThirtyMiBCompletesFromItsLastBlock) {
    Bytes mp4 = BigMp4(30 << 20);
    ScanSim sim;
    sim.Scan(Medium(5, mp4, 100));
    ASSERT_EQ(sim.items.size(), 1u);
    const Item& item = sim.items.at(100);
    EXPECT_EQ(item.type, 67u);
    EXPECT_EQ(item.status, uint32_t(kFindComplete));
    EXPECT_EQ(item.length, mp4.size());
}

TEST(PendingFinds, JpegBeyondTheWindowStaysPending) {
    // 70 MiB cannot be held by the 64 MiB window: its length stays unknown.
    Bytes jpg = BigJpeg(70 << 20);
    ScanSim sim;
    sim.Scan(Medium(10, jpg, 0));
    ASSERT_EQ(sim.items.size(), 1u);
    const Item& item = sim.items.at(0);
    EXPECT_EQ(item.status, uint32_t(kFindPending));
    EXPECT_EQ(item.length, 0u);
    EXPECT_EQ(sim.pending.Count(), 0u);
}

TEST(PendingFinds, FindsCompleteFromAWindowThatHasSlidPastItsEnd) {
    // Three overlapping 36 MiB JPEGs keep every block of the sweep wanted, so
    // the window fills and then moves on by a block at a time; the last find
    // is read from a window that has moved seven times (past its own length).
    const Bytes jpg = BigJpeg(36 << 20);
    const uint64_t starts[] = {100, 4 * kBlockSectors + 20000, 9 * kBlockSectors + 12544};
    Bytes medium(16 * size_t(kBlockBytes), 0);
    for (uint64_t at : starts)
        std::copy(jpg.begin(), jpg.end(), medium.begin() + ptrdiff_t(at * 512));
    ScanSim sim;
    sim.Scan(medium);
    ASSERT_EQ(sim.items.size(), 3u);
    for (uint64_t at : starts) {
        const Item& item = sim.items.at(at);
        EXPECT_EQ(item.status, uint32_t(kFindComplete)) << at;
        EXPECT_EQ(item.length, jpg.size()) << at;
    }
}

SignatureFind PendingFind(uint64_t first, uint64_t last) {
    SignatureFind f{};
    f.typeId = 53;
    f.status = kFindPending;
    f.startSector = first;
    f.neededFirst = first;
    f.neededLast = last;
    return f;
}

TEST(PendingFinds, QueueKeepsRangesOfAtMostSevenBlocks) {
    PendingFinds pending;
    EXPECT_TRUE(pending.Queue(PendingFind(100, 100 + 0x1C000)));
    EXPECT_FALSE(pending.Queue(PendingFind(100, 100 + 0x1C001)));
    EXPECT_FALSE(pending.Queue(PendingFind(100, 99)));
    EXPECT_EQ(pending.Count(), 1u);
}

TEST(PendingFinds, PruneDropsPassedRangesAndWantsOverlappingBlocks) {
    PendingFinds pending;
    pending.Queue(PendingFind(2 * kBlockSectors + 10, 2 * kBlockSectors + 10));
    pending.Queue(PendingFind(kBlockSectors + 5, kBlockSectors + 20));
    EXPECT_FALSE(pending.Prune(0));  // before both ranges
    EXPECT_EQ(pending.Count(), 2u);
    EXPECT_TRUE(pending.Prune(kBlockSectors));  // covers the second
    EXPECT_EQ(pending.Count(), 2u);
    EXPECT_TRUE(pending.Prune(2 * kBlockSectors));  // the second has passed
    EXPECT_EQ(pending.Count(), 1u);
    EXPECT_FALSE(pending.Prune(3 * kBlockSectors));
    EXPECT_EQ(pending.Count(), 0u);
}

TEST(PendingFinds, WindowGrowsSlidesAndRestartsOnAGap) {
    PendingFinds pending;
    pending.AllocateWindow();
    Bytes block(kBlockBytes, 0);
    for (uint64_t b = 0; b < 8; ++b) pending.Run(block.data(), b * kBlockSectors, nullptr, nullptr);
    EXPECT_EQ(pending.WindowStart(), 0u);
    EXPECT_EQ(pending.WindowBlockCount(), 8u);
    EXPECT_EQ(pending.WindowLast(), 8u * kBlockSectors - 1);
    pending.Run(block.data(), 8 * kBlockSectors, nullptr, nullptr);
    EXPECT_EQ(pending.WindowStart(), uint64_t(kBlockSectors));
    EXPECT_EQ(pending.WindowBlockCount(), 8u);
    // A skipped read range: the window restarts with the block that came.
    pending.Run(block.data(), 12 * kBlockSectors, nullptr, nullptr);
    EXPECT_EQ(pending.WindowStart(), 12u * kBlockSectors);
    EXPECT_EQ(pending.WindowBlockCount(), 1u);
    // An earlier block restarts it too.
    pending.Run(block.data(), 3 * kBlockSectors, nullptr, nullptr);
    EXPECT_EQ(pending.WindowStart(), 3u * kBlockSectors);
    EXPECT_EQ(pending.WindowBlockCount(), 1u);
    pending.ReleaseWindow();
    EXPECT_EQ(pending.WindowBlockCount(), 0u);
}

TEST(PendingFinds, FindNeedingBytesSixtyMiBOnIsServedByAFullWindow) {
    // A WAVE header whose find lies 60 MiB after the block that queued it:
    // its first sector arrives in the eighth block of a full window.
    Bytes wav = LoadSample("sample.wav");
    const uint64_t start = (60u << 20) / 512;
    SignatureFind find = PendingFind(start, start);
    find.readSize = 64;
    PendingFinds pending;
    pending.AllocateWindow();
    ASSERT_TRUE(pending.Queue(find));
    struct Done {
        int count = 0;
        SignatureFind last{};
    } done;
    auto finalise = [](void* c, const SignatureFind& f) {
        auto* d = static_cast<Done*>(c);
        ++d->count;
        d->last = f;
    };
    for (uint64_t b = 0; b < 8; ++b) {
        Bytes block(kBlockBytes, 0);
        if (b == start / kBlockSectors) {
            std::copy(wav.begin(), wav.begin() + 512,
                      block.begin() + ptrdiff_t((start % kBlockSectors) * 512));
        }
        const bool wanted = pending.Prune(b * kBlockSectors);
        EXPECT_EQ(wanted, b == 7) << b;
        // Every block goes through the window here, as if a longer find wanted it.
        pending.Run(block.data(), b * kBlockSectors, finalise, &done);
    }
    EXPECT_EQ(pending.WindowBlockCount(), 8u);
    ASSERT_EQ(done.count, 1);
    EXPECT_EQ(done.last.status, uint32_t(kFindComplete));
    EXPECT_EQ(done.last.length, wav.size());
    EXPECT_EQ(pending.Count(), 0u);
}

}  // namespace
}  // namespace kestrel
