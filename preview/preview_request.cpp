#include "preview/preview_request.h"

#include <cstdio>
#include <cstring>

#include "fs/file_node.h"
#include "preview/extractors.h"
#include "preview/hex_view.h"
#include "preview/read_file_prefix.h"
#include "preview/text_test.h"

namespace kestrel {
namespace {

// The placeholder bytes of the hex pane for an empty file and for a folder.
constexpr size_t kPlaceholderBytes = 16;

struct ResolvedNode {
    PartInfo* part = nullptr;  // the partition whose table holds node
    FileNode* node = nullptr;
};

// A classification row names an entry that points into a partition; the
// node is read and its parent looked up there.
ResolvedNode Resolve(ResultSet& rs, TreeRow row, uint32_t id) {
    PartInfo* part = TreeRowPart(rs, row);
    if (part == nullptr) return {};
    if (IsClassTreeRow(row)) {
        const NodeRef* ref = GetNodeRef(*part, id);
        if (ref == nullptr || rs.partitions == nullptr || ref->partitionIndex >= rs.partitionCount)
            return {};
        part = &rs.partitions[ref->partitionIndex];
        id = ref->nodeId;
    }
    return {part, GetNode(*part, id)};
}

std::vector<uint8_t> Utf16LeBytes(WStringView text) {
    std::vector<uint8_t> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
        bytes.push_back(uint8_t(c & 0xFF));
        bytes.push_back(uint8_t(c >> 8));
    }
    return bytes;
}

PreviewResult MessageResult(std::vector<uint8_t> data, WStringView message) {
    PreviewResult r;
    r.kind = kPreviewUtf16Text;
    r.data = std::move(data);
    r.text = Utf16LeBytes(message);
    return r;
}

WString Decimal(uint32_t value, const char* format) {
    char buf[16];
    std::snprintf(buf, sizeof buf, format, value);
    return Utf16FromUtf8(buf);
}

// The browser numbers the classification trees 00..02 and the partitions
// from the found-files slot on 00, 01, ...
uint32_t BranchNumber(TreeRow row) {
    if (IsClassTreeRow(row)) return row & 0xFFFF;
    return row < kFoundFilesSlot ? row : row - kFoundFilesSlot;
}

WString FolderMessage(const PartInfo& part, const FileNode& folder, TreeRow row) {
    WString text = u"您选择了'";
    if (folder.parentId == kRootNodeId) {
        text += Decimal(BranchNumber(row), "%02u");
        text += u"'分支下的'";
    } else {
        const FileNode* parent = GetNode(part, folder.parentId);
        if (parent != nullptr) text += parent->name;
        text += u"'目录下的'";
    }
    text += folder.name;
    text += u"'目录，此目录里有";
    text += Decimal(folder.listedCount, "%u");
    text += u"个文件。\r\n鼠标左键双击目录，进入目录内查看更多文件！";
    return text;
}

// Runs the extractor of the file's kind; on success the kind becomes the
// kind of the extracted text.
void ExtractDocumentText(PreviewResult& r, WStringView name) {
    const ByteView file(r.data.data(), r.data.size());
    std::optional<WString> wide;
    switch (r.kind) {
        case kPreviewWordText:
            wide = ExtractWordText(file);
            break;
        case kPreviewSheetText:
            wide = ExtractExcelText(file);
            break;
        case kPreviewOoxmlText:
            if (std::optional<std::string> utf8 = ExtractOoxmlText(file, name)) {
                r.kind = kPreviewUtf8Text;
                r.text.assign(utf8->begin(), utf8->end());
            }
            return;
        case kPreviewZipListing:
            wide = ListZipMembers(file);
            break;
        case kPreviewRarListing:
            wide = ListRarMembers(file);
            break;
        default:
            return;
    }
    if (wide) {
        r.kind = kPreviewUtf16Text;
        r.text = Utf16LeBytes(*wide);
    }
}

// A file read whole: its initial kind from the name decides what text goes
// with the bytes.
void AddTextOfWholeFile(PreviewResult& r, WStringView name) {
    r.kind = PreviewKindOfFileName(name);
    switch (r.kind) {
        case kPreviewPlainText:
            if (r.data.size() > 2 && r.data[0] == 0xFF && r.data[1] == 0xFE) {
                // A UTF-16 file: the text without its byte-order mark, whole
                // code units only.
                r.kind = kPreviewUtf16Text;
                r.text.assign(r.data.begin() + 2, r.data.begin() + 2 + (r.data.size() - 2) / 2 * 2);
            } else {
                r.text = r.data;
            }
            break;
        case kPreviewWordText:
        case kPreviewSheetText:
        case kPreviewOoxmlText:
        case kPreviewZipListing:
        case kPreviewRarListing:
            if (r.data.size() >= kPreviewExtractMinSize) ExtractDocumentText(r, name);
            break;
        case kPreviewHexOnly:
            if (LooksLikeAnsiText(ByteView(r.data.data(), r.data.size()))) {
                r.kind = kPreviewPlainText;
                r.text = r.data;
            } else {
                r.kind = kPreviewUtf16Text;
                r.text = Utf16LeBytes(u"本软件不支持当前文件的预览，请导出文件后查看文件内容!");
            }
            break;
        default:  // a picture: the data is the encoded image
            break;
    }
}

PreviewResult ReadFailed() {
    PreviewResult r;
    r.kind = kPreviewReadFailed;
    return r;
}

}  // namespace

std::optional<PreviewResult> ProcessPreviewRequest(const PreviewRequest& request) {
    if (request.results == nullptr) return std::nullopt;
    ResultSet& rs = *request.results;
    const ResolvedNode found = Resolve(rs, request.row, request.nodeId);
    const FileNode* node = found.node;
    if (node == nullptr || node->name == nullptr || node->name[0] == 0 || !IsNodeVisible(rs, *node))
        return std::nullopt;

    if (IsDirectory(*node)) {
        return MessageResult(std::vector<uint8_t>(kPlaceholderBytes, 0),
                             FolderMessage(*found.part, *node, request.row));
    }
    if (node->size == 0)
        return MessageResult(std::vector<uint8_t>(kPlaceholderBytes, 0), u"空文件!");

    if (node->size > kPreviewWholeFileLimit) {
        std::vector<uint8_t> head(kHexViewLimit);
        if (!ReadFilePrefix(*found.part, *node, uint32_t(head.size()), head.data()))
            return ReadFailed();
        return MessageResult(std::move(head),
                             u"抱歉，只能预览小于32MB的文件，超过32MB的文件请导出后查看!");
    }
    PreviewResult r;
    r.data.resize(size_t(node->size));
    if (!ReadFilePrefix(*found.part, *node, uint32_t(r.data.size()), r.data.data()))
        return ReadFailed();
    AddTextOfWholeFile(r, node->name);
    return r;
}

}  // namespace kestrel
