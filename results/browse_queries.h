#pragma once
// What the browser (and the export, and the command line) asks of a result
// set: labels, visible children, paths, check states. Every query honours
// visibility (Listed, or FilterMatch while a filter is active).
#include <cstdint>
#include <vector>

#include "fs/result_set.h"
#include "platform/wide_text.h"

namespace kestrel {

// The partition list's text for a slot or a classification tree; also the
// name of the partition's folder in an export.
WString PartitionLabel(ResultSet& rs, TreeRow row);
// A file's name, or "%s     (%u个文件)" for a directory; checkState receives
// the node's check state.
WString NodeText(ResultSet& rs, TreeRow row, uint32_t id, uint32_t& checkState);

FileNode* ResolveVisible(ResultSet& rs, TreeRow row, uint32_t id);
std::vector<uint32_t> VisibleChildren(ResultSet& rs, TreeRow row, uint32_t id,
                                      bool directoriesWithChildrenOnly = false);
bool HasVisibleSubfolders(ResultSet& rs, TreeRow row, uint32_t id);
std::vector<uint32_t> PathToRoot(ResultSet& rs, TreeRow row, uint32_t id);
// Sends 1224 (row, id) to the observers when the node is a directory.
bool OpenFolder(ResultSet& rs, TreeRow row, uint32_t id);
uint32_t FirstImage(ResultSet& rs, TreeRow row, const std::vector<uint32_t>& ids);
void SetCheckStateBelow(ResultSet& rs, TreeRow row, uint32_t id, uint32_t state);

}  // namespace kestrel
