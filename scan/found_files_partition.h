#pragma once
// "找到的文件": the pseudo partition of files found only by their signature,
// one folder per category and file type, and the passes that keep a file
// from being listed twice.
#include <cstdint>
#include <vector>

#include "fs/file_node.h"
#include "platform/wide_text.h"
#include "scan/found_item.h"
#include "storage/part_info.h"

namespace kestrel {

// "%08u.%s" from the LBA and the type's short name, "%u_%08u.%s" when the
// LBA needs more than 32 bits.
WString CarvedFileName(uint64_t lba, uint32_t typeId);

// The listed live-file node of a carved find, below its type folder in found
// or, when that folder is absent, below parentWithoutFolder. The caller adds
// it (the table takes over its name).
FileNode CarvedFileNode(const PartInfo& found, const FoundItem& item, uint32_t parentWithoutFolder);

// items in LBA order. A find of known length (status 4) swallows every later
// find of its type and known length that lies wholly inside it: those get
// status 5.
void MarkNestedDuplicates(std::vector<FoundItem>& items);

// items in LBA order. A signature find starting where a file of the same type
// of one of the partitions starts gets status 5 (FAT and exFAT files start
// at their first cluster). Only done when the partitions hold 12 to
// 8,000,000 nodes in all.
void MarkDuplicatesOfPartitionFiles(std::vector<FoundItem>& items,
                                    const std::vector<PartInfo>& partitions);

// The found-files partition from the (already filtered and length-estimated)
// items: the folder skeleton, one listed file per signature find not marked
// 5, empty type folders removed, and in RecoverMode 1 the in-use bits of
// everything below the root inverted. The caller owns the table.
PartInfo BuildFoundFilesPartition(const std::vector<FoundItem>& items, const PartInfo& device,
                                  int32_t recoverMode);

}  // namespace kestrel
