#pragma once
// The partitions of a disk-image file, as every command-line tool numbers
// them. Number 0 is always the volume at LBA 0 (the whole image); numbers
// 1.. are the partitions in table order: the four MBR slots, then the
// logical partitions of the extended chain, or for a protective MBR the
// GPT entries. A bare volume image (sector 0 a boot sector) lists only 0,
// and FindImagePartition gives that volume for number 1 too: it is the one
// partition such an image has.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/wide_text.h"
#include "storage/part_info.h"

namespace kestrel {

// Index in the result = partition number. Empty when the image cannot be
// opened or holds less than one sector.
// typeTexts, when given, receives one text per entry: the MBR type byte as
// two hex digits, or the GPT partition type GUID.
std::vector<PartInfo> ListImagePartitions(const WString& imagePath,
                                          std::vector<std::string>* typeTexts = nullptr);
// True for the listing of a bare volume image: one entry, a recognised volume.
bool IsBareVolumeListing(const std::vector<PartInfo>& parts);
bool FindImagePartition(const WString& imagePath, uint32_t number, PartInfo& out);

}  // namespace kestrel
