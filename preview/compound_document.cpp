#include "preview/compound_document.h"

#include <algorithm>

#include "carving/ole2_layout.h"

namespace kestrel {
namespace {

constexpr size_t kMinFileSize = 1024;
constexpr uint32_t kMiniSectorSize = 64;
constexpr uint32_t kMiniStreamCutoff = 4095;  // streams up to this size live in the mini stream
constexpr size_t kEntriesPerSector = kOle2SectorSize / 4;
constexpr size_t kStreamStartOffset = 116;
constexpr size_t kStreamSizeOffset = 120;

// The sectors of the chain copied one after another, cut to `size`.
std::vector<uint8_t> Gather(const ByteView& file, const std::vector<size_t>& positions,
                            uint32_t size) {
    std::vector<uint8_t> out;
    for (size_t pos : positions) {
        if (out.size() >= size) break;
        const size_t n = std::min<size_t>(kOle2SectorSize, size - out.size());
        out.insert(out.end(), file.data() + pos, file.data() + pos + n);
    }
    return out;
}

}  // namespace

std::optional<CompoundDocument> CompoundDocument::Open(ByteView file) {
    if (file.size() < kMinFileSize || !HasOle2Signature(file)) return std::nullopt;
    CompoundDocument doc(file);
    if (ReadOle2Fat(file, doc.fat_) != Ole2Status::kOk) return std::nullopt;

    // The mini FAT's own sectors are chained through the FAT; an empty chain
    // means the document has no small streams.
    std::vector<size_t> miniFatSectors;
    if (WalkOle2Chain(file, doc.fat_, file.U32(60), miniFatSectors) != Ole2Status::kOk)
        return std::nullopt;
    doc.miniFat_.reserve(miniFatSectors.size() * kEntriesPerSector);
    for (size_t pos : miniFatSectors) {
        for (size_t i = 0; i < kEntriesPerSector; ++i) {
            const uint32_t entry = file.U32(pos + 4 * i);
            if (int32_t(entry) < -4) return std::nullopt;
            doc.miniFat_.push_back(entry);
        }
    }

    if (WalkOle2Chain(file, doc.fat_, file.U32(48), doc.directory_) != Ole2Status::kOk ||
        doc.directory_.empty())
        return std::nullopt;
    const ByteView root = file.Sub(doc.directory_[0], kOle2DirectoryEntrySize);
    if (!IsOle2RootEntry(root)) return std::nullopt;
    auto mini = doc.ReadFatStream(root.U32(kStreamStartOffset), root.U32(kStreamSizeOffset));
    if (!mini) return std::nullopt;
    doc.miniStream_ = std::move(*mini);
    return doc;
}

std::optional<std::vector<uint8_t>> CompoundDocument::ReadStream(std::string_view name) const {
    for (size_t pos : directory_) {
        for (size_t e = 0; e < kOle2SectorSize / kOle2DirectoryEntrySize; ++e) {
            const ByteView entry =
                file_.Sub(pos + e * kOle2DirectoryEntrySize, kOle2DirectoryEntrySize);
            if (Ole2EntryName(entry) != name) continue;
            const uint32_t first = entry.U32(kStreamStartOffset);
            const uint32_t size = entry.U32(kStreamSizeOffset);
            return size > kMiniStreamCutoff ? ReadFatStream(first, size)
                                            : ReadMiniStream(first, size);
        }
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> CompoundDocument::ReadFatStream(uint32_t first,
                                                                    uint32_t size) const {
    std::vector<size_t> positions;
    if (WalkOle2Chain(file_, fat_, first, positions) != Ole2Status::kOk) return std::nullopt;
    return Gather(file_, positions, size);
}

std::optional<std::vector<uint8_t>> CompoundDocument::ReadMiniStream(uint32_t first,
                                                                     uint32_t size) const {
    // The whole chain is walked, as in the FAT, so that a loop fails the
    // stream; a chain longer than the mini FAT has entries must loop.
    const size_t maxLinks = std::min(miniFat_.size(), kOle2MaxChainLinks);
    std::vector<uint8_t> out;
    size_t links = 0;
    for (uint32_t sector = first; int32_t(sector) >= 0; sector = miniFat_[sector]) {
        if (sector >= miniFat_.size() || links++ >= maxLinks) return std::nullopt;
        const size_t pos = size_t(sector) * kMiniSectorSize;
        if (pos > miniStream_.size() || miniStream_.size() - pos < kMiniSectorSize)
            return std::nullopt;
        const size_t n =
            out.size() < size ? std::min<size_t>(kMiniSectorSize, size - out.size()) : 0;
        out.insert(out.end(), miniStream_.begin() + pos, miniStream_.begin() + pos + n);
    }
    return out;
}

}  // namespace kestrel
