#pragma once
// Exporting one node through its partition's reader, for tests that compare
// what comes back with a manifest.
#include <string>

#include "app/progress.h"
#include "app/scan_state.h"
#include "fat_fixture_support.h"
#include "fat_sha256.h"
#include "fs/export_dispatch.h"
#include "platform/output_file.h"

namespace kestrel::test {

// The sha256 of what the export of node wrote to path; empty when the export
// failed.
inline std::string ExportedSha256(PartInfo& part, const FileNode& node, const std::string& path) {
    {
        OutputFile f;
        if (!f.Create(path)) return "";
        ScanState state{kScanRunning};
        ProgressSnapshot progress;
        if (!ExportNodeData(f, part, state, node, progress, kClearFile)) return "";
    }
    return Sha256Hex(ReadFileBytes(path));
}

}  // namespace kestrel::test
