#include "scan/scan_catalogue.h"

#include <cstring>

#include "app/guarded_memory.h"
#include "fs/ntfs_record_summary.h"
#include "scan/block_schedule.h"

namespace kestrel {

void FreeItemPayload(FoundItem& item) {
    if (!item.data) return;
    if (item.type == kCodeFileRecord)
        delete static_cast<FileRecordSummary*>(item.data);
    else
        GuardedFree(item.data);
    item.data = nullptr;
}

void* CopySectorPayload(const uint8_t* sector) {
    void* p = GuardedAlloc(512, __LINE__);
    std::memcpy(p, sector, 512);
    return p;
}

const FileRecordSummary* FileRecordOf(const FoundItem& item) {
    if (item.type != kCodeFileRecord) return nullptr;
    return static_cast<const FileRecordSummary*>(item.data);
}

bool FileRecordNumber(const FoundItem& item, uint32_t& recordNumber) {
    const FileRecordSummary* s = FileRecordOf(item);
    if (!s) return false;
    recordNumber = s->recordNumber;
    return true;
}

bool FileRecordNameStartsWithMft(const FoundItem& item) {
    const FileRecordSummary* s = FileRecordOf(item);
    return s && s->name.size() >= 2 && s->name[0] == u'$' && s->name[1] == u'M';
}

void CScanCatalogue::Reset(uint64_t blockCount) {
    Clear();
    slots_.resize(blockCount);
}

void CScanCatalogue::Clear() {
    for (auto& list : slots_)
        for (FoundItem& it : list) FreeItemPayload(it);
    slots_.clear();
    slots_.shrink_to_fit();
}

void CScanCatalogue::FileBlock(uint64_t blockIndex, std::vector<FoundItem>&& items) {
    if (blockIndex >= slots_.size()) {
        for (FoundItem& it : items) FreeItemPayload(it);
        items.clear();
        return;
    }
    for (FoundItem& it : slots_[blockIndex]) FreeItemPayload(it);
    slots_[blockIndex] = std::move(items);
}

void CScanCatalogue::AppendItem(const FoundItem& item) {
    const uint64_t index = item.lba >> kScanBlockShift;
    if (index >= slots_.size()) {
        FoundItem copy = item;
        FreeItemPayload(copy);
        return;
    }
    slots_[index].push_back(item);
}

const std::vector<FoundItem>* CScanCatalogue::BlockItems(uint64_t blockIndex) const {
    if (blockIndex >= slots_.size() || slots_[blockIndex].empty()) return nullptr;
    return &slots_[blockIndex];
}

size_t CScanCatalogue::ItemCount() const {
    size_t n = 0;
    for (const auto& list : slots_) n += list.size();
    return n;
}

void CScanCatalogue::FinalisePendingFind(const SignatureFind& find) {
    const uint64_t index = find.startSector >> kScanBlockShift;
    if (index >= slots_.size()) return;
    for (FoundItem& it : slots_[index]) {
        if (it.lba != find.startSector) continue;
        const bool series = it.type >= kFirstSeriesKind && it.type <= kLastSeriesKind + 1;
        if (series && it.type != find.typeId) continue;
        if (series && (it.type == 201 || it.type == 203)) {
            it.status = uint8_t(find.status);
            it.data = find.payload;
            return;
        }
        it.type = uint8_t(find.typeId);
        it.status = uint8_t(find.status);
        it.SetFileLength(find.length);
        return;
    }
}

void CScanCatalogue::FinaliseCallback(void* context, const SignatureFind& find) {
    static_cast<CScanCatalogue*>(context)->FinalisePendingFind(find);
}

std::vector<FoundItem> CScanCatalogue::Collect(bool structuresOnly, bool onlyInRecord,
                                               uint64_t recordStart, uint64_t recordSize) const {
    std::vector<FoundItem> out;
    for (const auto& list : slots_) {
        for (const FoundItem& it : list) {
            if (structuresOnly && it.type < 220) continue;
            if (onlyInRecord && (it.lba < recordStart || it.lba - recordStart >= recordSize))
                continue;
            out.push_back(it);
        }
    }
    return out;
}

}  // namespace kestrel
