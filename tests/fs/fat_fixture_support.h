#pragma once
// Loading the FAT fixtures, listing what the reader built, and reading the
// manifests the fixture scripts wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/packed_time.h"
#include "fs/fat_data.h"
#include "fs/fat_reader.h"
#include "fs/file_node.h"
#include "fs/node_text.h"
#include "platform/wide_text.h"
#include "storage/image_partitions.h"
#include "tests/support/fixture.h"
#include "tests/support/manifest.h"

namespace kestrel::test {

inline std::vector<uint8_t> ReadFileBytes(const std::string& path, uint64_t offset = 0,
                                          size_t count = SIZE_MAX) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(0, std::ios::end);
    const uint64_t size = uint64_t(in.tellg());
    if (offset >= size) return {};
    const size_t n = size_t(std::min<uint64_t>(count, size - offset));
    std::vector<uint8_t> out(n);
    in.seekg(std::streamoff(offset));
    in.read(reinterpret_cast<char*>(out.data()), std::streamsize(n));
    return out;
}

// Volume 0 of an image as partition discovery sees it.
inline bool LoadFatPart(const std::string& image, PartInfo& part) {
    return FindImagePartition(Utf16FromUtf8(image), 0, part) && part.fsKind != kFsUnknown;
}

using kestrel::FormatNodeTime;
using kestrel::NodeStateName;

// Every node below the root (the lost-files folder included), by path.
inline std::map<std::string, uint32_t> ListPaths(PartInfo& part) {
    std::map<std::string, uint32_t> out;
    struct Item {
        uint32_t id;
        std::string path;
        int depth;
    };
    std::vector<Item> stack{{kRootNodeId, "", 0}};
    while (!stack.empty()) {
        Item it = stack.back();
        stack.pop_back();
        const FileNode* n = GetNode(part, it.id);
        if (!n || it.depth > 200) continue;
        for (uint32_t i = 0; i < n->childCount; ++i) {
            const uint32_t child = n->childIds[i];
            const FileNode* c = GetNode(part, child);
            if (!c) continue;
            const std::string name = Utf8FromWide(c->name);
            const std::string path = it.path.empty() ? name : it.path + "/" + name;
            out[path] = child;
            stack.push_back({child, path, it.depth + 1});
        }
    }
    return out;
}

struct Exported {
    bool ok = false;
    std::vector<uint8_t> bytes;
};

using ExportFn = bool (*)(OutputFile&, PartInfo&, ScanState&, const FileNode&, ProgressSnapshot&,
                          ReadErrorPolicy);
using ExportFromFn = bool (*)(SectorSource&, OutputFile&, PartInfo&, ScanState&, const FileNode&,
                              ProgressSnapshot&, ReadErrorPolicy);

// Exports one node through a reader's export path (its own source, or the
// given one with injected faults) into a temporary file and reads it back.
inline Exported ExportThrough(ExportFn plain, ExportFromFn from, PartInfo& part,
                              const FileNode& node, ReadErrorPolicy policy, SectorSource* src,
                              int32_t stateValue) {
    static int counter = 0;
    const std::string path = TempDir("export") + "/f" + std::to_string(counter++);
    Exported e;
    {
        OutputFile out;
        if (!out.Create(path)) return e;
        ScanState state{stateValue};
        ProgressSnapshot progress;
        progress.phase = kPhaseExport;
        e.ok = src ? from(*src, out, part, state, node, progress, policy)
                   : plain(out, part, state, node, progress, policy);
    }
    e.bytes = ReadFileBytes(path);
    return e;
}

inline Exported ExportNode(PartInfo& part, const FileNode& node, ReadErrorPolicy policy,
                           SectorSource* src = nullptr, int32_t stateValue = kScanRunning) {
    return ExportThrough(ExportFatFile, ExportFatFileFrom, part, node, policy, src, stateValue);
}

// A partition read from a fixture, freed at the end.
struct ReadFatFixture {
    PartInfo part;
    bool ok = false;
    std::string image;
    explicit ReadFatFixture(const std::string& img, int32_t stateValue = kScanRunning)
        : image(img) {
        if (!LoadFatPart(image, part)) return;
        ScanState state{stateValue};
        ok = ReadFatPartition(part, state);
    }
    ~ReadFatFixture() { FreeTable(part); }
    const FileNode* Find(const std::string& path) {
        auto paths = ListPaths(part);
        auto it = paths.find(path);
        return it == paths.end() ? nullptr : GetNode(part, it->second);
    }
};

}  // namespace kestrel::test
