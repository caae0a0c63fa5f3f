#pragma once
// Walking the attribute list of one fixed-up 1 KiB FILE record. Every
// attribute handed out lies wholly inside the record, so callers may read
// its fields through the view without further range checks.
#include <cstddef>
#include <cstdint>

#include "platform/bytes.h"

namespace kestrel {

constexpr size_t kNtfsRecordBytes = 1024;
constexpr uint32_t kNtfsMaxRecordNumber = 1999999;

enum NtfsAttributeType : uint32_t {
    kAttrStandardInformation = 0x10,
    kAttrFileName = 0x30,
    kAttrVolumeName = 0x60,
    kAttrData = 0x80,
    kAttrIndexAllocation = 0xA0,
    kAttrEnd = 0xFFFFFFFF,
};

enum NtfsNameSpace : uint8_t {
    kNamePosix = 0,
    kNameWin32 = 1,
    kNameDos = 2,
    kNameWin32AndDos = 3,
};

struct NtfsAttribute {
    uint32_t type = 0;
    size_t offset = 0;  // inside the record
    ByteView bytes;     // the whole attribute, header included
    bool NonResident() const { return bytes.U8(0x08) != 0; }
    // Resident value; empty when it does not lie inside the attribute.
    ByteView ResidentValue() const { return bytes.Sub(bytes.U16(0x14), bytes.U32(0x10)); }
    // Non-resident mapping pairs: from the run-list offset to the attribute end.
    ByteView MappingPairs() const {
        const size_t off = bytes.U16(0x20);
        return off < bytes.size() ? bytes.From(off) : ByteView();
    }
};

// The record fields used by the readers.
inline bool HasFileSignature(ByteView rec) { return rec.Equals(0, "FILE", 4); }
inline uint16_t RecordFlags(ByteView rec) { return rec.U16(0x16); }
inline uint32_t RecordNumber(ByteView rec) { return rec.U32(0x2C); }

// Calls visit(const NtfsAttribute&) for each attribute from the first-attribute
// offset until visit returns false, an end marker, a length of 0 or of a whole
// record, or an attribute that would run past the record.
template <class Visit>
void ForEachAttribute(ByteView rec, Visit&& visit) {
    if (rec.size() > kNtfsRecordBytes) rec = rec.Sub(0, kNtfsRecordBytes);
    size_t off = rec.U16(0x14);
    // Each step advances by at least the 16-byte header, so the walk ends
    // after at most 64 attributes.
    while (rec.Has(off, 16)) {
        const uint32_t type = rec.U32(off);
        if (type == 0 || type == kAttrEnd) return;
        const uint32_t len = rec.U32(off + 4);
        if (len < 16 || len >= kNtfsRecordBytes || !rec.Has(off, len)) return;
        NtfsAttribute a;
        a.type = type;
        a.offset = off;
        a.bytes = rec.Sub(off, len);
        if (!visit(static_cast<const NtfsAttribute&>(a))) return;
        off += len;
    }
}

}  // namespace kestrel

namespace kestrel {

// The fields of a $FILE_NAME value. valid is false when the value does not
// start inside the attribute or its name would run past it.
struct NtfsFileName {
    bool valid = false;
    uint32_t parentRecord = 0;  // low 32 bits of the parent reference
    uint8_t nameSpace = 0;
    uint8_t length = 0;  // characters
    ByteView chars;      // 2 * length bytes of UTF-16LE
};

inline NtfsFileName ReadFileNameAttribute(const NtfsAttribute& a) {
    NtfsFileName fn;
    const size_t valOff = a.bytes.U16(0x14);
    if (valOff >= a.bytes.size()) return fn;
    const ByteView v = a.bytes.From(valOff);
    if (!v.Has(0, 0x42)) return fn;
    fn.parentRecord = v.U32(0x00);
    fn.length = v.U8(0x40);
    fn.nameSpace = v.U8(0x41);
    fn.chars = v.Sub(0x42, size_t(fn.length) * 2);
    fn.valid = fn.chars.size() == size_t(fn.length) * 2;
    return fn;
}

}  // namespace kestrel
