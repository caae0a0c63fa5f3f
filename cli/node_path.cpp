#include "cli/node_path.h"

#include <cstdio>
#include <vector>

#include "app/scan_state.h"
#include "fs/partition_tree.h"
#include "platform/wide_text.h"
#include "storage/image_partitions.h"

namespace kestrel::cli {

namespace {

// A tree this deep is damage; the bound keeps the walk off a cycle and the stack.
constexpr size_t kMaxDepth = 512;

}  // namespace

// A name from disk may hold tabs or line breaks, which would split or forge
// lines of the listing; they print as '?', and cat matches the printed form.
std::string PrintableName(const char16_t* name) {
    std::string text = Utf8FromWide(name);
    for (char& c : text)
        if ((unsigned char)c < 0x20 || c == 0x7F) c = '?';
    return text;
}

void VisitNodePaths(PartInfo& part,
                    const std::function<void(const FileNode&, const std::string&)>& visit) {
    struct Frame {
        uint32_t id;
        uint32_t next;  // index of the next child to visit
        std::string prefix;
    };
    const FileNode* root = GetNode(part, kRootNodeId);
    if (!root) return;
    std::vector<bool> seen(part.nodeCount, false);
    seen[kRootNodeId] = true;
    std::vector<Frame> stack{{kRootNodeId, 0, ""}};
    while (!stack.empty()) {
        Frame& f = stack.back();
        const FileNode* dir = GetNode(part, f.id);
        if (!dir || f.next >= dir->childCount) {
            stack.pop_back();
            continue;
        }
        const uint32_t childId = dir->childIds[f.next++];
        const FileNode* child = GetNode(part, childId);
        if (!child || seen[childId]) continue;
        seen[childId] = true;
        if (childId == kLostFilesNodeId && child->childCount == 0) continue;
        const std::string path = f.prefix + PrintableName(child->name);
        visit(*child, path);
        if (IsDirectory(*child) && child->childCount > 0 && stack.size() < kMaxDepth)
            stack.push_back({childId, 0, path + "/"});
    }
}

const FileNode* FindFileByPath(PartInfo& part, const std::string& path) {
    const FileNode* found = nullptr;
    VisitNodePaths(part, [&](const FileNode& n, const std::string& p) {
        if (IsDirectory(n) || p != path) return;
        if (!found || (NodeKind(n) == kLiveFile && NodeKind(*found) != kLiveFile)) found = &n;
    });
    return found;
}

bool OpenAndReadPartition(const std::string& command, const std::string& image, uint32_t number,
                          PartInfo& part) {
    if (!FindImagePartition(Utf16FromUtf8(image), number, part)) {
        std::fprintf(stderr,
                     "kestrel-cli %s: '%s' has no partition %u (see kestrel-cli partitions)\n",
                     command.c_str(), image.c_str(), number);
        return false;
    }
    ScanState state{kScanRunning};
    if (!ReadPartitionTree(part, state)) {
        std::fprintf(stderr,
                     "kestrel-cli %s: partition %u of '%s' holds no readable NTFS, FAT or "
                     "exFAT file system\n",
                     command.c_str(), number, image.c_str());
        FreeTable(part);
        return false;
    }
    return true;
}

}  // namespace kestrel::cli
