#pragma once
// Reading the NTFS fixture and exporting its nodes in the NTFS reader tests.
#include <gtest/gtest.h>

#include <string>

#include "fat_fixture_support.h"
#include "fs/ntfs_data.h"
#include "fs/ntfs_reader.h"

namespace kestrel::test {

inline Exported ExportNtfsNode(PartInfo& part, const FileNode& node, ReadErrorPolicy policy,
                               SectorSource* src = nullptr, int32_t stateValue = kScanRunning) {
    return ExportThrough(ExportNtfsFile, ExportNtfsFileFrom, part, node, policy, src, stateValue);
}

// The volume of an image file, read into a node table that is freed at the end.
struct ReadNtfsImage {
    PartInfo part;
    bool found = false;
    bool ok = false;
    explicit ReadNtfsImage(const std::string& image, int32_t stateValue = kScanRunning) {
        found = FindImagePartition(Utf16FromUtf8(image), 0, part);
        if (!found) return;
        ScanState state{stateValue};
        ok = ReadNtfsPartition(part, state);
    }
    ~ReadNtfsImage() { FreeTable(part); }
    const FileNode* Find(const std::string& path) {
        auto paths = ListPaths(part);
        auto it = paths.find(path);
        return it == paths.end() ? nullptr : GetNode(part, it->second);
    }
};

}  // namespace kestrel::test
