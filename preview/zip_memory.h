#pragma once
// minizip's unzip interface over a ZIP file held in memory: the I/O callbacks
// serve reads and seeks from the buffer, and every write fails, so nothing
// can touch the source.
#include <minizip/unzip.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/bytes.h"

namespace kestrel {

// Invariant: pos <= bytes.size().
struct ZipMemoryStream {
    ByteView bytes;
    uint64_t pos = 0;
};

// An open unzip handle over `file`, which must outlive it; not copyable.
class ZipInMemory {
public:
    explicit ZipInMemory(ByteView file);
    ~ZipInMemory();
    ZipInMemory(const ZipInMemory&) = delete;
    ZipInMemory& operator=(const ZipInMemory&) = delete;

    // Null when minizip found no readable end-of-central-directory record.
    unzFile handle() const { return handle_; }

private:
    ZipMemoryStream stream_;
    unzFile handle_ = nullptr;
};

enum class ZipMemberRead { kComplete, kCut, kMissing, kDamaged };

struct ZipMember {
    ZipMemberRead status = ZipMemberRead::kMissing;
    std::string bytes;
};

// Reads the member named `name` (exact case), at most `limit` bytes of it.
// kComplete when the whole member was read and its CRC matched; kCut when it
// holds more than `limit` bytes (`bytes` has the first `limit`); kDamaged when
// it cannot be opened, decompressed, or fails its CRC.
ZipMember ReadZipMember(unzFile zip, const char* name, size_t limit);

}  // namespace kestrel
