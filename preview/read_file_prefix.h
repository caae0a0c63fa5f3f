#pragma once
// The first bytes of a recovered file, read by the reader of the partition
// that holds it, for the preview.
#include <cstdint>

#include "fs/file_node.h"
#include "storage/part_info.h"

namespace kestrel {

// Fills dest with the first min(byteCount, node.size) bytes of the file. True
// only when all of them were read; false for a directory, a kind without a
// reader, a failed read, and for a carved file that would run past the
// device's end. Never reads beyond the file or the device.
bool ReadFilePrefix(PartInfo& part, const FileNode& node, uint32_t byteCount, uint8_t* dest);

}  // namespace kestrel
