#pragma once
// Streams of an OLE2 compound document held wholly in memory (Word and Excel
// 97-2003 files). The allocation tables are parsed once; streams are read by
// name. Damaged structures make Open or ReadStream return nothing. The
// object refers to the file's bytes, which must outlive it.
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/bytes.h"

namespace kestrel {

class CompoundDocument {
public:
    // The file must be at least 1024 bytes and start with the signature; the
    // FAT, the mini FAT, the directory and the mini stream must all be sound.
    static std::optional<CompoundDocument> Open(ByteView file);

    // The stream whose directory entry passes the name test and has exactly
    // this name. A stream of more than 4095 bytes lives in 512-byte FAT
    // sectors, a smaller one in 64-byte sectors of the mini stream. The copy
    // holds the declared size, or less when the chain ends first.
    std::optional<std::vector<uint8_t>> ReadStream(std::string_view name) const;

private:
    explicit CompoundDocument(ByteView file) : file_(file) {}
    std::optional<std::vector<uint8_t>> ReadFatStream(uint32_t first, uint32_t size) const;
    std::optional<std::vector<uint8_t>> ReadMiniStream(uint32_t first, uint32_t size) const;

    ByteView file_;
    std::vector<uint32_t> fat_;
    std::vector<uint32_t> miniFat_;
    std::vector<size_t> directory_;  // byte positions of the directory sectors
    std::vector<uint8_t> miniStream_;
};

}  // namespace kestrel
