#pragma once
// Paths of the nodes of a read partition, as kestrel-cli prints and takes
// them: the names from the root down joined with "/", the root itself not
// named, control characters of names shown as '?'. Shared by ls and cat.
#include <cstdint>
#include <functional>
#include <string>

#include "fs/file_node.h"
#include "fs/node_text.h"
#include "storage/part_info.h"

namespace kestrel::cli {

// A node name as listings print it: UTF-8, control characters as '?'.
std::string PrintableName(const char16_t* name);

// Calls visit for every node below the root, depth first in child order,
// with its path. The lost-files folder is skipped while it holds nothing.
void VisitNodePaths(PartInfo& part,
                    const std::function<void(const FileNode&, const std::string&)>& visit);

// The file (not directory) with this path; a live one wins over deleted ones
// of the same path. Null when none.
const FileNode* FindFileByPath(PartInfo& part, const std::string& path);

// Opens partition `number` of an image (0: the volume at LBA 0) and reads
// its file system into part's node table. On failure prints why to stderr
// (prefixed with command) and returns false.
bool OpenAndReadPartition(const std::string& command, const std::string& image, uint32_t number,
                          PartInfo& part);

}  // namespace kestrel::cli
