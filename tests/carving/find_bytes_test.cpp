#include "carving/find_bytes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "carving/signature_find.h"

namespace kestrel {
namespace {

constexpr uint64_t kB = 1000;  // buffer start sector

struct ReadCase {
    const char* name;
    uint64_t start;
    uint64_t offset;
    uint32_t size;
    uint32_t expected;
    uint64_t neededFirst = 0;  // checked when pending
    uint64_t neededLast = 0;
};

TEST(ReadFindBytes, DeliversWaitsOrGivesUp) {
    std::vector<uint8_t> buffer(8 * 512);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = uint8_t(i * 7);
    const uint64_t far = 0x2000000;
    const ReadCase cases[] = {
        {"first sector", kB, 0, 512, kFindDelivered},
        {"ends at buffer end", kB, 4000, 96, kFindDelivered},
        {"from a later start", kB + 3, 100, 200, kFindDelivered},
        {"one byte past the end", kB, 4000, 97, kFindPending, kB + 7, kB + 8},
        {"whole sector past the end", kB, 4096, 512, kFindPending, kB + 8, kB + 8},
        {"starts before the buffer", kB - 10, 0, 6144, kFindPending, kB - 10, kB + 1},
        {"wholly before the buffer", kB - 10, 0, 512, kFindRejected},
        {"16 GiB past the buffer", kB, (far + 7) * 512, 16, kFindPending, kB + far + 7,
         kB + far + 7},
        {"beyond 16 GiB past the buffer", kB, (far + 8) * 512, 16, kFindRejected},
        {"nothing asked", kB, 0, 0, kFindRejected},
        {"more than 64 MiB asked", kB, 0, 0x4000001, kFindRejected},
        {"offset that would wrap", kB, std::numeric_limits<uint64_t>::max() - 5, 16, kFindRejected},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        SignatureFind find{};
        find.startSector = c.start;
        find.parseOffset = c.offset;
        find.readSize = c.size;
        std::vector<uint8_t> out(c.size <= 4096 ? c.size : 0);
        uint32_t r = ReadFindBytes(find, out.empty() ? nullptr : out.data(), buffer.data(),
                                   buffer.size(), kB);
        ASSERT_EQ(r, c.expected);
        if (r == kFindDelivered) {
            const size_t at = size_t((c.start - kB) * 512 + c.offset);
            EXPECT_TRUE(std::equal(out.begin(), out.end(), buffer.begin() + ptrdiff_t(at)));
        }
        if (r == kFindPending) {
            EXPECT_EQ(find.neededFirst, c.neededFirst);
            EXPECT_EQ(find.neededLast, c.neededLast);
        }
    }
}

TEST(ReadFindBytes, AbsentBufferIsImpossible) {
    SignatureFind find{};
    find.readSize = 16;
    EXPECT_EQ(ReadFindBytes(find, nullptr, nullptr, 0x800000, 0), uint32_t(kFindRejected));
}

TEST(CompareSectorRanges, ClassifiesEveryOverlap) {
    // X = [10, 20]
    const struct {
        uint64_t c, d;
        uint32_t expected;
    } cases[] = {
        {0, 5, kRangeBefore},        {0, 9, kRangeBefore},   {0, 10, kRangeCoversStart},
        {10, 19, kRangeCoversStart}, {0, 20, kRangeCovers},  {10, 30, kRangeCovers},
        {21, 30, kRangeAfter},       {12, 18, kRangeInside}, {12, 20, kRangeCoversEnd},
        {20, 25, kRangeCoversEnd},   {12, 11, kRangeEmpty},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CompareSectorRanges(10, 20, c.c, c.d), c.expected) << c.c << ".." << c.d;
    }
    EXPECT_EQ(CompareSectorRanges(20, 10, 0, 100), uint32_t(kRangeEmpty));
}

}  // namespace
}  // namespace kestrel
