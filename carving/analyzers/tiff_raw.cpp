// TIFF-structured camera raws: the file extends to the furthest byte any
// image directory, tag array, strip or tile reaches; the Make entry of the
// first directory names the camera maker and so the raw type.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "carving/analyzers/analyzer_steps.h"
#include "carving/analyzers/analyzers.h"

namespace kestrel {
namespace {

constexpr uint32_t kTiffRead = 0x3800000;  // 56 MiB
constexpr uint64_t kMinRawBytes = 0x1FFFFF;
constexpr uint16_t kMaxEntries = 512;
constexpr size_t kMaxSubDirectories = 512;
constexpr int kMaxDepth = 4;
// All directories of one file, nested ones included.
constexpr size_t kMaxDirectories = 2048;

uint32_t ItemSize(uint16_t type) {
    switch (type) {
        case 1:
        case 2:
        case 6:
        case 7:
            return 1;
        case 3:
        case 8:
            return 2;
        case 4:
        case 9:
        case 11:
        case 13:
            return 4;  // 13: an IFD offset
        case 5:
        case 10:
        case 12:
            return 8;
        default:
            return 0;
    }
}

struct TiffWalk {
    ByteView v;
    bool bigEndian = false;
    uint64_t extent = 0;
    std::string make;
    std::vector<uint32_t> visited;

    uint16_t U16(uint64_t off) const {
        return bigEndian ? v.U16Be(size_t(off)) : v.U16(size_t(off));
    }
    uint32_t U32(uint64_t off) const {
        return bigEndian ? v.U32Be(size_t(off)) : v.U32(size_t(off));
    }

    void Reach(uint64_t end) { extent = std::max(extent, end); }

    // Element i of an entry's array of offsets or counts (SHORT or LONG).
    uint32_t Element(uint16_t type, uint64_t dataAt, uint32_t i) const {
        const uint32_t size = ItemSize(type);
        if (size == 2) return U16(dataAt + 2 * uint64_t(i));
        if (size == 4) return U32(dataAt + 4 * uint64_t(i));
        return 0;
    }

    void WalkChain(uint32_t first, int depth, bool readMake) {
        uint32_t b = first;
        while (b != 0) {
            if (visited.size() >= kMaxDirectories ||
                std::find(visited.begin(), visited.end(), b) != visited.end())
                return;
            visited.push_back(b);
            if (!v.Has(b, 2)) return;
            const uint16_t n = U16(b);
            if (n < 1 || n > kMaxEntries) return;
            const uint64_t entriesEnd = uint64_t(b) + 2 + 12 * uint64_t(n);
            // The directory's last field, the next-directory offset, belongs to the file too.
            Reach(entriesEnd + 4);
            if (extent > v.size()) return;
            WalkEntries(b, n, depth, readMake);
            readMake = false;
            if (!v.Has(size_t(entriesEnd), 4)) return;
            const uint32_t next = U32(entriesEnd);
            if (next == 0 || next <= entriesEnd) return;
            b = next;
        }
    }

    void WalkEntries(uint32_t b, uint16_t n, int depth, bool readMake) {
        uint32_t stripIndex = 0, stripOffset = 0, tileIndex = 0, tileOffset = 0;
        bool haveStrip = false, haveTile = false;
        std::vector<uint32_t> subDirectories;
        for (uint32_t i = 0; i < n; ++i) {
            const uint64_t e = uint64_t(b) + 2 + 12 * uint64_t(i);
            const uint16_t tag = U16(e);
            const uint16_t type = U16(e + 2);
            const uint32_t count = U32(e + 4);
            const uint64_t total = uint64_t(count) * ItemSize(type);
            uint64_t dataAt = e + 8;
            if (total > 4) {
                dataAt = U32(e + 8);
                if (dataAt + total > v.size()) break;
                Reach(dataAt + total);
            }
            if (count == 0) continue;
            const uint32_t lastIndex = count - 1;
            if (tag == 273 || tag == 513) {
                stripIndex = lastIndex;
                stripOffset = Element(type, dataAt, lastIndex);
                haveStrip = true;
            } else if ((tag == 279 || tag == 514) && haveStrip && stripIndex < count) {
                Reach(uint64_t(stripOffset) + Element(type, dataAt, stripIndex));
            } else if (tag == 324) {
                tileIndex = lastIndex;
                tileOffset = Element(type, dataAt, lastIndex);
                haveTile = true;
            } else if (tag == 325 && haveTile && tileIndex < count) {
                Reach(uint64_t(tileOffset) + Element(type, dataAt, tileIndex));
            } else if (tag == 330 || tag == 34665) {
                for (uint32_t k = 0; k < count && subDirectories.size() < kMaxSubDirectories; ++k)
                    subDirectories.push_back(Element(type, dataAt, k));
            } else if (tag == 271 && readMake && type == 2) {
                const size_t len = size_t(std::min<uint64_t>(total, 64));
                if (v.Has(size_t(dataAt), len)) {
                    make.assign(reinterpret_cast<const char*>(v.data() + dataAt), len);
                }
            }
        }
        if (depth >= kMaxDepth) return;
        for (uint32_t sub : subDirectories) {
            if (sub != 0) WalkChain(sub, depth + 1, false);
        }
    }
};

uint32_t RawTypeForMaker(const std::string& make) {
    static constexpr struct {
        const char* name;
        uint32_t type;
    } kMakers[] = {{"Canon", 49},    {"NIKON", 92},     {"PENTAX", 98},  {"SONY", 101},
                   {"OLYMPUS", 104}, {"Panasonic", 50}, {"SAMSUNG", 52}, {"Mamiya", 102}};
    for (const auto& m : kMakers) {
        if (make.find(m.name) != std::string::npos) return m.type;
    }
    return 50;
}

}  // namespace

uint32_t AnalyzeTiffRaw(SignatureFind& find, const FindBuffer& buffer) {
    find.parseOffset = 0;
    ByteView v;
    uint32_t r = ReadStructure(find, buffer, kTiffRead, v);
    if (r != kFindDelivered) return r;
    TiffWalk walk;
    walk.v = v;
    if (v.Equals(0, "MM", 2)) {
        walk.bigEndian = true;
    } else if (!v.Equals(0, "II", 2)) {
        return kFindRejected;
    }
    find.bigEndian = walk.bigEndian ? 1 : 0;
    walk.WalkChain(walk.U32(4), 0, true);
    if (walk.extent <= kMinRawBytes) return kFindRejected;
    find.length = walk.extent;
    find.typeId = RawTypeForMaker(walk.make);
    return kFindComplete;
}

}  // namespace kestrel
