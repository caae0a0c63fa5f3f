#include <optional>

#include "app/scan_state.h"
#include "carving/type_ids.h"
#include "fs/ntfs_known_extents.h"
#include "scan/scan_session.h"
#include "scan/sector_classifier.h"

namespace kestrel {
namespace {

constexpr uint32_t kFileTypeLimit = 154;

bool IsLiveBootRecord(uint32_t code) {
    return code == kCodeNtfsBoot || code == kCodeFat32Boot || code == kCodeExfatBoot;
}

// File records inside the file-record area of a partition already read are
// that partition's own; the area last found is kept for the next sectors,
// which are almost always in it too.
struct KnownAreaCache {
    bool valid = false;
    uint64_t first = 0;
    uint64_t count = 0;

    bool Contains(uint64_t lba) {
        if (valid && lba >= first && lba - first < count) return true;
        const std::optional<NtfsExtent> e = FindKnownMftExtent(lba);
        if (!e) return false;
        valid = true;
        first = e->startLba;
        count = e->sectors;
        return true;
    }
};

}  // namespace

int StructureCounterIndex(uint32_t code) {
    switch (code) {
        case kCodeEbr:
            return 0;
        case kCodeNtfsBoot:
            return 1;
        case kCodeFat16Boot:
        case kCodeFat32Boot:
            return 2;
        case kCodeExfatBoot:
            return 3;
        case kCodeFileRecord:
            return 4;
        case kCodeFatDir:
            return 5;
        case kCodeIndexBlock:
            return 6;
        case kCodeExfatDir:
            return 7;
        default:
            return -1;
    }
}

void ProcessBlock(ScanSession& s, BlockBuffer& block, ScanState& state) {
    const uint64_t blockLba = block.Lba();
    const uint8_t* data = block.Data();
    const bool live = IsOn(s.options.showWhileScanning);
    DeepScanProgress& counters = s.progress.scan;
    KnownAreaCache known;
    std::vector<FoundItem> items;
    uint32_t fileRecords = 0;

    ItemContext ctx;
    ctx.blockData = data;
    ctx.blockBytes = kBlockDataBytes;
    ctx.blockLba = blockLba;
    ctx.scanned = &s.scanned;
    ctx.schedule = &s.schedule;

    for (uint32_t i = 0; i < kScanBlockSectors; ++i) {
        const uint8_t* sector = data + size_t(i) * 512;
        const uint64_t lba = blockLba + i;
        uint32_t typeId = NO_TYPE;
        if (SniffFileSignature(sector, typeId)) {
            SignatureFind find{};
            find.typeId = typeId;
            find.startSector = lba;
            AnalyzeSignatureFind(data, kBlockDataBytes, find, blockLba);
            if (find.status == kFindPending) s.pending.Queue(find);
            FoundItem item;
            item.type = uint8_t(find.typeId);
            item.status = uint8_t(find.status);
            item.lba = lba;
            item.SetFileLength(find.length);
            items.push_back(item);
            if (find.typeId < kFileTypeLimit) ++counters.signatureFiles;
            continue;
        }
        const uint32_t code = ClassifySector(sector, lba);
        if (code == kCodeNothing) continue;
        if (code == kCodeFileRecord && known.Contains(lba)) continue;
        ctx.sectorIndex = i;
        std::optional<FoundItem> item = MakeItem(code, ctx);
        if (!item) continue;
        items.push_back(*item);
        const int counter = StructureCounterIndex(code);
        if (counter >= 0) ++counters.structures[counter];
        if (code == kCodeFileRecord) ++fileRecords;
        if (live && IsLiveBootRecord(code) && s.hooks.liveBootRecord)
            s.hooks.liveBootRecord(s, items.back(), state);
    }

    if (live && s.hooks.liveBlockEnd) s.hooks.liveBlockEnd(s, blockLba, fileRecords, items);
    // The block's items are filed before the pending finds run, so that a find
    // of this very block that completes now finds its item.
    const uint64_t index = blockLba >> kScanBlockShift;
    const bool produced = !items.empty();
    s.catalogue.FileBlock(index, std::move(items));
    if (s.pending.Prune(blockLba))
        s.pending.Run(data, blockLba, &CScanCatalogue::FinaliseCallback, &s.catalogue);
    const std::vector<FoundItem>* filed = s.catalogue.BlockItems(index);
    if (live && filed && s.hooks.liveSignatureFinds)
        s.hooks.liveSignatureFinds(s, blockLba, *filed);

    s.schedule.map.Set(index, kBlockProcessed);
    if (s.schedule.smartScan && produced && filed)
        FollowPointers(s.schedule, filed->data(), filed->size(), s.hooks.mftStart);

    counters.doneSectors += kScanBlockSectors;
    s.processedBlocks.push_back(blockLba);
    PostProgress(s.progress);
}

}  // namespace kestrel
