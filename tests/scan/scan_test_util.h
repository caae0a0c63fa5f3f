#pragma once
// Shared pieces of the deep-scan tests: the scan fixture disk, a record for a
// whole image file, and an answerer that records every message and question.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/user_interaction.h"
#include "platform/wide_text.h"
#include "storage/part_info.h"
#include "tests/support/fixture.h"
#include "tests/support/recording_ui.h"

namespace kestrel::test {

// Partition starts of tests/data/scan/disk.img.gz (see its manifest).
constexpr uint64_t kFat32Start = 2048, kFat32Size = 69632;
constexpr uint64_t kNtfsStart = 71680, kNtfsSize = 24576;
constexpr uint64_t kExfatStart = 96256, kExfatSize = 16384;
constexpr uint64_t kExtStart = 112640;
constexpr uint64_t kFat16Start = 114688, kFat16Size = 16384;
constexpr uint64_t kDiskSectors = 131072;

inline std::string ScanDiskPath() { return FixturePath("scan/disk.img.gz"); }

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::vector<uint8_t> bytes(in ? size_t(in.tellg()) : 0);
    in.seekg(0);
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(bytes.size()));
    return bytes;
}

// A record covering [start, start + size) of an image file of deviceSectors.
inline PartInfo ImageRecord(const std::string& path, uint64_t start, uint64_t size,
                            uint64_t deviceSectors) {
    PartInfo p;
    p.startLba = start;
    p.sizeSectors = size;
    p.deviceSectors = deviceSectors;
    p.devicePath = Utf16FromUtf8(path);
    p.diskName = u"test image";
    return p;
}

// Writes an image file of `sectors` zero sectors, with the given sectors set.
struct SectorPatch {
    uint64_t lba;
    std::vector<uint8_t> bytes;
};
inline std::string WriteImage(const std::string& name, uint64_t sectors,
                              const std::vector<SectorPatch>& patches) {
    const std::string path = TempDir("scan-images") + "/" + name;
    { std::ofstream create(path, std::ios::binary | std::ios::trunc); }
    std::filesystem::resize_file(path, sectors * 512);  // sparse
    std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
    for (const SectorPatch& p : patches) {
        out.seekp(std::streamoff(p.lba * 512));
        out.write(reinterpret_cast<const char*>(p.bytes.data()), std::streamsize(p.bytes.size()));
    }
    return path;
}

}  // namespace kestrel::test
