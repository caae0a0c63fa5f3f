#include "carving/type_catalogue.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace kestrel {
namespace {

std::string Utf8(const std::u16string& s) { return Utf8FromWide(s); }

TEST(TypeCatalogue, TypeIdFromFileName) {
    struct Case {
        const char16_t* name;
        uint32_t id;
    } cases[] = {
        {u"REPORT.DOCX", 37},
        {u"photo.JpG", 46},
        {u"a.JPEG", NO_TYPE},  // only the default extension "jpg" is compared
        {u"archive.tar.gz", NO_TYPE},
        {u"archive.tar", 140},
        {u"a.b.pdf", 40},
        {u".jpg", NO_TYPE},
        {u"jpg", NO_TYPE},
        {u"", NO_TYPE},
        {u"trailing.", NO_TYPE},
        {u"x.XXX", 0},  // the placeholder slots 115 and 146 are walked too
        {u"x.xxx", 0},
        {u"doc.wps", NO_TYPE},  // lists are never compared
        {u"clip.MTS", 88},
        {u"clip.m2t", 143},
        {u"main.cpp", 150},
        {u"x.c", 149},
        {u"x.ｊｐｇ", NO_TYPE},  // no folding beyond ASCII
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TypeIdFromFileName(WStringView(c.name)), c.id) << Utf8(c.name);
    }
    EXPECT_EQ(TypeIdFromFileName(static_cast<const char16_t*>(nullptr)), NO_TYPE);
}

TEST(TypeCatalogue, TablesHoldTheRegisteredTypesAndPlaceholders) {
    BuildTypeCatalogue();
    BuildTypeCatalogue();  // a second build changes nothing
    const CFileTypeCatalogue& cat = CFileTypeCatalogue::Instance();

    std::vector<FileCategoryInfo> cats = cat.CopyCategories(false);
    ASSERT_EQ(cats.size(), 7u);
    const char16_t* names[] = {u"文档", u"照片", u"图像", u"音频", u"视频", u"压缩文件", u"其他"};
    size_t members = 0;
    for (size_t i = 0; i < cats.size(); ++i) {
        EXPECT_EQ(cats[i].id, 6 + i);
        EXPECT_EQ(cats[i].name, names[i]);
        EXPECT_EQ(cats[i].enabled, 1u);
        members += cats[i].memberTypeIds.size();
    }
    EXPECT_EQ(members, 116u);
    EXPECT_EQ(cat.CopyCategories(true).size(), 13u);
    EXPECT_EQ(cat.GetCategory(3)->name, u"XXX");
    EXPECT_EQ(cat.GetCategory(13), nullptr);
    std::vector<uint32_t> photoStart(cat.GetCategory(7)->memberTypeIds.begin(),
                                     cat.GetCategory(7)->memberTypeIds.begin() + 6);
    EXPECT_EQ(photoStart, (std::vector<uint32_t>{46, 51, 49, 52, 50, 144}));
    EXPECT_EQ(cat.GetCategory(6)->memberTypeIds.front(), 37u);
    EXPECT_EQ(cat.GetCategory(12)->memberTypeIds.back(), 145u);

    std::vector<FileTypeInfo> types = cat.CopyTypes(false);
    ASSERT_EQ(types.size(), 118u);
    EXPECT_EQ(cat.CopyTypes(true).size(), 154u);
    std::set<uint32_t> registered;
    for (const FileTypeInfo& t : types) {
        if (t.typeId != 0) registered.insert(t.typeId);
    }
    EXPECT_EQ(registered.size(), 116u);
    for (uint32_t placeholder : {0u, 35u, 115u, 146u}) {
        const FileTypeInfo* t = cat.GetType(placeholder);
        EXPECT_EQ(t->typeId, 0u) << placeholder;
        EXPECT_EQ(t->categoryId, 0u);
        EXPECT_EQ(t->defaultExt, u"XXX");
        EXPECT_TRUE(t->description.empty());
    }
    EXPECT_EQ(cat.GetType(154), nullptr);

    const FileTypeInfo* mpg = cat.GetType(82);
    EXPECT_EQ(mpg->categoryId, 10u);
    EXPECT_EQ(mpg->defaultExt, u"mpg");
    EXPECT_EQ(mpg->extList, u"mpg;mpeg;vob;m2v;h264");
    EXPECT_EQ(mpg->description, u"MPG 视频");
    EXPECT_EQ(mpg->selected, 1u);
    EXPECT_EQ(mpg->reserved, 0u);
    EXPECT_EQ(cat.GetType(37)->extList, u"docx") << "no list: the default extension";
    EXPECT_EQ(cat.GetType(143)->extList, u"m2t;m2ts;m2t;ts;tp;mt2s");
    EXPECT_EQ(cat.GetType(49)->description, u"bmp图");
}

TEST(TypeCatalogue, TypeNameTable) {
    struct Case {
        uint32_t id;
        const char16_t* name;
    } cases[] = {
        {0, u"***"},
        {46, u"jpg"},
        {115, u"***"},
        {146, u"***"},
        {153, u"rtf"},
        {200, u"***"},
        {221, u"MBR"},
        {223, u"NTFS DBR"},
        {227, u"FAT16 fat table"},
        {229, u"FAT32 FAT Table"},
        {231, u"FAT Dir entry"},
        {235, u"Exfat dir entry"},
        {236, u"***"},
        {237, u""},
    };
    for (const Case& c : cases) EXPECT_EQ(TypeNameTable(c.id), c.name) << c.id;
}

TEST(TypeCatalogue, ExtensionTests) {
    struct Case {
        const char16_t* name;
        bool image;
        bool text;
        uint32_t preview;
    } cases[] = {
        {u"a.DOCX", false, false, 9}, {u"a.pptx", false, false, 9}, {u"a.xls", false, false, 8},
        {u"a.doc", false, false, 7},  {u"a.RAR", false, false, 11}, {u"a.zip", false, false, 10},
        {u"a.Tif", true, false, 3},   {u"a.ico", true, false, 3},   {u"a.jpeg", false, false, 0},
        {u"a.json", false, true, 4},  {u"a.H", false, true, 4},     {u"a.log", false, true, 4},
        {u"a.pdf", false, false, 0},  {u"README", false, false, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsImageFileName(c.name), c.image) << Utf8(c.name);
        EXPECT_EQ(IsTextFileName(c.name), c.text) << Utf8(c.name);
        EXPECT_EQ(PreviewKindOfFileName(c.name), c.preview) << Utf8(c.name);
    }
}

}  // namespace
}  // namespace kestrel
