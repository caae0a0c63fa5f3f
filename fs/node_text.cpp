#include "fs/node_text.h"

#include <cstdio>

#include "app/packed_time.h"

namespace kestrel {

const char* NodeStateName(const FileNode& node) {
    switch (NodeKind(node)) {
        case kDeletedFile:
            return "deleted-file";
        case kLiveFile:
            return "live-file";
        case kDeletedDir:
            return "deleted-dir";
        default:
            return "live-dir";
    }
}

std::string FormatNodeTime(uint32_t packed) {
    if (packed == 0) return "-";
    const CalendarTime t = UnpackTime(packed);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

}  // namespace kestrel
