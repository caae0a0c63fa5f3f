#include "results/file_filter.h"

#include <algorithm>

#include "app/packed_time.h"
#include "results/filter_dialog.h"

namespace kestrel {
namespace {

constexpr char16_t kNoMatchAtAll[] = u"没有任何文件符合您设置的过滤条件，请重新设置过滤条件！";
constexpr char16_t kNoPartitionMatches[] = u"没有文件符合您的过滤条件！";

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

bool SameFolded(const char16_t* a, const char16_t* b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

bool ContainsFolded(WStringView hay, const WString& needle) {
    if (needle.size() > hay.size()) return false;
    for (size_t at = 0; at + needle.size() <= hay.size(); ++at) {
        if (SameFolded(hay.data() + at, needle.data(), needle.size())) return true;
    }
    return false;
}

bool EndsWithFolded(WStringView name, const WString& tail) {
    return tail.size() <= name.size() &&
           SameFolded(name.data() + (name.size() - tail.size()), tail.data(), tail.size());
}

bool NamePasses(const FileFilter& f, const FileNode& node) {
    if ((f.keywords.empty() && f.extensions.empty()) || node.created == 0) return true;
    WStringView name(node.name);
    for (const WString& k : f.keywords)
        if (ContainsFolded(name, k)) return true;
    for (const WString& e : f.extensions)
        if (EndsWithFolded(name, e)) return true;
    return false;
}

bool InRange(uint32_t v, uint32_t from, uint32_t to) { return v >= from && v <= to; }

// Directories take FilterMatch from their children, bottom-up from the root.
// Iterative, and each node is entered once, so damaged child lists that loop
// or share children cannot hang the pass.
void PropagateToDirectories(PartInfo& part) {
    struct Frame {
        uint32_t id;
        uint32_t next;
        bool any;
    };
    uint32_t count = std::min(part.nodeCount, part.nodeCapacity);
    FileNode* root = GetNode(part, kRootNodeId);
    if (root == nullptr || !IsDirectory(*root)) return;
    std::vector<uint8_t> seen(count, 0);
    std::vector<Frame> stack{Frame{kRootNodeId, 0, false}};
    seen[kRootNodeId] = 1;
    while (!stack.empty()) {
        Frame& top = stack.back();
        FileNode* n = GetNode(part, top.id);
        if (n != nullptr && n->childIds != nullptr &&
            top.next < std::min(n->childCount, n->childCapacity)) {
            uint32_t childId = n->childIds[top.next++];
            FileNode* child = childId < count && !seen[childId] ? GetNode(part, childId) : nullptr;
            if (child == nullptr) continue;
            seen[childId] = 1;
            if (IsDirectory(*child)) {
                stack.push_back(Frame{childId, 0, false});
            } else if (child->flags & kFlagFilterMatch) {
                top.any = true;
            }
            continue;
        }
        Frame done = top;
        stack.pop_back();
        if (n != nullptr) {
            if (done.any) {
                n->flags |= kFlagFilterMatch;
            } else {
                n->flags &= uint16_t(~kFlagFilterMatch);
            }
        }
        if (!stack.empty() && done.any) stack.back().any = true;
    }
}

}  // namespace

FileFilter DefaultFileFilter() {
    FileFilter f;
    CalendarTime today = UnpackTime(PackedTimeNow());
    uint32_t from = FilterDateBound(1980, 1, 1, false);
    uint32_t to = FilterDateBound(today.year, today.month, today.day, true);
    f.createdFrom = f.modifiedFrom = f.accessedFrom = from;
    f.createdTo = f.modifiedTo = f.accessedTo = to;
    return f;
}

FileFilter& RunFileFilter() {
    static FileFilter settings = DefaultFileFilter();
    return settings;
}

void RebuildFilterLists(FileFilter& filter) {
    filter.keywords.clear();
    filter.extensions.clear();
    const WString& text = filter.text;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u';', start);
        if (end == WString::npos) end = text.size();
        WString part = text.substr(start, end - start);
        if (part.size() > 2 && part[0] == u'*' && part[1] == u'.') {
            filter.extensions.push_back(part.substr(1));
        } else if (!part.empty()) {
            filter.keywords.push_back(part);
        }
        start = end + 1;
    }
}

