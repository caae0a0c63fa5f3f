#pragma once
// The catalogue of file types the scan can find by content: for each type id
// its category, description, default extension (names carved files) and the
// extensions a file of that type may carry. Built once per process, read by
// every thread afterwards; only the per-type selected flag changes later, on
// the user-interface thread before a scan starts.
#include <cstdint>
#include <vector>

#include "carving/type_ids.h"
#include "platform/wide_text.h"

namespace kestrel {

constexpr uint32_t kCategorySlots = 13;
constexpr uint32_t kTypeSlots = 154;
constexpr uint32_t kTypeNameSlots = 237;

struct FileCategoryInfo {
    uint32_t id = 0;
    WString name;
    uint32_t enabled = 0;
    std::vector<uint32_t> memberTypeIds;  // registration order
};

struct FileTypeInfo {
    uint32_t categoryId = 0;
    uint32_t typeId = 0;
    WString description;
    WString defaultExt;  // lower case, no dot
    WString extList;     // "a;b;c", no dots, no trailing ";"
    uint32_t reserved = 0;
    uint32_t selected = 0;
};

class CFileTypeCatalogue {
public:
    static CFileTypeCatalogue& Instance();

    // Clears both tables and registers the 7 categories and the 116 types.
    // Use BuildTypeCatalogue() instead: it runs this once, safely.
    void Build();
    void RegisterCategory(uint32_t id, WStringView name);
    void RegisterType(uint32_t typeId, uint32_t categoryId, WStringView description,
                      WStringView defaultExt, WStringView extList = {});

    // Direct slot access; null only for an id beyond the table. Unregistered
    // slots hold placeholders (category 0, type id 0, extension "XXX").
    const FileCategoryInfo* GetCategory(uint32_t id) const;
    const FileTypeInfo* GetType(uint32_t id) const;
    // The deep-scan type choice.
    void SetTypeSelected(uint32_t id, bool selected);

    // wholeTable: all 13 slots; else categories 6..12 in id order.
    std::vector<FileCategoryInfo> CopyCategories(bool wholeTable) const;
    // wholeTable: all 154 slots; else slots 36..153 (118 records, the two
    // placeholders 115 and 146 included).
    std::vector<FileTypeInfo> CopyTypes(bool wholeTable) const;

private:
    CFileTypeCatalogue() = default;
    FileCategoryInfo categories_[kCategorySlots];
    FileTypeInfo types_[kTypeSlots];
};

// Builds the catalogue and the type-name table once; later calls return at
// once. Safe to call from any thread.
void BuildTypeCatalogue();

// Type id of the default extension a file name ends in, NO_TYPE when there is
// none. Builds the catalogue on first use.
uint32_t TypeIdFromFileName(WStringView name);
uint32_t TypeIdFromFileName(const char16_t* name);

// Short name per id 0..236 ("***" where none); empty text beyond.
const WString& TypeNameTable(uint32_t id);

// Extension tests of the preview and the file browser (ASCII case folding).
bool IsImageFileName(WStringView name);
bool IsTextFileName(WStringView name);

enum PreviewKind : uint32_t {
    kPreviewHexOnly = 0,
    kPreviewPicture = 3,
    kPreviewPlainText = 4,
    kPreviewWordText = 7,
    kPreviewSheetText = 8,
    kPreviewOoxmlText = 9,
    kPreviewZipListing = 10,
    kPreviewRarListing = 11,
};
uint32_t PreviewKindOfFileName(WStringView name);

}  // namespace kestrel
