#pragma once
// Bounds-checked little- and big-endian field readers over a byte span.
// Every on-disk structure is read through these: a field that does not lie
// wholly inside the span reads as 0, so a truncated or hostile buffer can
// never be read out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace kestrel {

class ByteView {
public:
    ByteView() = default;
    ByteView(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}
    ByteView(std::span<const uint8_t> s) : data_(s.data()), size_(s.size()) {}

    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // True when [off, off + n) lies inside the view; written so it cannot overflow.
    bool Has(size_t off, size_t n) const { return off <= size_ && n <= size_ - off; }

    uint8_t U8(size_t off) const { return Has(off, 1) ? data_[off] : 0; }
    uint16_t U16(size_t off) const { return static_cast<uint16_t>(Le(off, 2)); }
    uint32_t U32(size_t off) const { return static_cast<uint32_t>(Le(off, 4)); }
    uint64_t U64(size_t off) const { return Le(off, 8); }
    uint16_t U16Be(size_t off) const { return static_cast<uint16_t>(Be(off, 2)); }
    uint32_t U32Be(size_t off) const { return static_cast<uint32_t>(Be(off, 4)); }
    uint64_t U64Be(size_t off) const { return Be(off, 8); }
    // Little-endian unsigned value of 1..8 bytes (run-list fields).
    uint64_t Le(size_t off, size_t n) const {
        if (n == 0 || n > 8 || !Has(off, n)) return 0;
        uint64_t v = 0;
        for (size_t i = n; i-- > 0;) v = (v << 8) | data_[off + i];
        return v;
    }
    uint64_t Be(size_t off, size_t n) const {
        if (n == 0 || n > 8 || !Has(off, n)) return 0;
        uint64_t v = 0;
        for (size_t i = 0; i < n; ++i) v = (v << 8) | data_[off + i];
        return v;
    }
    // True when the bytes at off equal the n bytes of text.
    bool Equals(size_t off, const void* text, size_t n) const {
        return Has(off, n) && std::memcmp(data_ + off, text, n) == 0;
    }
    // Sub-view; empty when out of range.
    ByteView Sub(size_t off, size_t n) const {
        return Has(off, n) ? ByteView(data_ + off, n) : ByteView();
    }
    ByteView From(size_t off) const {
        return off <= size_ ? ByteView(data_ + off, size_ - off) : ByteView();
    }

private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

inline void StoreU16(uint8_t* p, uint16_t v) { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
inline void StoreU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void StoreU64(uint8_t* p, uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace kestrel
