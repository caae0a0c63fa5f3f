#pragma once
// The times an exported file takes from its node.
#include "fs/file_node.h"
#include "platform/output_file.h"

namespace kestrel {

// Sets the output's times from the node's created and modified (local
// times) when created is known and both convert.
void SetExportTimes(OutputFile& out, const FileNode& node);

}  // namespace kestrel
