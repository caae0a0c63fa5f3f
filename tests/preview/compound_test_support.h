#pragma once
// Compound documents for the preview tests: the committed ones read whole,
// and small ones built in memory for the rules real writers never exercise.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/bytes.h"
#include "tests/support/fixture.h"

namespace kestrel::test {

using Bytes = std::vector<uint8_t>;
using NamedStream = std::pair<std::string, Bytes>;

// A committed fixture of tests/data/documents, whole; empty when missing.
inline Bytes ReadDocument(const std::string& name) {
    std::ifstream in(FixturePath("documents/" + name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Header, the FAT sectors from sector 0 on, then the directory, the mini FAT,
// the mini stream and the large streams, each chained in order. Streams up
// to 4095 bytes go into the mini stream.
inline Bytes BuildCompoundFile(const std::vector<NamedStream>& streams) {
    constexpr size_t kSector = 512, kMini = 64;
    constexpr uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatMark = 0xFFFFFFFD;
    auto sectorsFor = [&](size_t bytes, size_t unit) { return (bytes + unit - 1) / unit; };

    Bytes mini;
    std::vector<uint32_t> miniFat, start(streams.size());
    size_t bigSectors = 0;
    for (size_t i = 0; i < streams.size(); ++i) {
        const size_t size = streams[i].second.size();
        if (size > 4095) {
            bigSectors += sectorsFor(size, kSector);
            continue;
        }
        const size_t n = sectorsFor(size, kMini);
        start[i] = n ? uint32_t(mini.size() / kMini) : kEnd;
        for (size_t s = 0; s < n; ++s)
            miniFat.push_back(s + 1 < n ? uint32_t(mini.size() / kMini + s + 1) : kEnd);
        mini.insert(mini.end(), streams[i].second.begin(), streams[i].second.end());
        mini.resize(sectorsFor(mini.size(), kMini) * kMini, 0);
    }
    const size_t dirSectors = sectorsFor((streams.size() + 1) * 128, kSector);
    const size_t miniFatSectors = sectorsFor(miniFat.size() * 4, kSector);
    const size_t miniSectors = sectorsFor(mini.size(), kSector);
    const size_t data = dirSectors + miniFatSectors + miniSectors + bigSectors;
    size_t fatSectors = 1;
    while (fatSectors * 128 < fatSectors + data) ++fatSectors;

    std::vector<uint32_t> fat(fatSectors * 128, kFree);
    for (size_t i = 0; i < fatSectors; ++i) fat[i] = kFatMark;
    Bytes file((1 + fatSectors + data) * kSector, 0);
    size_t next = fatSectors;
    // Chains `n` sectors from the next free one and copies `bytes` into them.
    auto place = [&](size_t n, const uint8_t* bytes, size_t size) -> uint32_t {
        if (n == 0) return kEnd;
        const uint32_t first = uint32_t(next);
        for (size_t s = 0; s < n; ++s, ++next) fat[next] = s + 1 < n ? uint32_t(next + 1) : kEnd;
        if (size) std::copy(bytes, bytes + size, file.begin() + (first + 1) * kSector);
        return first;
    };
    const uint32_t dirStart = place(dirSectors, nullptr, 0);
    Bytes miniFatBytes(miniFatSectors * kSector, 0xFF);
    for (size_t i = 0; i < miniFat.size(); ++i) StoreU32(&miniFatBytes[4 * i], miniFat[i]);
    const uint32_t miniFatStart = place(miniFatSectors, miniFatBytes.data(), miniFatBytes.size());
    const uint32_t miniStart = place(miniSectors, mini.data(), mini.size());
    for (size_t i = 0; i < streams.size(); ++i) {
        const Bytes& b = streams[i].second;
        if (b.size() > 4095) start[i] = place(sectorsFor(b.size(), kSector), b.data(), b.size());
    }

    static constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::copy(kSignature, kSignature + 8, file.begin());
    StoreU16(&file[26], 3);
    StoreU16(&file[28], 0xFFFE);
    StoreU16(&file[30], 9);
    StoreU16(&file[32], 6);
    StoreU32(&file[44], uint32_t(fatSectors));
    StoreU32(&file[48], dirStart);
    StoreU32(&file[56], 4096);
    StoreU32(&file[60], miniFatStart);
    StoreU32(&file[64], uint32_t(miniFatSectors));
    StoreU32(&file[68], kEnd);
    for (size_t i = 0; i < 109; ++i) StoreU32(&file[76 + 4 * i], i < fatSectors ? i : kFree);
    for (size_t i = 0; i < fat.size(); ++i) StoreU32(&file[kSector + 4 * i], fat[i]);

    auto entry = [&](size_t index, const std::string& name, uint8_t type, uint32_t first,
                     size_t size) {
        uint8_t* e = &file[(dirStart + 1) * kSector + 128 * index];
        for (size_t c = 0; c < name.size() && c < 31; ++c) StoreU16(e + 2 * c, uint8_t(name[c]));
        StoreU16(e + 64, uint16_t(2 * (name.size() + 1)));
        e[66] = type;
        StoreU32(e + 68, kFree);
        StoreU32(e + 72, kFree);
        StoreU32(e + 76, kFree);
        StoreU32(e + 116, first);
        StoreU32(e + 120, uint32_t(size));
    };
    entry(0, "Root Entry", 5, miniStart, mini.size());
    for (size_t i = 0; i < streams.size(); ++i)
        entry(i + 1, streams[i].first, 2, start[i], streams[i].second.size());
    return file;
}

}  // namespace kestrel::test
