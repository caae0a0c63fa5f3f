#include "fs/type_folders.h"

#include "carving/type_catalogue.h"
#include "carving/type_ids.h"
#include "fs/file_node.h"

namespace kestrel {
void AddFolderNode(PartInfo& part, uint32_t id, uint32_t parent, WStringView name) {
    FileNode n = MakeNode();
    n.id = id;
    n.parentId = parent;
    n.name = CopyNodeName(name);
    SetNodeKind(n, kLiveDir);
    AddNode(part, n, false);
}

void AddCategoryAndTypeFolders(PartInfo& part) {
    const CFileTypeCatalogue& cat = CFileTypeCatalogue::Instance();
    for (uint32_t c = kFirstCategory; c <= kLastCategory; ++c)
        if (const FileCategoryInfo* info = cat.GetCategory(c))
            AddFolderNode(part, c, kRootNodeId, info->name);
    for (uint32_t t = kFirstFileType; t <= kLastFileType; ++t)
        if (const FileTypeInfo* info = cat.GetType(t))
            AddFolderNode(part, t, info->categoryId, info->defaultExt);
}

}  // namespace kestrel
