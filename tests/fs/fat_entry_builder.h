#pragma once
// Builds FAT directory entries in memory for parser tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fs/fat_directory.h"
#include "platform/bytes.h"

namespace kestrel::test {

struct FatDirBuffer {
    std::vector<uint8_t> bytes;

    uint8_t* Append() {
        bytes.resize(bytes.size() + 32, 0);
        return bytes.data() + bytes.size() - 32;
    }
    // name11: 11 space-padded bytes, e.g. "README  TXT".
    uint8_t* Short(const char* name11, uint8_t attr, uint32_t cluster = 0, uint32_t size = 0,
                   uint16_t date = 0, uint16_t time = 0) {
        uint8_t* e = Append();
        std::memcpy(e, name11, 11);
        e[11] = attr;
        StoreU16(e + 0x0E, time);
        StoreU16(e + 0x10, date);
        StoreU16(e + 0x14, uint16_t(cluster >> 16));
        StoreU16(e + 0x16, time);
        StoreU16(e + 0x18, date);
        StoreU16(e + 0x1A, uint16_t(cluster));
        StoreU32(e + 0x1C, size);
        return e;
    }
    // The long-name entries of name for short name name11, last part first.
    // firstSeq overrides the sequence byte of the first entry (0 = correct one).
    // Returns the number of entries added.
    size_t LongName(const std::u16string& name, const char* name11, uint8_t firstSeq = 0,
                    int checksumDelta = 0) {
        const size_t parts = (name.size() + 12) / 13;
        const uint8_t sum =
            uint8_t(FatShortNameChecksum(reinterpret_cast<const uint8_t*>(name11)) + checksumDelta);
        static const uint8_t kOff[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (size_t p = parts; p >= 1; --p) {
            uint8_t* e = Append();
            e[0] = uint8_t(p == parts ? (firstSeq ? firstSeq : (0x40 | p)) : p);
            e[11] = 0x0F;
            e[13] = sum;
            for (size_t c = 0; c < 13; ++c) {
                const size_t at = (p - 1) * 13 + c;
                const uint16_t v = at < name.size()    ? uint16_t(name[at])
                                   : at == name.size() ? 0
                                                       : 0xFFFF;
                StoreU16(e + kOff[c], v);
            }
        }
        return parts;
    }
    // Marks the last n entries deleted.
    void DeleteLast(size_t n) {
        if (n > bytes.size() / 32) n = bytes.size() / 32;
        for (size_t i = 0; i < n; ++i) bytes[bytes.size() - 32 * (i + 1)] = 0xE5;
    }
    ByteView View() const { return ByteView(bytes.data(), bytes.size()); }
};

}  // namespace kestrel::test
