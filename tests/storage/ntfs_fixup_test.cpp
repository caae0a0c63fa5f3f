#include "storage/ntfs_fixup.h"

#include <gtest/gtest.h>

#include "platform/bytes.h"
#include "tests/storage/disk_image.h"

namespace kestrel {
namespace {

// Record 3 ($Volume) of the NTFS fixture, as it lies on disk (not fixed up).
std::vector<uint8_t> VolumeRecord() {
    const std::vector<uint8_t>& img = test::FixtureBytes("storage/ntfs.img.gz");
    const ByteView boot(img.data(), 512);
    const uint64_t off = (boot.U64(48) * boot.U8(13) + 6) * 512;
    EXPECT_LE(off + 1024, img.size());
    return std::vector<uint8_t>(img.begin() + off, img.begin() + off + 1024);
}

TEST(NtfsFixupTest, RestoresTheSectorTails) {
    std::vector<uint8_t> rec = VolumeRecord();
    const ByteView v(rec.data(), rec.size());
    const uint16_t usa = v.U16(4);
    ASSERT_EQ(v.U16(6), 3);
    const uint16_t saved1 = v.U16(usa + 2), saved2 = v.U16(usa + 4);
    ASSERT_TRUE(ApplyNtfsFixup(rec.data(), rec.size()));
    EXPECT_EQ(v.U16(510), saved1);
    EXPECT_EQ(v.U16(1022), saved2);
}

TEST(NtfsFixupTest, RejectsDamagedRecordsUnchanged) {
    struct Case {
        const char* what;
        size_t offset;
        std::vector<uint8_t> bytes;
        size_t size;
    } cases[] = {
        {"magic", 0, {'B', 'A', 'A', 'D'}, 1024},
        {"count too small", 6, {2, 0}, 1024},
        {"count too large", 6, {9, 0}, 1024},
        {"offset inside the header", 4, {4, 0}, 1024},
        {"odd offset", 4, {0x31, 0}, 1024},
        {"array past the first sector", 4, {0xFC, 0x01}, 1024},
        {"offset past the first sector", 4, {0x02, 0x02}, 1024},
        {"offset far past the record", 4, {0xFE, 0xFF}, 1024},
        {"torn first sector", 510, {0xAA, 0xBB}, 1024},
        {"torn second sector", 1023, {0xEE}, 1024},
        {"size not whole sectors", 0, {'F'}, 1000},
        {"record shorter than a sector", 0, {'F'}, 500},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> rec = VolumeRecord();
        std::copy(c.bytes.begin(), c.bytes.end(), rec.begin() + c.offset);
        const std::vector<uint8_t> before = rec;
        EXPECT_FALSE(ApplyNtfsFixup(rec.data(), c.size)) << c.what;
        EXPECT_EQ(rec, before) << c.what;
    }
    EXPECT_FALSE(ApplyNtfsFixup(nullptr, 1024));
}

TEST(NtfsFixupTest, OtherMagic) {
    std::vector<uint8_t> rec = VolumeRecord();
    std::memcpy(rec.data(), "INDX", 4);
    EXPECT_FALSE(ApplyNtfsFixup(rec.data(), rec.size()));
    EXPECT_TRUE(ApplyNtfsFixupWithMagic(rec.data(), rec.size(), "INDX"));
}

}  // namespace
}  // namespace kestrel
