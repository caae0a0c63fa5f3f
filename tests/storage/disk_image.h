#pragma once
// Builds small disk images for the storage tests: a sparse file of a given
// size with bytes written at chosen offsets (tables, copies of the bare
// volume fixtures at partition starts).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "tests/support/fixture.h"

namespace kestrel::test {

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline std::vector<uint8_t> BootFixture(const std::string& name) {
    std::vector<uint8_t> sec =
        ReadWholeFile(std::string(KESTREL_TEST_DATA) + "/storage/" + name + ".boot.bin");
    EXPECT_EQ(sec.size(), 512u) << name;
    sec.resize(512);
    return sec;
}

class DiskImage {
public:
    DiskImage(const std::string& name, uint64_t sectors)
        : path_(TempDir("disk_images_" + name) + "/" + name + ".img") {
        FILE* f = std::fopen(path_.c_str(), "wb");
        if (f) {
            if (sectors) {
                std::fseek(f, long(sectors * 512 - 1), SEEK_SET);
                std::fputc(0, f);
            }
            std::fclose(f);
        }
    }
    const std::string& path() const { return path_; }

    void Write(uint64_t offset, const void* data, size_t n) {
        FILE* f = std::fopen(path_.c_str(), "r+b");
        ASSERT_TRUE(f);
        std::fseek(f, long(offset), SEEK_SET);
        std::fwrite(data, 1, n, f);
        std::fclose(f);
    }
    void Write(uint64_t offset, const std::vector<uint8_t>& data) {
        Write(offset, data.data(), data.size());
    }
    // Copies a whole bare volume fixture ("storage/fat32.img.gz") to lba.
    void PlaceVolume(uint64_t lba, const std::string& fixture) {
        Write(lba * 512, ReadWholeFile(FixturePath(fixture)));
    }
    // One 16-byte entry of the table in the sector at tableLba (slot 0..3),
    // and the 0x55AA signature of that sector.
    void MbrEntry(uint64_t tableLba, int slot, uint8_t type, uint32_t start, uint32_t length,
                  uint8_t boot = 0) {
        uint8_t e[16] = {};
        e[0] = boot;
        e[4] = type;
        StoreU32(e + 8, start);
        StoreU32(e + 12, length);
        Write(tableLba * 512 + 446 + 16 * slot, e, 16);
        const uint8_t sig[2] = {0x55, 0xAA};
        Write(tableLba * 512 + 510, sig, 2);
    }

private:
    std::string path_;
};

}  // namespace kestrel::test
