#include "scan/scan_state_records.h"

#include <cstring>
#include <memory>

#include "app/guarded_memory.h"
#include "fs/ntfs_record_summary.h"
#include "scan/scan_catalogue.h"

namespace kestrel {
namespace {

constexpr uint8_t kLastFileType = 153;
constexpr uint8_t kPlainSeriesKind = 200;  // stores its payload and extra like a file type
constexpr size_t kSectorBytes = 512;
constexpr size_t kSeriesHeaderBytes = 56;  // kind 201, before its list
constexpr size_t kSeriesPairBytes = 16;    // kind 202
constexpr size_t kSeriesRecordBytes = 68;  // kinds 207 and 208
constexpr uint8_t kStatusComplete = 4;

bool StoresPayloadAndExtra(uint8_t type) {
    return type <= kLastFileType || type == kPlainSeriesKind;
}

void AppendU32(std::vector<uint8_t>& bytes, uint32_t v) {
    const size_t at = bytes.size();
    bytes.resize(at + 4);
    StoreU32(bytes.data() + at, v);
}

// u32 count, then per entry u32 n, n u32 values and 5 more bytes.
bool ReadSeriesList(StateReader& in, std::vector<uint8_t>& bytes) {
    uint32_t count = 0;
    if (!in.U32(count)) return false;
    AppendU32(bytes, count);
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t n = 0;
        if (!in.U32(n) || n > kMaxSeriesValues) return false;
        const size_t entry = size_t(n) * 4 + 5;
        if (bytes.size() + 4 + entry > kMaxSeriesPayloadBytes) return false;
        AppendU32(bytes, n);
        const size_t at = bytes.size();
        bytes.resize(at + entry);
        if (!in.Bytes(bytes.data() + at, entry)) return false;
    }
    return true;
}

bool ReadFixed(StateReader& in, size_t n, std::vector<uint8_t>& bytes) {
    const size_t at = bytes.size();
    bytes.resize(at + n);
    return in.Bytes(bytes.data() + at, n);
}

// The smallest well-formed structure of a kind: what is written when an item
// has lost its structure, so that the file stays readable past it.
void WriteEmptySeriesStructure(StateWriter& out, uint8_t kind) {
    if (kind == 201) {
        out.Zeros(kSeriesHeaderBytes);
        out.U32(0);
    } else if (kind == 202) {
        out.Zeros(kSeriesPairBytes);
    } else if (kind == 207 || kind == 208) {
        out.Zeros(kSeriesRecordBytes);
    } else {
        out.U32(0);
    }
}

void WriteSeriesStructure(StateWriter& out, const FoundItem& item) {
    const uint32_t size = item.data ? GuardedSize(item.data) : 0;
    if (size != 0) {
        // Only a structure that reads back whole is written as it is.
        StateReader check(ByteView(item.data, size));
        std::vector<uint8_t> copy;
        if (ReadSeriesStructure(check, item.type, copy) && copy.size() == size) {
            out.Bytes(item.data, size);
            return;
        }
    }
    WriteEmptySeriesStructure(out, item.type);
}

void WriteFileRecord(StateWriter& out, const FoundItem& item) {
    const FileRecordSummary* s = FileRecordOf(item);
    if (!s) {
        out.Zeros(kFileRecordSummaryBytes);
        return;
    }
    const uint16_t nameLen = s->name.size() > 0xFFFF ? 0xFFFF : uint16_t(s->name.size());
    const uint16_t runLen = s->runList.size() > 0xFFFF ? 0xFFFF : uint16_t(s->runList.size());
    out.U32(s->parentRecord);
    out.U32(s->recordNumber);
    out.U32(0);  // name and run-list references mean nothing outside this process
    out.U32(0);
    out.U16(nameLen);
    out.U16(runLen);
    out.U64(s->size);
    out.U64(s->allocatedSize);
    out.U8(s->flags);
    uint8_t chunk[512];
    for (size_t i = 0; i < nameLen;) {
        size_t n = 0;
        for (; i < nameLen && n < sizeof chunk; ++i, n += 2) StoreU16(chunk + n, s->name[i]);
        out.Bytes(chunk, n);
    }
    if (runLen) out.Bytes(s->runList.data(), runLen);
}

bool ReadFileRecord(StateReader& in, FoundItem& item) {
    uint8_t raw[kFileRecordSummaryBytes];
    if (!in.Bytes(raw, sizeof raw)) return false;
    const ByteView v(raw, sizeof raw);
    auto s = std::make_unique<FileRecordSummary>();
    s->parentRecord = v.U32(0);
    s->recordNumber = v.U32(4);
    const uint16_t nameLen = v.U16(16);
    const uint16_t runLen = v.U16(18);
    s->size = v.U64(20);
    s->allocatedSize = v.U64(28);
    s->flags = v.U8(36);
    std::vector<uint8_t> name(size_t(nameLen) * 2);
    if (!in.Bytes(name.data(), name.size())) return false;
    s->name.resize(nameLen);
    for (size_t i = 0; i < nameLen; ++i)
        s->name[i] = char16_t(name[2 * i] | (unsigned(name[2 * i + 1]) << 8));
    s->runList.resize(runLen);
    if (!in.Bytes(s->runList.data(), runLen)) return false;
    item.data = s.release();
    return true;
}

}  // namespace

