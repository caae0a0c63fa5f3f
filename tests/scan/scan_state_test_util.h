#pragma once
// Comparing catalogues and block maps in the scan-state tests: item by item,
// payloads included.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/guarded_memory.h"
#include "fs/ntfs_record_summary.h"
#include "scan/block_schedule.h"
#include "scan/scan_catalogue.h"

namespace kestrel::test {

// The payload as comparable bytes: the summary's fields for a file record,
// the allocation's bytes otherwise.
inline std::vector<uint8_t> PayloadBytes(const FoundItem& it) {
    if (!it.data) return {};
    std::vector<uint8_t> out;
    if (const FileRecordSummary* s = FileRecordOf(it)) {
        auto put = [&out](uint64_t v, int n) {
            for (int i = 0; i < n; ++i) out.push_back(uint8_t(v >> (8 * i)));
        };
        put(s->parentRecord, 4);
        put(s->recordNumber, 4);
        put(s->size, 8);
        put(s->allocatedSize, 8);
        put(s->flags, 1);
        put(s->name.size(), 4);
        for (char16_t c : s->name) put(c, 2);
        out.insert(out.end(), s->runList.begin(), s->runList.end());
        return out;
    }
    const uint8_t* p = static_cast<const uint8_t*>(it.data);
    return std::vector<uint8_t>(p, p + GuardedSize(it.data));
}

inline void ExpectSameCatalogue(const CScanCatalogue& a, const CScanCatalogue& b) {
    ASSERT_EQ(a.BlockCount(), b.BlockCount());
    for (uint64_t blk = 0; blk < a.BlockCount(); ++blk) {
        const std::vector<FoundItem>* la = a.BlockItems(blk);
        const std::vector<FoundItem>* lb = b.BlockItems(blk);
        ASSERT_EQ(la == nullptr, lb == nullptr) << "block " << blk;
        if (!la) continue;
        ASSERT_EQ(la->size(), lb->size()) << "block " << blk;
        for (size_t i = 0; i < la->size(); ++i) {
            const FoundItem& x = (*la)[i];
            const FoundItem& y = (*lb)[i];
            EXPECT_EQ(x.type, y.type) << "block " << blk << " item " << i;
            EXPECT_EQ(x.status, y.status) << "block " << blk << " item " << i;
            EXPECT_EQ(x.lba, y.lba) << "block " << blk << " item " << i;
            EXPECT_EQ(x.payload, y.payload) << "block " << blk << " item " << i;
            EXPECT_EQ(x.extra, y.extra) << "block " << blk << " item " << i;
            EXPECT_EQ(PayloadBytes(x), PayloadBytes(y)) << "block " << blk << " item " << i;
        }
    }
}

inline std::vector<uint8_t> MapBytes(const CScanBlockMap& m) {
    return std::vector<uint8_t>(m.Bytes(), m.Bytes() + m.Count());
}

}  // namespace kestrel::test
