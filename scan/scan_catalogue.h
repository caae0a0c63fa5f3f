#pragma once
// The scan catalogue: one list of FoundItems per 8 MiB block of the device,
// in the order they were found. Items own their payloads; clearing the
// catalogue frees them. During a scan only the processor thread writes it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "carving/signature_find.h"
#include "scan/found_item.h"

namespace kestrel {

struct FileRecordSummary;

// Payload ownership: code 224 holds a FileRecordSummary made with new; every
// other payload is a guarded allocation.
void FreeItemPayload(FoundItem& item);
// Copies one 512-byte sector into a new guarded payload.
void* CopySectorPayload(const uint8_t* sector);

const FileRecordSummary* FileRecordOf(const FoundItem& item);
bool FileRecordNumber(const FoundItem& item, uint32_t& recordNumber);
bool FileRecordNameStartsWithMft(const FoundItem& item);  // "$M..."

class CScanCatalogue {
public:
    CScanCatalogue() = default;
    ~CScanCatalogue() { Clear(); }
    CScanCatalogue(const CScanCatalogue&) = delete;
    CScanCatalogue& operator=(const CScanCatalogue&) = delete;

    // Frees an earlier content and makes blockCount empty slots.
    void Reset(uint64_t blockCount);
    void Clear();
    uint64_t BlockCount() const { return slots_.size(); }

    // Stores the block's items as its list (an existing list is replaced and
    // its payloads freed); ownership of the payloads moves to the catalogue.
    void FileBlock(uint64_t blockIndex, std::vector<FoundItem>&& items);
    // Appends one item to its block's list (loading a scan-state file).
    void AppendItem(const FoundItem& item);
    const std::vector<FoundItem>* BlockItems(uint64_t blockIndex) const;
    size_t ItemCount() const;

    // A pending analysis has ended: the first item of the find's block with
    // the same LBA takes its final type, status and length (series kinds match
    // only their own kind; kinds 201 and 203 take the status and payload).
    void FinalisePendingFind(const SignatureFind& find);
    // Adapter for PendingFinds::Run (context is the catalogue).
    static void FinaliseCallback(void* context, const SignatureFind& find);

    // Copies of the items in block order; the copies still refer to the
    // catalogue's payloads.
    std::vector<FoundItem> Collect(bool structuresOnly, bool onlyInRecord, uint64_t recordStart,
                                   uint64_t recordSize) const;

private:
    std::vector<std::vector<FoundItem>> slots_;
};

}  // namespace kestrel
