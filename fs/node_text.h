#pragma once
// How a node is named in listings: its state word and its modification time.
#include <cstdint>
#include <string>

#include "fs/file_node.h"

namespace kestrel {

// "live-file", "live-dir", "deleted-file" or "deleted-dir".
const char* NodeStateName(const FileNode& node);

// "YYYY-MM-DD HH:MM:SS" of a PackedTime, or "-" for an unknown time.
std::string FormatNodeTime(uint32_t packed);

}  // namespace kestrel
