#pragma once
// Helpers of the carving tests: the sample files, a zero-padded buffer to
// analyse them in, and the hand-built formats no Debian tool writes.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "carving/signature_find.h"
#include "tests/support/fixture.h"

namespace kestrel::test {

using Bytes = std::vector<uint8_t>;

inline Bytes LoadSample(const std::string& name) {
    std::string path = FixturePath("carving/" + name + ".gz");
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

constexpr uint64_t kSampleSector = 0x4000 * 3 + 7;  // a find in the middle of a block

struct AnalyzeResult {
    uint32_t status;
    SignatureFind find;
};

// Analyses `file` as a find of `type` that starts at the first sector of a
// buffer of `bufferBytes` (zero-filled past the file).
inline AnalyzeResult AnalyzeBytes(const Bytes& file, uint32_t type, size_t bufferBytes = 0x100000) {
    if (bufferBytes < file.size()) bufferBytes = (file.size() + 0x100000) & ~size_t(511);
    Bytes buffer(bufferBytes, 0);
    std::copy(file.begin(), file.end(), buffer.begin());
    SignatureFind find{};
    find.typeId = type;
    find.startSector = kSampleSector;
    uint32_t status = AnalyzeSignatureFind(buffer.data(), buffer.size(), find, kSampleSector);
    return {status, find};
}

inline void PutU16(Bytes& b, size_t off, uint16_t v) {
    b[off] = uint8_t(v);
    b[off + 1] = uint8_t(v >> 8);
}
inline void PutU32(Bytes& b, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = uint8_t(v >> (8 * i));
}
inline void PutU32Be(Bytes& b, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[off + i] = uint8_t(v >> (24 - 8 * i));
}

// ffmpeg ends a RealMedia file after its data chunk with an 8-byte zero
// marker and never writes an index; a RealProducer file has an index chunk
// there. This replaces the marker by an empty index chunk.
inline Bytes WithIndexChunk(Bytes rm) {
    const Bytes data = {'D', 'A', 'T', 'A'};
    auto it = std::search(rm.begin(), rm.end(), data.begin(), data.end());
    if (it == rm.end()) return rm;
    const size_t at = size_t(it - rm.begin());
    const size_t size = (size_t(rm[at + 4]) << 24) | (size_t(rm[at + 5]) << 16) |
                        (size_t(rm[at + 6]) << 8) | rm[at + 7];
    rm.resize(at + size);
    Bytes index = {'I', 'N', 'D', 'X', 0, 0, 0, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    rm.insert(rm.end(), index.begin(), index.end());
    return rm;
}

// A RAR 4 archive built from the block layout: marker block, archive
// header, one stored file, end-of-archive block.
inline Bytes MakeRar4() {
    Bytes b = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
    Bytes archive(13, 0);
    archive[2] = 0x73;
    PutU16(archive, 5, 13);
    b.insert(b.end(), archive.begin(), archive.end());
    const std::string name = "note.txt";
    const std::string data = "Kestrel RAR sample\n";
    Bytes file(32 + name.size(), 0);
    file[2] = 0x74;
    PutU16(file, 3, 0x8000);  // a block whose data follows its header
    PutU16(file, 5, uint16_t(file.size()));
    PutU32(file, 7, uint32_t(data.size()));   // packed size
    PutU32(file, 11, uint32_t(data.size()));  // unpacked size
    file[25] = 0x30;                          // stored
    PutU16(file, 26, uint16_t(name.size()));
    std::copy(name.begin(), name.end(), file.begin() + 32);
    b.insert(b.end(), file.begin(), file.end());
    b.insert(b.end(), data.begin(), data.end());
    Bytes end = {0xC4, 0x3D, 0x7B, 0x00, 0x40, 0x07, 0x00};
    b.insert(b.end(), end.begin(), end.end());
    return b;
}

// A compiled-help header: the 0x60-byte ITSF header, then header section 0
// with the file size; the body is zero.
inline Bytes MakeChm(uint32_t size) {
    Bytes b(size, 0);
    const uint8_t guid1[16] = {0x10, 0xFD, 0x01, 0x7C, 0xAA, 0x7B, 0xD0, 0x11,
                               0x9E, 0x0C, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEC};
    std::copy(std::begin("ITSF"), std::begin("ITSF") + 4, b.begin());
    PutU32(b, 4, 3);
    PutU32(b, 8, 0x60);
    PutU32(b, 12, 1);
    std::copy(guid1, guid1 + 16, b.begin() + 24);
    std::copy(guid1, guid1 + 16, b.begin() + 40);
    b[40] = 0x11;
    PutU32(b, 0x38, 0x60);
    PutU32(b, 0x40, 0x18);
    PutU32(b, 0x60, 0x1FE);
    PutU32(b, 0x68, size);
    return b;
}

// A Windows Help header: magic, directory start, first free block, file size.
inline Bytes MakeHlp(uint32_t size, uint32_t directoryStart) {
    Bytes b(size, 0);
    PutU32(b, 0, 0x00035F3F);
    PutU32(b, 4, directoryStart);
    PutU32(b, 8, 0xFFFFFFFF);
    PutU32(b, 12, size);
    return b;
}

}  // namespace kestrel::test