void StoreFilter(const FileFilter& edited) {
    FileFilter& f = RunFileFilter();
    f.text = edited.text;
    f.sizeMinKb = edited.sizeMinKb;
    f.sizeMaxKb = edited.sizeMaxKb;
    f.createdFrom = edited.createdFrom;
    f.createdTo = edited.createdTo;
    f.modifiedFrom = edited.modifiedFrom;
    f.modifiedTo = edited.modifiedTo;
    f.accessedFrom = edited.accessedFrom;
    f.accessedTo = edited.accessedTo;
    RebuildFilterLists(f);
}

WString ValidateFilterText(const WString& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'|') return u"多个关键字请用';'隔开！";
        bool strayStar = c == u'*' && (i + 1 >= text.size() || text[i + 1] != u'.');
        bool strayDot = c == u'.' && (i == 0 || text[i - 1] != u'*');
        if (strayStar || strayDot) return u"只支持通配符 *.扩展名";
    }
    return WString();
}

bool TestNode(const FileFilter& filter, FileNode& node) {
    node.flags &= uint16_t(~kFlagFilterMatch);
    if ((node.flags & kFlagListed) == 0 || IsDirectory(node) || node.name == nullptr) return false;
    uint32_t sizeKb = uint32_t(node.size / 1024);
    if (!InRange(sizeKb, filter.sizeMinKb, filter.sizeMaxKb)) return false;
    if (!NamePasses(filter, node)) return false;
    if (node.created != 0) {
        if (!InRange(node.created, filter.createdFrom, filter.createdTo)) return false;
        // An unknown modification time is no reason to hide a file whose
        // creation time is known: like an unknown creation time, it passes.
        if (node.modified != 0 && !InRange(node.modified, filter.modifiedFrom, filter.modifiedTo)) {
            return false;
        }
    }
    node.flags |= kFlagFilterMatch;
    return true;
}

bool TestNode(FileNode& node) { return TestNode(RunFileFilter(), node); }

bool ApplyFilter(ResultSet& rs, const FileFilter& filter) {
    if (rs.partitions == nullptr) return false;
    bool anyRoot = false;
    uint32_t used = std::min(rs.partitionCount, kPartitionSlots);
    for (uint32_t slot = kFoundFilesSlot; slot < used; ++slot) {
        PartInfo& part = rs.partitions[slot];
        uint32_t count = std::min(part.nodeCount, part.nodeCapacity);
        for (uint32_t id = 1; id < count; ++id) {
            if (FileNode* n = GetNode(part, id)) TestNode(filter, *n);
        }
        PropagateToDirectories(part);
        const FileNode* root = GetNode(part, kRootNodeId);
        if (root == nullptr || (root->flags & kFlagFilterMatch) == 0) continue;
        if (rs.filterState == kFilterActive || (root->flags & kFlagListed) != 0) anyRoot = true;
    }
    return anyRoot;
}

bool ApplyFilter(ResultSet& rs) { return ApplyFilter(rs, RunFileFilter()); }

WString RunFilterCommand(ResultSet& rs, const FileFilter& filter, uint32_t& firstSlot) {
    firstSlot = 0;
    WString invalid = ValidateFilterSettings(filter);
    if (!invalid.empty()) return invalid;
    StoreFilter(filter);
    if (!ApplyFilter(rs)) return kNoMatchAtAll;

    int32_t previous = rs.filterState;
    rs.filterState = kFilterActive;
    uint32_t used = rs.partitions == nullptr ? 0 : std::min(rs.partitionCount, kPartitionSlots);
    for (uint32_t slot = kFirstReadSlot; slot < used; ++slot) {
        const FileNode* root = GetNode(rs.partitions[slot], kRootNodeId);
        if (root != nullptr && IsNodeVisible(rs, *root) && (root->flags & kFlagFilterMatch)) {
            firstSlot = slot;
            NotifyObservers(rs, kMsgFilterApplied, slot, 0);
            return WString();
        }
    }
    // Matches only in the found-files partition: the previous view stays.
    if (previous >= -2 && previous <= 2) rs.filterState = previous;
    return kNoPartitionMatches;
}

}  // namespace kestrel