std::vector<uint8_t> IdentityBytes(const WString& identity) {
    std::vector<uint8_t> bytes(identity.size() * 2);
    for (size_t i = 0; i < identity.size(); ++i) StoreU16(bytes.data() + i * 2, identity[i]);
    return bytes;
}

void WriteIdentity(StateWriter& out, const std::vector<uint8_t>& identity) {
    out.Bytes(kScanStateMagic, sizeof kScanStateMagic);
    out.U32(uint32_t(identity.size()));
    out.Bytes(identity.data(), identity.size());
}

bool ReadIdentity(StateReader& in, std::vector<uint8_t>& identity) {
    char magic[4];
    uint32_t len = 0;
    if (!in.Bytes(magic, sizeof magic) || std::memcmp(magic, kScanStateMagic, 4) != 0) return false;
    if (!in.U32(len) || len > kMaxIdentityBytes) return false;
    identity.resize(len);
    return in.Bytes(identity.data(), len);
}

bool SeriesHasStructure(uint8_t kind, uint8_t status) {
    if (kind == 207 || kind == 208) return true;
    return kind >= 201 && kind <= 206 && status == kStatusComplete;
}

bool ReadSeriesStructure(StateReader& in, uint8_t kind, std::vector<uint8_t>& bytes) {
    bytes.clear();
    switch (kind) {
        case 201:
            return ReadFixed(in, kSeriesHeaderBytes, bytes) && ReadSeriesList(in, bytes);
        case 202:
            return ReadFixed(in, kSeriesPairBytes, bytes);
        case 203:
        case 204:
        case 205:
        case 206:
            return ReadSeriesList(in, bytes);
        case 207:
        case 208:
            return ReadFixed(in, kSeriesRecordBytes, bytes);
        default:
            return false;
    }
}

void WriteItemRecord(StateWriter& out, const FoundItem& item) {
    const uint8_t t = item.type;
    out.U8(t);
    out.U64(item.lba);
    out.U8(item.status);
    if (StoresPayloadAndExtra(t) || t == kCodeFatDir) {
        out.U32(item.payload);
        out.U32(item.extra);
    } else if (HasSectorCopy(t)) {
        if (item.data && GuardedSize(item.data) >= kSectorBytes)
            out.Bytes(item.data, kSectorBytes);
        else
            out.Zeros(kSectorBytes);
    } else if (t == kCodeFileRecord) {
        WriteFileRecord(out, item);
    } else if (t == kCodeIndexBlock) {
        out.U32(item.payload);
    } else if (SeriesHasStructure(t, item.status)) {
        WriteSeriesStructure(out, item);
    }
}

bool ReadItemRecord(StateReader& in, FoundItem& item) {
    item = FoundItem();
    if (!in.U8(item.type) || !in.U64(item.lba) || !in.U8(item.status)) return false;
    const uint8_t t = item.type;
    if (StoresPayloadAndExtra(t) || t == kCodeFatDir)
        return in.U32(item.payload) && in.U32(item.extra);
    if (HasSectorCopy(t)) {
        uint8_t sector[kSectorBytes];
        if (!in.Bytes(sector, sizeof sector)) return false;
        item.data = CopySectorPayload(sector);
        return true;
    }
    if (t == kCodeFileRecord) return ReadFileRecord(in, item);
    if (t == kCodeIndexBlock) return in.U32(item.payload);
    if (SeriesHasStructure(t, item.status)) {
        std::vector<uint8_t> bytes;
        if (!ReadSeriesStructure(in, t, bytes)) return false;
        item.data = GuardedAlloc(uint32_t(bytes.size()), __LINE__);
        std::memcpy(item.data, bytes.data(), bytes.size());
    }
    return true;
}

}  // namespace kestrel
