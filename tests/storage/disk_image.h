#pragma once
// Builds small disk images for the storage tests: a sparse file of a given
// size with bytes written at chosen offsets (tables, copies of the bare
// volume fixtures at partition starts).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/bytes.h"
#include "tests/support/fixture.h"

namespace kestrel::test {

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::vector<uint8_t> data;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return data;
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fseek(f, 0, SEEK_SET);
    if (size > 0) {
        data.resize(size_t(size));
        data.resize(std::fread(data.data(), 1, data.size(), f));
    }
    std::fclose(f);
    return data;
}

// Fixture contents, read once per test process.
inline const std::vector<uint8_t>& FixtureBytes(const std::string& fixture) {
    static std::map<std::string, std::vector<uint8_t>> cache;
    auto it = cache.find(fixture);
    if (it == cache.end()) it = cache.emplace(fixture, ReadWholeFile(FixturePath(fixture))).first;
    return it->second;
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
    // Copies a whole bare volume fixture ("storage/fat32.img.gz") to lba;
    // zero runs are skipped, the image is sparse and zero already.
    void PlaceVolume(uint64_t lba, const std::string& fixture) {
        const std::vector<uint8_t>& data = FixtureBytes(fixture);
        FILE* f = std::fopen(path_.c_str(), "r+b");
        ASSERT_TRUE(f);
        constexpr size_t kChunk = 4096;
        for (size_t off = 0; off < data.size(); off += kChunk) {
            const size_t n = std::min(kChunk, data.size() - off);
            bool zero = true;
            for (size_t i = 0; i < n && zero; ++i) zero = data[off + i] == 0;
            if (zero) continue;
            std::fseek(f, long(lba * 512 + off), SEEK_SET);
            std::fwrite(data.data() + off, 1, n, f);
        }
        std::fclose(f);
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
