#include "fs/export_times.h"

#include "app/text_utils.h"

namespace kestrel {

void SetExportTimes(OutputFile& out, const FileNode& node) {
    int64_t created = 0, modified = 0;
    if (node.created != 0 && PackedTimeToFileTime(node.created, created) &&
        PackedTimeToFileTime(node.modified, modified))
        out.SetTimes(created, modified);
}

}  // namespace kestrel
