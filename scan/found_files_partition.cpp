#include "scan/found_files_partition.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/guarded_memory.h"
#include "carving/signature_find.h"
#include "carving/type_catalogue.h"
#include "carving/type_ids.h"
#include "fs/file_node.h"
#include "fs/type_folders.h"
#include "scan/length_estimate.h"
#include "storage/part_builders.h"

namespace kestrel {
namespace {

constexpr uint32_t kSignatureLimit = 154;
constexpr uint64_t kFewestNodesToCompare = 12;
constexpr uint64_t kMostNodesToCompare = 8000000;

bool IsSignatureFind(const FoundItem& it) { return it.type < kSignatureLimit; }

uint64_t EndSector(const FoundItem& it) {
    const uint64_t len = it.FileLength();
    const uint64_t sectors = len / 512 + (len % 512 != 0);
    return sectors > UINT64_MAX - it.lba ? UINT64_MAX : it.lba + sectors;
}

// A folder slot that holds nothing: cleared so that linking passes over it.
void RemoveFolder(PartInfo& part, uint32_t id) {
    FileNode* n = GetNode(part, id);
    if (n == nullptr) return;
    GuardedFree(n->name);
    if (n->childIds) GuardedFree(n->childIds);
    *n = MakeNode();
}

}  // namespace

WString CarvedFileName(uint64_t lba, uint32_t typeId) {
    char digits[32];
    const uint32_t high = uint32_t(lba >> 32), low = uint32_t(lba);
    if (high != 0)
        std::snprintf(digits, sizeof digits, "%u_%08u.", high, low);
    else
        std::snprintf(digits, sizeof digits, "%08u.", low);
    WString name;
    for (const char* c = digits; *c != 0; ++c) name.push_back(char16_t(*c));
    name += TypeNameTable(typeId);
    return name;
}

void MarkNestedDuplicates(std::vector<FoundItem>& items) {
    for (size_t i = 0; i < items.size(); ++i) {
        const FoundItem& outer = items[i];
        if (!IsSignatureFind(outer) || outer.status != kFindComplete) continue;
        const uint64_t end = EndSector(outer);
        for (size_t j = i + 1; j < items.size() && items[j].lba < end; ++j) {
            FoundItem& inner = items[j];
            if (inner.type == outer.type && inner.status == kFindComplete &&
                EndSector(inner) <= end)
                inner.status = kFindRejected;
        }
    }
}

void MarkDuplicatesOfPartitionFiles(std::vector<FoundItem>& items,
                                    const std::vector<PartInfo>& partitions) {
    uint64_t total = 0;
    for (const PartInfo& p : partitions) total += p.nodeCount;
    if (total < kFewestNodesToCompare || total > kMostNodesToCompare) return;
    std::vector<std::pair<uint64_t, uint8_t>> files;
    for (const PartInfo& p : partitions) {
        // FAT and exFAT nodes keep their first cluster, not its LBA.
        uint64_t heap = 0;
        uint32_t spc = 0;
        const bool clusters = ClusterHeapOf(p, heap, spc);
        for (uint32_t id = 0; id < p.nodeCount; ++id) {
            const FileNode* n = GetNode(p, id);
            if (!n || IsDirectory(*n)) continue;
            uint64_t lba = n->locationLba;
            if (lba == 0 && clusters && n->firstCluster >= 2)
                lba = heap + uint64_t(n->firstCluster - 2) * spc;
            if (lba != 0) files.emplace_back(lba, n->typeId);
        }
    }
    std::sort(files.begin(), files.end());
    size_t k = 0;
    for (FoundItem& it : items) {
        if (!IsSignatureFind(it)) continue;
        while (k < files.size() && files[k].first < it.lba) ++k;
        for (size_t m = k; m < files.size() && files[m].first == it.lba; ++m) {
            if (files[m].second == it.type) {
                it.status = kFindRejected;
                break;
            }
        }
    }
}

FileNode CarvedFileNode(const PartInfo& found, const FoundItem& item,
                        uint32_t parentWithoutFolder) {
    const FileNode* folder = GetNode(found, item.type);
    FileNode n = MakeNode();
    n.parentId = folder != nullptr && IsDirectory(*folder) ? item.type : parentWithoutFolder;
    n.locationLba = item.lba;
    n.size = item.FileLength();
    n.typeId = item.type;
    n.name = CopyNodeName(CarvedFileName(item.lba, item.type));
    SetNodeKind(n, kLiveFile);
    n.flags |= kFlagListed;
    return n;
}

PartInfo BuildFoundFilesPartition(const std::vector<FoundItem>& items, const PartInfo& device,
                                  int32_t recoverMode) {
    BuildTypeCatalogue();
    PartInfo found = RecordOnDevice(device);
    found.fsKind = kFsFoundFiles;
    found.label = u"找到的文件";
    AddRootAndLostNodes(found);
    AddCategoryAndTypeFolders(found);

    std::vector<uint32_t> perType(kSignatureLimit, 0);
    for (const FoundItem& it : items) {
        if (!IsSignatureFind(it) || it.status == kFindRejected) continue;
        FileNode n = CarvedFileNode(found, it, kLostFilesNodeId);
        if (AddNode(found, n, false) != 0) ++perType[it.type];
    }
    for (uint32_t t = kFirstFileType; t <= kLastFileType; ++t)
        if (perType[t] == 0) RemoveFolder(found, t);
    LinkChildren(found);

    for (uint32_t c = kFirstCategory; c <= kLastCategory; ++c) {
        FileNode* cat = GetNode(found, c);
        if (cat == nullptr) continue;
        bool live = false;
        for (uint32_t k = 0; k < cat->childCount && !live; ++k) {
            const FileNode* child = GetNode(found, cat->childIds[k]);
            live = child && (NodeKind(*child) == kLiveFile || NodeKind(*child) == kLiveDir);
        }
        if (!live) SetNodeKind(*cat, kDeletedDir);
    }
    if (recoverMode == 1) {
        // Carved files of the free space are what was deleted: they show as
        // deleted files, their folders as deleted directories.
        for (uint32_t id = kFirstCategory; id < found.nodeCount; ++id)
            if (FileNode* n = GetNode(found, id)) n->flags ^= kFlagInUse;
    }
    if (FileNode* root = GetNode(found, kRootNodeId)) root->flags |= kFlagListed;
    return found;
}

}  // namespace kestrel
