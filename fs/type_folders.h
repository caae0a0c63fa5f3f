#pragma once
// The folder skeleton by file type that the type view and the found-files
// partition share: one folder per category (id = category id, below the
// root) and one per file type (id = type id, below its category, named by
// the type's default extension).
#include <cstdint>

#include "platform/wide_text.h"
#include "storage/part_info.h"

namespace kestrel {

// Adds a live folder (without linking) with the given id, parent and name.
void AddFolderNode(PartInfo& part, uint32_t id, uint32_t parent, WStringView name);

// Adds the category folders, then the type folders in id order, as live
// directories without linking. The table must hold the root and lost-files
// nodes already; the type catalogue must be built.
void AddCategoryAndTypeFolders(PartInfo& part);

}  // namespace kestrel
