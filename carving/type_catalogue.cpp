#include "carving/type_catalogue.h"

#include <mutex>

namespace kestrel {
namespace {

struct TypeRow {
    uint32_t typeId;
    uint32_t categoryId;
    const char16_t* defaultExt;
    const char16_t* extList;  // empty: the default extension alone
    const char16_t* description;
};

struct CategoryRow {
    uint32_t id;
    const char16_t* name;
};

constexpr CategoryRow kCategories[] = {
    {6, u"文档"},  {7, u"照片"},      {8, u"图像"},  {9, u"音频"},
    {10, u"视频"}, {11, u"压缩文件"}, {12, u"其他"},
};

// Registration order is the member order of each category, and with it the
// order of the type folders and of the tick boxes in the type chooser.
constexpr TypeRow kTypes[] = {
    {37, 6, u"docx", u"", u"MS Office 2007 WORD 文档"},
    {38, 6, u"xlsx", u"", u"MS Office 2007 EXCEL 文档"},
    {36, 6, u"doc", u"doc;wps", u"MS Office Word 或 WPS Office WPS 文档"},
    {42, 6, u"pub", u"", u"Microsoft Office Publisher 文档"},
    {40, 6, u"pdf", u"pdf;ai", u"Adobe Acrobat PDF 或 Adobe Illustrator 文档"},
    {87, 6, u"xls", u"xls;et", u"MS Office EXCEL 或 WPS Office ET 文档"},
    {153, 6, u"rtf", u"", u"RTF 文档"},
    {39, 6, u"chm", u"", u"已编译的HTML文件"},
    {43, 6, u"mht", u"", u"聚合网页文件"},
    {41, 6, u"hlp", u"", u"Windows Help 文件"},
    {147, 6, u"txt", u"", u"文本文件"},
    {148, 6, u"h", u"", u"C源代码(.h)"},
    {149, 6, u"c", u"", u"C源代码(.c)"},
    {150, 6, u"cpp", u"", u"C源代码(.cpp)"},
    {89, 6, u"pptx", u"", u"MS Office 2007 PowerPoint 文档"},
    {90, 6, u"ppt", u"ppt;pps;dps", u"MS Office PowerPoint 或 WPS Office DPS 文档"},
    {97, 6, u"one", u"", u"MS OneNote 文档"},
    {96, 6, u"vsd", u"", u"Microsoft Office Visio 文档"},
    {91, 6, u"mpp", u"", u"Microsoft Office Project 文档"},
    {93, 6, u"p65", u"", u"Page Maker 文档"},
    {94, 6, u"xps", u"", u"XML 电子文件"},
    {95, 6, u"rpt", u"", u"Crystal Reports 文件"},
    {46, 7, u"jpg", u"", u"Jpeg图像"},
    {51, 7, u"tif", u"", u"TIFF图片"},
    {49, 7, u"cr2", u"", u"bmp图"},
    {52, 7, u"dng", u"", u"DNG RAW 照片"},
    {50, 7, u"raw", u"", u"Panasonic RAW 照片"},
    {144, 7, u"raf", u"", u"富士数码照片"},
    {103, 7, u"arw", u"", u"SONY RAW 照片"},
    {104, 7, u"orf", u"", u"OLYMPUS RAW 照片"},
    {101, 7, u"sr2", u"", u"SONY SR2 RAW 照片"},
    {92, 7, u"nef", u"", u"NIKON RAW 照片"},
    {98, 7, u"pef", u"", u"PENTAX RAW 照片"},
    {102, 7, u"mef", u"", u"Mamiya MEF RAW 照片"},
    {99, 7, u"crw", u"", u"Canon CRW RAW 照片"},
    {100, 7, u"x3f", u"", u"X3F RAW 照片"},
    {48, 8, u"bmp", u"", u"Bitmap位图图像"},
    {45, 8, u"gif", u"", u"GIF图片"},
    {44, 8, u"png", u"", u"PNG图片"},
    {151, 8, u"ico", u"", u"Icon图片"},
    {47, 8, u"psd", u"", u"Photoshop PSD 文件"},
    {75, 8, u"dwg", u"", u"AutoCAD图像文件"},
    {85, 8, u"ani", u"", u"动态光标文件"},
    {76, 8, u"wmf", u"", u"Windows Metafile"},
    {83, 8, u"ai", u"", u"Adobe Illustrator 文件"},
    {116, 8, u"abr", u"", u"Photoshop Brushes 文件"},
    {117, 8, u"max", u"", u"PaperPort 文件"},
    {118, 8, u"cdr", u"", u"CorelDraw 图片"},
    {119, 8, u"dxf", u"", u"CAD图像交换文件"},
    {120, 8, u"mb", u"", u"Maya 3D"},
    {121, 8, u"psp", u"", u"PaintShop 图形文件"},
    {122, 8, u"dgn", u"", u"MicroStation PowerDraft 文件"},
    {123, 8, u"exb", u"", u"CAXA 电子图板文件"},
    {124, 8, u"jnb", u"", u"SigmaPlot 文件"},
    {125, 8, u"dcd", u"", u"DesignCAD 图形文件"},
    {126, 8, u"qcd", u"", u"QuickCAD 图形文件"},
    {127, 8, u"tcw", u"", u"TurboCAD 图形文件"},
    {128, 8, u"qxp", u"", u"QuarkXPress Project 文件"},
    {129, 8, u"qpt", u"", u"QuarkXPress Template 文件"},
    {130, 8, u"sdr", u"sdr;sdt", u"SmartDraw 图形文件"},
    {131, 8, u"pzf", u"", u"GraphPad Prism 文件"},
    {132, 8, u"emf", u"", u"Windows增强型图元文件"},
    {133, 8, u"oci", u"", u"OpenCanvas 图形文件"},
    {134, 8, u"icc", u"", u"Color profiles 文件"},
    {135, 8, u"pcb", u"", u"PROTEL PCB 文件"},
    {136, 8, u"tpf", u"", u"蒙泰排版文件"},
    {137, 8, u"gjd", u"", u"GJD 文件"},
    {138, 8, u"vfb", u"", u"FontLab"},
    {139, 8, u"sldprt", u"", u"SolibWorks 图形文件"},
    {54, 9, u"mp3", u"", u"MP3 声音文件"},
    {53, 9, u"wav", u"", u"波形声音文件"},
    {56, 9, u"ape", u"", u"APE 无损压缩音频文件"},
    {59, 9, u"wma", u"", u"WMA 音频文件"},
    {57, 9, u"mid", u"", u"MIDI 音频文件"},
    {55, 9, u"ogg", u"", u"OGG 音频文件"},
    {58, 9, u"ra", u"", u"Real Media 音频文件"},
    {69, 9, u"m4a", u"m4a;m4r", u"Apple 音频文件"},
    {65, 9, u"ram", u"", u"ram"},
    {70, 9, u"amr", u"", u"Adaptive Multi-Rate 文件"},
    {105, 9, u"au", u"", u"Sun/NeXT 音频文件"},
    {106, 9, u"aif", u"aif;afc;aiff", u"AIF 音频文件"},
    {107, 9, u"mmf", u"", u"MMF 音频文件"},
    {73, 10, u"avi", u"", u"AVI 视频"},
    {82, 10, u"mpg", u"mpg;mpeg;vob;m2v;h264", u"MPG 视频"},
    {72, 10, u"mp4", u"", u"MP4 视频"},
    {71, 10, u"m4v", u"", u"M4V 视频"},
    {67, 10, u"mov", u"", u"QuickTime MOV 视频"},
    {66, 10, u"rmvb", u"rmvb;rm", u"Real Media 视频"},
    {68, 10, u"3gp", u"", u"QuickTime 3GP"},
    {86, 10, u"mkv", u"mkv;webm;mka", u"MKV 视频"},
    {64, 10, u"flv", u"flv;f4v", u"FLV 视频"},
    {88, 10, u"mts", u"mts;m2ts;m2t;ts;tp;mt2s", u"MTS 视频"},
    {143, 10, u"m2t", u"m2t;m2ts;m2t;ts;tp;mt2s", u"M2T 视频"},
    {109, 10, u"3g2", u"", u"3G2 视频"},
    {108, 10, u"wmv", u"wmv;asf", u"WMV 或 ASF 视频"},
    {114, 10, u"mxf", u"", u"Material Exchange Format 视频"},
    {113, 10, u"wtv", u"", u"Windows Media Center TV 视频"},
    {112, 10, u"fla", u"", u"Flash 文件"},
    {111, 10, u"swi", u"", u"SWiSH Max 文件"},
    {110, 10, u"wrf", u"", u"WebEx 屏幕录像"},
    {61, 11, u"zip", u"", u"ZIP 压缩文档"},
    {62, 11, u"rar", u"", u"RAR 压缩文档"},
    {60, 11, u"7z", u"", u"7zip 压缩文档"},
    {84, 11, u"cab", u"", u"Microsoft cab包"},
    {140, 11, u"tar", u"", u"Tar 文档"},
    {141, 11, u"iso", u"", u"ISO 镜像文件"},
    {142, 11, u"gho", u"", u"Ghost 镜像文件"},
    {77, 12, u"mdb", u"", u"Micorsoft Access 数据库"},
    {63, 12, u"jar", u"", u"Java 文件"},
    {78, 12, u"accdb", u"", u"Microsoft Access 数据库"},
    {74, 12, u"exe", u"", u"Windows应用程序"},
    {79, 12, u"html", u"", u"超文本标记语言文件"},
    {152, 12, u"xml", u"", u"xml文件"},
    {80, 12, u"dsw", u"", u"Visual Studio 工程文件"},
    {81, 12, u"sln", u"", u"Visual Studio 工程文件"},
    {145, 12, u"mcb", u"", u"midas文件"},
};

// The structure names stand here because this is the table that names found
// items; their meaning belongs to the structure classifier.
struct NameRow {
    uint32_t id;
    const char16_t* name;
};
constexpr NameRow kStructureNames[] = {
    {221, u"MBR"},
    {222, u"EBR"},
    {223, u"NTFS DBR"},
    {224, u"FILE RECORD"},
    {225, u"DIR ENTRY"},
    {226, u"FAT16 DBR"},
    {227, u"FAT16 fat table"},
    {228, u"FAT32 DBR"},
    {229, u"FAT32 FAT Table"},
    {230, u"FAT32 file sys info"},
    {231, u"FAT Dir entry"},
    {232, u"FAT Root Dir entry"},
    {233, u"EXFAT DBR"},
    {234, u"Exfat root dir entry"},
    {235, u"Exfat dir entry"},
};

WString gTypeNames[kTypeNameSlots];
std::once_flag gBuildOnce;

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

bool EqualFolded(WStringView a, WStringView b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

// The text after the last dot; false for no dot or a dot that starts the name.
bool ExtensionOf(WStringView name, WStringView& ext) {
    size_t dot = name.rfind(u'.');
    if (dot == WStringView::npos || dot == 0) return false;
    ext = name.substr(dot + 1);
    return true;
}

bool ExtensionIn(WStringView name, std::initializer_list<const char16_t*> set) {
    WStringView ext;
    if (!ExtensionOf(name, ext)) return false;
    for (const char16_t* candidate : set) {
        if (EqualFolded(ext, candidate)) return true;
    }
    return false;
}

void BuildTypeNames(const CFileTypeCatalogue& catalogue) {
    for (WString& name : gTypeNames) name = u"***";
    for (uint32_t id = kFirstFileType; id <= kLastFileType; ++id) {
        const FileTypeInfo* type = catalogue.GetType(id);
        if (type != nullptr && type->typeId == id) gTypeNames[id] = type->defaultExt;
    }
    for (const NameRow& row : kStructureNames) gTypeNames[row.id] = row.name;
}

}  // namespace

CFileTypeCatalogue& CFileTypeCatalogue::Instance() {
    static CFileTypeCatalogue catalogue;
    return catalogue;
}

void CFileTypeCatalogue::Build() {
    for (uint32_t i = 0; i < kCategorySlots; ++i) {
        categories_[i] = FileCategoryInfo{};
        categories_[i].id = i;
        categories_[i].name = u"XXX";
    }
    for (FileTypeInfo& type : types_) {
        type = FileTypeInfo{};
        type.defaultExt = u"XXX";
    }
    for (const CategoryRow& row : kCategories) RegisterCategory(row.id, row.name);
    for (const TypeRow& row : kTypes) {
        RegisterType(row.typeId, row.categoryId, row.description, row.defaultExt, row.extList);
    }
}

void CFileTypeCatalogue::RegisterCategory(uint32_t id, WStringView name) {
    if (id >= kCategorySlots) return;
    FileCategoryInfo& c = categories_[id];
    c.id = id;
    c.name = WString(name);
    c.enabled = 1;
    c.memberTypeIds.clear();
}

void CFileTypeCatalogue::RegisterType(uint32_t typeId, uint32_t categoryId, WStringView description,
                                      WStringView defaultExt, WStringView extList) {
    if (typeId >= kTypeSlots || categoryId >= kCategorySlots) return;
    FileTypeInfo& t = types_[typeId];
    t.categoryId = categoryId;
    t.typeId = typeId;
    t.description = WString(description);
    t.defaultExt = WString(defaultExt);
    t.extList = extList.empty() ? t.defaultExt : WString(extList);
    t.reserved = 0;
    t.selected = 1;
    categories_[categoryId].memberTypeIds.push_back(typeId);
}

const FileCategoryInfo* CFileTypeCatalogue::GetCategory(uint32_t id) const {
    return id < kCategorySlots ? &categories_[id] : nullptr;
}

const FileTypeInfo* CFileTypeCatalogue::GetType(uint32_t id) const {
    return id < kTypeSlots ? &types_[id] : nullptr;
}

void CFileTypeCatalogue::SetTypeSelected(uint32_t id, bool selected) {
    if (id < kTypeSlots && types_[id].typeId == id && id != 0) types_[id].selected = selected;
}

std::vector<FileCategoryInfo> CFileTypeCatalogue::CopyCategories(bool wholeTable) const {
    uint32_t first = wholeTable ? 0 : kFirstCategory;
    uint32_t last = wholeTable ? kCategorySlots - 1 : kLastCategory;
    return std::vector<FileCategoryInfo>(categories_ + first, categories_ + last + 1);
}

std::vector<FileTypeInfo> CFileTypeCatalogue::CopyTypes(bool wholeTable) const {
    uint32_t first = wholeTable ? 0 : kFirstFileType;
    uint32_t last = wholeTable ? kTypeSlots - 1 : kLastFileType;
    return std::vector<FileTypeInfo>(types_ + first, types_ + last + 1);
}

void BuildTypeCatalogue() {
    std::call_once(gBuildOnce, [] {
        CFileTypeCatalogue& catalogue = CFileTypeCatalogue::Instance();
        catalogue.Build();
        BuildTypeNames(catalogue);
    });
}

uint32_t TypeIdFromFileName(WStringView name) {
    WStringView ext;
    if (!ExtensionOf(name, ext)) return NO_TYPE;
    BuildTypeCatalogue();
    const CFileTypeCatalogue& catalogue = CFileTypeCatalogue::Instance();
    // The placeholder slots 115 and 146 are walked too: "x.xxx" gives type 0.
    for (uint32_t id = kFirstFileType; id <= kLastFileType; ++id) {
        const FileTypeInfo* type = catalogue.GetType(id);
        if (EqualFolded(ext, type->defaultExt)) return type->typeId;
    }
    return NO_TYPE;
}

uint32_t TypeIdFromFileName(const char16_t* name) {
    if (name == nullptr) return NO_TYPE;
    return TypeIdFromFileName(WStringView(name, WideLength(name, 32767)));
}

const WString& TypeNameTable(uint32_t id) {
    static const WString kEmpty;
    if (id >= kTypeNameSlots) return kEmpty;
    BuildTypeCatalogue();
    return gTypeNames[id];
}

bool IsImageFileName(WStringView name) {
    return ExtensionIn(name, {u"bmp", u"jpg", u"png", u"ico", u"gif", u"tif"});
}

bool IsTextFileName(WStringView name) {
    return ExtensionIn(name, {u"txt", u"h", u"c", u"cpp", u"cc", u"cxx", u"php", u"xml", u"htm",
                              u"html", u"lua", u"js", u"css", u"inf", u"ini", u"json", u"log"});
}

uint32_t PreviewKindOfFileName(WStringView name) {
    if (ExtensionIn(name, {u"docx", u"xlsx", u"pptx"})) return kPreviewOoxmlText;
    if (ExtensionIn(name, {u"xls"})) return kPreviewSheetText;
    if (ExtensionIn(name, {u"doc"})) return kPreviewWordText;
    if (ExtensionIn(name, {u"rar"})) return kPreviewRarListing;
    if (ExtensionIn(name, {u"zip"})) return kPreviewZipListing;
    if (IsImageFileName(name)) return kPreviewPicture;
    if (IsTextFileName(name)) return kPreviewPlainText;
    return kPreviewHexOnly;
}

}  // namespace kestrel
