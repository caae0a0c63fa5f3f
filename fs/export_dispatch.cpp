#include "fs/export_dispatch.h"

#include "fs/exfat_data.h"
#include "fs/fat_data.h"
#include "fs/ntfs_data.h"

namespace kestrel {

bool CanExportKind(uint32_t fsKind) {
    switch (fsKind) {
        case kFsNtfs:
        case kFsFat16:
        case kFsFat32:
        case kFsFatDirs:
        case kFsExfat:
        case kFsExfatDirs:
            return true;
        default:
            return false;
    }
}

bool ExportNodeData(OutputFile& out, PartInfo& part, ScanState& state, const FileNode& node,
                    ProgressSnapshot& progress, ReadErrorPolicy policy) {
    if (IsDirectory(node)) return false;
    switch (part.fsKind) {
        case kFsNtfs:
            return ExportNtfsFile(out, part, state, node, progress, policy);
        case kFsFat16:
        case kFsFat32:
            return ExportFatFile(out, part, state, node, progress, policy);
        case kFsFatDirs:
            return ExportFatDirFile(out, part, state, node, progress, policy);
        case kFsExfat:
        case kFsExfatDirs:
            return ExportExfatFile(out, part, state, node, progress, policy);
        default:
            return false;
    }
}

}  // namespace kestrel
