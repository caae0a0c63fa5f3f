#pragma once
// Turning one fixed-up 1 KiB NTFS FILE record into a node of the recovered-
// file tree. Shared by the MFT reader and the deep-scan builders.
#include <cstdint>

#include "fs/file_node.h"
#include "storage/part_info.h"

namespace kestrel {

// Fills node from record (1024 bytes, fix-up already applied): id = record
// number, parent, kind, times, size, resident flag, a copy of the first $DATA
// run list, and the name. The runs of an $INDEX_ALLOCATION are registered as
// known index extents. Metadata files (system records named "$...") are
// rejected unless keepSystemFiles; "$RECYCLE.BIN" becomes "回收站". On success
// node owns a guarded name (never null) and maybe a run list; on failure it
// owns nothing.
bool ParseFileRecord(const uint8_t* record, PartInfo& part, FileNode& node, bool keepSystemFiles);

// Frees the name and run list a parsed node owns (for a node that is not
// handed to the table after all).
void ReleaseParsedNode(FileNode& node);

}  // namespace kestrel
