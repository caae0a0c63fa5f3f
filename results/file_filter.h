#pragma once
// The file filter: keywords and extensions, a size range and date ranges;
// the per-node test that sets FilterMatch and the command that applies a
// filter to the whole result set.
#include <cstdint>
#include <vector>

#include "fs/file_node.h"
#include "fs/result_set.h"
#include "platform/wide_text.h"

namespace kestrel {

struct FileFilter {
    WString text;
    uint32_t sizeMinKb = 0;
    uint32_t sizeMaxKb = 0x8000000;
    uint32_t createdFrom = 0, createdTo = 0;
    uint32_t modifiedFrom = 0, modifiedTo = 0;
    uint32_t accessedFrom = 0, accessedTo = 0;
    std::vector<WString> keywords;
    std::vector<WString> extensions;  // each a dot and the extension
};

// The process-wide settings (defaults set on first use: the lower bounds
// 1980-01-01 00:00:00, the upper bounds today 23:59:59).
FileFilter& RunFileFilter();
// Copies the text and the eight values and rebuilds both lists.
void StoreFilter(const FileFilter& edited);
// Empty when valid; otherwise the message to show.
WString ValidateFilterText(const WString& text);
bool TestNode(FileNode& node);
bool ApplyFilter(ResultSet& rs);

// The same on a filter of the caller's own (the command line narrows an
// export with one without touching the process-wide settings).
// RebuildFilterLists splits text into keywords and extensions: parts between
// ";", a part longer than 2 characters that starts with "*." is an
// extension (".ext"), every other non-empty part a keyword.
void RebuildFilterLists(FileFilter& filter);
bool TestNode(const FileFilter& filter, FileNode& node);
bool ApplyFilter(ResultSet& rs, const FileFilter& filter);
// A filter with the defaults: every size, lower bounds 1980-01-01 00:00:00,
// upper bounds today 23:59:59.
FileFilter DefaultFileFilter();

// The filter command after the dialog's OK: validates, stores and applies the
// settings, switches the view state to the filtered view (-1) and sends 1228
// with the first matching slot from 4 on, which firstSlot receives. Returns
// the message to show, empty on success; on any message the view state is
// what it was before.
WString RunFilterCommand(ResultSet& rs, const FileFilter& filter, uint32_t& firstSlot);

}  // namespace kestrel
