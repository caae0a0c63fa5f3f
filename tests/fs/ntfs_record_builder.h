#pragma once
// Builds 1 KiB NTFS FILE records in their on-disk form (update sequence
// applied) for the NTFS reader tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/bytes.h"

namespace kestrel::test {

class NtfsRecordBuilder {
public:
    explicit NtfsRecordBuilder(uint32_t recordNumber, uint16_t flags = 1) : rec_(1024, 0) {
        std::memcpy(rec_.data(), "FILE", 4);
        StoreU16(&rec_[0x04], 0x30);  // update sequence offset
        StoreU16(&rec_[0x06], 3);     // update sequence count: 1 + 2 sectors
        StoreU16(&rec_[0x14], 0x38);  // first attribute
        StoreU16(&rec_[0x16], flags);
        StoreU32(&rec_[0x1C], 1024);
        StoreU32(&rec_[0x2C], recordNumber);
        StoreU16(&rec_[0x30], 0x0007);  // update sequence number
        end_ = 0x38;
    }

    NtfsRecordBuilder& StandardInfo(uint64_t created, uint64_t modified, uint32_t attributes = 0) {
        std::vector<uint8_t> v(0x48, 0);
        StoreU64(&v[0x00], created);
        StoreU64(&v[0x08], modified);
        StoreU32(&v[0x20], attributes);
        return Resident(0x10, v);
    }
    NtfsRecordBuilder& FileName(uint32_t parent, uint8_t nameSpace, const std::u16string& name) {
        std::vector<uint8_t> v(0x42 + 2 * name.size(), 0);
        StoreU64(&v[0x00], parent | (uint64_t(1) << 48));
        v[0x40] = uint8_t(name.size());
        v[0x41] = nameSpace;
        for (size_t i = 0; i < name.size(); ++i) StoreU16(&v[0x42 + 2 * i], name[i]);
        return Resident(0x30, v);
    }
    NtfsRecordBuilder& Resident(uint32_t type, const std::vector<uint8_t>& value) {
        const uint32_t len = Align8(0x18 + uint32_t(value.size()));
        uint8_t* a = Reserve(len);
        StoreU32(a, type);
        StoreU32(a + 4, len);
        StoreU32(a + 0x10, uint32_t(value.size()));
        StoreU16(a + 0x14, 0x18);
        if (!value.empty()) std::memcpy(a + 0x18, value.data(), value.size());
        return *this;
    }
    NtfsRecordBuilder& NonResident(uint32_t type, const std::vector<uint8_t>& pairs,
                                   uint64_t realSize, uint64_t allocSize, uint64_t startVcn = 0) {
        const uint32_t len = Align8(0x40 + uint32_t(pairs.size()) + 1);
        uint8_t* a = Reserve(len);
        StoreU32(a, type);
        StoreU32(a + 4, len);
        a[8] = 1;
        StoreU64(a + 0x10, startVcn);
        StoreU16(a + 0x20, 0x40);
        StoreU64(a + 0x28, allocSize);
        StoreU64(a + 0x30, realSize);
        StoreU64(a + 0x38, realSize);
        if (!pairs.empty()) std::memcpy(a + 0x40, pairs.data(), pairs.size());
        return *this;
    }
    // Offset of the next attribute, for tests that patch headers.
    size_t End() const { return end_; }

    // The record as it lies on the disk.
    std::vector<uint8_t> Disk() const {
        std::vector<uint8_t> r = rec_;
        StoreU32(&r[end_], 0xFFFFFFFF);
        StoreU32(&r[0x18], uint32_t(end_ + 8));
        for (size_t s = 0; s < 2; ++s) {
            const size_t tail = 512 * s + 510;
            r[0x32 + 2 * s] = r[tail];
            r[0x33 + 2 * s] = r[tail + 1];
            r[tail] = r[0x30];
            r[tail + 1] = r[0x31];
        }
        return r;
    }
    // The record with the fix-up already applied.
    std::vector<uint8_t> Fixed() const {
        std::vector<uint8_t> r = rec_;
        StoreU32(&r[end_], 0xFFFFFFFF);
        StoreU32(&r[0x18], uint32_t(end_ + 8));
        return r;
    }

private:
    static uint32_t Align8(uint32_t v) { return (v + 7) & ~7u; }
    uint8_t* Reserve(uint32_t len) {
        if (end_ + len + 8 > 1024) len = 0;  // tests never build records this full
        uint8_t* p = &rec_[end_];
        end_ += len;
        return p;
    }
    std::vector<uint8_t> rec_;
    size_t end_;
};

// FILETIME of a UTC calendar second.
inline uint64_t FileTimeFromUnix(int64_t unixSeconds) {
    return uint64_t(unixSeconds + 11644473600LL) * 10000000ULL;
}

}  // namespace kestrel::test
