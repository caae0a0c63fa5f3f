// Processing one preview request: what the hex pane and the text pane get for
// files and folders of a read FAT32 volume, its classification views, and a
// found-files partition over a synthetic device.
#include "preview/preview_request.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/run_state.h"
#include "carving/type_catalogue.h"
#include "fs/partition_tree.h"
#include "fs/result_set.h"
#include "platform/codepage.h"
#include "preview/read_file_prefix.h"
#include "results/class_views.h"
#include "tests/fs/fat_fixture_support.h"
#include "tests/fs/fat_sha256.h"
#include "tests/preview/rar_builder.h"
#include "tests/support/fixture.h"

namespace kestrel {
namespace {

constexpr uint32_t kFatSlot = kFirstReadSlot;
constexpr uint64_t kMiB = 1u << 20;
// The found-files device: 33 MiB, sparse, with the 32 MiB file from 1 MiB on.
constexpr uint64_t kDeviceBytes = 33 * kMiB;
constexpr uint64_t kWholeFileLba = kMiB / 512;

WString Utf16Text(const std::vector<uint8_t>& bytes) {
    WString text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) text += char16_t(bytes[i] | bytes[i + 1] << 8);
    return text;
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<uint8_t> Utf16LeOf(WStringView text) {
    std::vector<uint8_t> out;
    for (char16_t c : text) {
        out.push_back(uint8_t(c));
        out.push_back(uint8_t(c >> 8));
    }
    return out;
}

std::vector<uint8_t> FixtureBytes(const std::string& rel) {
    return test::ReadFileBytes(test::FixturePath(rel));
}

class PreviewRequestTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        BuildTypeCatalogue();
        InstallClassificationViews();
    }

    void SetUp() override {
        kestrel::Run().RecoverMode = kModePartitionFiles;  // every file listed
        ResetResultSet(rs_);
        PartInfo fat;
        ASSERT_TRUE(test::LoadFatPart(test::FixturePath("fat32/fat32.img.gz"), fat));
        ScanState running{kScanRunning};
        ASSERT_TRUE(ReadPartitionTree(fat, running));
        ASSERT_TRUE(AddPartition(rs_, fat, nullptr, false));
        fatPaths_ = test::ListPaths(rs_.partitions[kFatSlot]);
        device_ = test::TempDir("preview_request") + "/device.img";
        std::ofstream(device_, std::ios::binary).put(0);
        std::filesystem::resize_file(device_, kDeviceBytes);
        rs_.partitions[kFoundFilesSlot].devicePath = Utf16FromUtf8(device_);
    }

    void TearDown() override { ClearResultSet(rs_); }

    std::optional<PreviewResult> Preview(TreeRow row, uint32_t id) {
        return ProcessPreviewRequest(PreviewRequest{&rs_, nullptr, row, id});
    }
    std::optional<PreviewResult> PreviewFat(const std::string& path) {
        EXPECT_TRUE(fatPaths_.count(path)) << path;
        return Preview(kFatSlot, fatPaths_[path]);
    }

    // A carved file on the found-files device: bytes written at lba, the
    // node's size given separately so it may claim more than the device has.
    uint32_t AddCarved(const char16_t* name, uint64_t lba, const std::vector<uint8_t>& bytes,
                       uint64_t size) {
        std::fstream f(device_, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(lba * 512));
        f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        f.close();
        FileNode n = MakeNode();
        n.parentId = kRootNodeId;
        n.locationLba = lba;
        n.size = size;
        n.flags = kFlagListed;
        SetNodeKind(n, kLiveFile);
        SetNodeName(n, name);
        return AddNode(rs_.partitions[kFoundFilesSlot], n, true);
    }
    uint32_t AddCarved(const char16_t* name, uint64_t lba, const std::vector<uint8_t>& bytes) {
        return AddCarved(name, lba, bytes, bytes.size());
    }

    ResultSet rs_;
    std::map<std::string, uint32_t> fatPaths_;
    std::string device_;
};

TEST_F(PreviewRequestTest, FilesOfAReadVolume) {
    const std::optional<PreviewResult> hello = PreviewFat("docs/hello.txt");
    ASSERT_TRUE(hello);
    EXPECT_EQ(hello->kind, uint32_t(kPreviewPlainText));
    EXPECT_EQ(hello->data.size(), 5u);
    EXPECT_EQ(hello->text, hello->data);

    // 1553 bytes of "txt" read through a cluster chain, whole.
    const std::optional<PreviewResult> longText = PreviewFat("docs/Long File Name With Spaces.txt");
    ASSERT_TRUE(longText);
    EXPECT_EQ(longText->data.size(), 1553u);

    // A picture keeps its kind and carries no text.
    const std::optional<PreviewResult> png = PreviewFat("照片/旅行 2019/故宫 夜景.png");
    ASSERT_TRUE(png);
    EXPECT_EQ(png->kind, uint32_t(kPreviewPicture));
    EXPECT_EQ(png->data.size(), 1024u);
    EXPECT_TRUE(png->text.empty());
}

TEST_F(PreviewRequestTest, FolderMessagesOfPartitionsAndClassificationTrees) {
    const WString tail = u"个文件。\r\n鼠标左键双击目录，进入目录内查看更多文件！";
    struct Case {
        TreeRow row;
        uint32_t id;
        WString message;
    } cases[] = {
        // Below the root of the volume, the partition's browser number (01).
        {kFatSlot, fatPaths_["docs"], u"您选择了'01'分支下的'docs'目录，此目录里有4" + tail},
        {kFatSlot, fatPaths_["docs/deep/er"],
         u"您选择了'deep'目录下的'er'目录，此目录里有1" + tail},
        // The modification-date tree: the two photos of 2019.
        {ClassTreeRow(2), 2019, u"您选择了'02'分支下的'2019年'目录，此目录里有2" + tail},
        {ClassTreeRow(2), MonthFolderId(2019, 7),
         u"您选择了'2019年'目录下的'07月'目录，此目录里有2" + tail},
    };
    for (const Case& c : cases) {
        const std::optional<PreviewResult> r = Preview(c.row, c.id);
        ASSERT_TRUE(r) << Utf8FromWide(c.message);
        EXPECT_EQ(r->kind, uint32_t(kPreviewUtf16Text));
        EXPECT_EQ(Utf8FromWide(Utf16Text(r->text)), Utf8FromWide(c.message));
        EXPECT_EQ(r->data, std::vector<uint8_t>(16, 0));
    }
}

TEST_F(PreviewRequestTest, InvisibleOrMissingNodesAreDropped) {
    EXPECT_FALSE(Preview(ClassTreeRow(2), 1990));  // an empty year folder is not listed
    EXPECT_FALSE(Preview(kFatSlot, 1999999));
    EXPECT_FALSE(Preview(rs_.partitionCount, kRootNodeId));
    EXPECT_FALSE(Preview(ClassTreeRow(3), kRootNodeId));
    EXPECT_FALSE(ProcessPreviewRequest(PreviewRequest{}));
    // While a filter is active only matching nodes are shown.
    ASSERT_TRUE(PreviewFat("docs/hello.txt"));
    rs_.filterState = kFilterActive;
    EXPECT_FALSE(PreviewFat("docs/hello.txt"));
    GetNode(rs_.partitions[kFatSlot], fatPaths_["docs/hello.txt"])->flags |= kFlagFilterMatch;
    EXPECT_TRUE(PreviewFat("docs/hello.txt"));
}

TEST_F(PreviewRequestTest, TextsByKindAndContent) {
    const std::string gbk = AnsiFromWide(u"恢复的文件列表\r\n第二行");
    const std::vector<uint8_t> utf16 = Utf16LeOf(u"\uFEFF你好, Kestrel");
    std::vector<uint8_t> binary = Bytes("MZ\x90");
    binary.resize(300, 0);
    std::vector<uint8_t> smallDoc = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    smallDoc.resize(1000, 0x41);
    std::vector<uint8_t> brokenDoc = smallDoc;
    brokenDoc.resize(1025, 0x41);

    struct Case {
        const char16_t* name;
        std::vector<uint8_t> bytes;
        uint32_t kind;
        std::vector<uint8_t> text;
    } cases[] = {
        {u"empty.txt", {}, kPreviewUtf16Text, Utf16LeOf(u"空文件!")},
        {u"unicode.txt", utf16, kPreviewUtf16Text, Utf16LeOf(u"你好, Kestrel")},
        {u"ab.txt", Bytes("ab"), kPreviewPlainText, Bytes("ab")},
        {u"notes", Bytes(gbk), kPreviewPlainText, Bytes(gbk)},
        {u"program.dat", binary, kPreviewUtf16Text,
         Utf16LeOf(u"本软件不支持当前文件的预览，请导出文件后查看文件内容!")},
        // Below 1025 bytes no extractor runs; at 1025 a damaged document
        // fails it: both keep their kind and show the hex dump only.
        {u"plan.doc", smallDoc, kPreviewWordText, {}},
        {u"plan2.doc", brokenDoc, kPreviewWordText, {}},
    };
    uint64_t lba = 16;
    for (const Case& c : cases) {
        const uint32_t id = AddCarved(c.name, lba, c.bytes);
        lba += c.bytes.size() / 512 + 1;
        const std::optional<PreviewResult> r = Preview(kFoundFilesSlot, id);
        ASSERT_TRUE(r) << Utf8FromWide(c.name);
        EXPECT_EQ(r->kind, c.kind) << Utf8FromWide(c.name);
        EXPECT_EQ(r->text, c.text) << Utf8FromWide(c.name);
        EXPECT_EQ(r->data, c.bytes.empty() ? std::vector<uint8_t>(16, 0) : c.bytes)
            << Utf8FromWide(c.name);
    }
}

TEST_F(PreviewRequestTest, ExtractedTextsReplaceTheKind) {
    const std::vector<uint8_t> zip = FixtureBytes("documents/members.zip.gz");
    const std::vector<uint8_t> docx = FixtureBytes("documents/words.docx.gz");
    ASSERT_GE(zip.size(), 1025u);
    ASSERT_GE(docx.size(), 1025u);
    const std::optional<PreviewResult> listing =
        Preview(kFoundFilesSlot, AddCarved(u"members.zip", 16, zip));
    ASSERT_TRUE(listing);
    EXPECT_EQ(listing->kind, uint32_t(kPreviewUtf16Text));
    EXPECT_EQ(Utf16Text(listing->text).rfind(u"压缩率  文件最后修改时间   文件名\r\n", 0), 0u);
    EXPECT_EQ(listing->data, zip);

    const std::optional<PreviewResult> words =
        Preview(kFoundFilesSlot, AddCarved(u"words.docx", 16 + zip.size() / 512 + 1, docx));
    ASSERT_TRUE(words);
    EXPECT_EQ(words->kind, uint32_t(kPreviewUtf8Text));
    ASSERT_GE(words->text.size(), 132u);
    EXPECT_EQ(std::string(words->text.begin(), words->text.begin() + 3), "\xEF\xBB\xBF");
}

// Every document and archive kind, intact and damaged, through the whole
// request: the intact file shows its words after the header line; a damaged
// copy keeps its initial kind and shows the hex dump only.
TEST_F(PreviewRequestTest, EveryDocumentKindIntactAndDamaged) {
    // The member name is stored in GBK: "报告/notes.txt".
    test::RarMember member{"\xB1\xA8\xB8\xE6/notes.txt", 1200, 4000,
                           test::DosTime(2021, 3, 4, 5, 6)};
    const std::vector<uint8_t> rar = test::BuildRar({member}).bytes;
    enum Damage { kZeroFirstSector, kCutInHalf };
    struct Case {
        const char16_t* name;
        std::vector<uint8_t> bytes;
        uint32_t initialKind, kind;
        std::string words;  // UTF-8
        Damage damage;
    } cases[] = {
        {u"words.doc", FixtureBytes("documents/words.doc"), kPreviewWordText, kPreviewUtf16Text,
         "Kestrel alpha paragraph\r\ntabbed word second bravo", kZeroFirstSector},
        {u"sheets.xls", FixtureBytes("documents/sheets.xls"), kPreviewSheetText, kPreviewUtf16Text,
         "A | B | x | y", kZeroFirstSector},
        {u"words.docx", FixtureBytes("documents/words.docx.gz"), kPreviewOoxmlText,
         kPreviewUtf8Text, "Kestrel alpha paragraph", kCutInHalf},
        {u"cells.xlsx", FixtureBytes("documents/cells.xlsx.gz"), kPreviewOoxmlText,
         kPreviewUtf8Text, "foxtrotword", kCutInHalf},
        {u"slides.pptx", FixtureBytes("documents/slides.pptx.gz"), kPreviewOoxmlText,
         kPreviewUtf8Text, "slideword19", kCutInHalf},
        {u"members.zip", FixtureBytes("documents/members.zip.gz"), kPreviewZipListing,
         kPreviewUtf16Text, "deflated.txt", kCutInHalf},
        {u"notes.rar", rar, kPreviewRarListing, kPreviewUtf16Text,
         "2021-03-04 05:06   报告/notes.txt", kZeroFirstSector},
    };
    uint64_t lba = 16;
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8FromWide(c.name));
        ASSERT_GE(c.bytes.size(), 1025u);
        std::vector<uint8_t> damaged = c.bytes;
        if (c.damage == kZeroFirstSector)
            std::fill(damaged.begin(), damaged.begin() + 512, 0);
        else
            damaged.resize(damaged.size() / 2);
        for (const bool intact : {true, false}) {
            const std::vector<uint8_t>& bytes = intact ? c.bytes : damaged;
            const uint32_t id = AddCarved(c.name, lba, bytes);
            lba += bytes.size() / 512 + 1;
            const std::optional<PreviewResult> r = Preview(kFoundFilesSlot, id);
            ASSERT_TRUE(r);
            EXPECT_EQ(r->data, bytes);
            if (!intact) {
                EXPECT_EQ(r->kind, c.initialKind);
                EXPECT_TRUE(r->text.empty());
                continue;
            }
            ASSERT_EQ(r->kind, c.kind);
            const std::string text = c.kind == kPreviewUtf8Text
                                         ? std::string(r->text.begin(), r->text.end())
                                         : Utf8FromWide(Utf16Text(r->text));
            const bool listing =
                c.initialKind == kPreviewZipListing || c.initialKind == kPreviewRarListing;
            const std::string header =
                listing ? "压缩率  文件最后修改时间   文件名\r\n"
                        : c.kind == kPreviewUtf8Text ? "\xEF\xBB\xBF经验证，此文件数据完全正确"
                                                     : " 经验证，此文件数据完全正确";
            EXPECT_EQ(text.rfind(header, 0), 0u) << text;
            EXPECT_NE(text.find(c.words), std::string::npos) << text;
        }
    }
}

TEST_F(PreviewRequestTest, The32MiBLimit) {
    // Exactly 32 MiB is read whole: the marker at its end arrives.
    std::vector<uint8_t> tailMarker = Bytes("END OF THE 32 MIB FILE");
    const uint64_t whole = kPreviewWholeFileLimit;
    {
        std::fstream f(device_, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(std::streamoff(kWholeFileLba * 512 + whole - tailMarker.size()));
        f.write(reinterpret_cast<const char*>(tailMarker.data()),
                std::streamsize(tailMarker.size()));
    }
    const uint32_t exact = AddCarved(u"exact.bin", kWholeFileLba, {}, whole);
    const std::optional<PreviewResult> r = Preview(kFoundFilesSlot, exact);
    ASSERT_TRUE(r);
    ASSERT_EQ(r->data.size(), whole);
    EXPECT_TRUE(
        std::equal(tailMarker.begin(), tailMarker.end(), r->data.end() - tailMarker.size()));

    // A 40 MiB file claims more than the device holds: only its first
    // 128 KiB are read, and the message says why.
    std::vector<uint8_t> head(0x20000 + 512);
    for (size_t i = 0; i < head.size(); ++i) head[i] = uint8_t(i * 13);
    const uint32_t big = AddCarved(u"big.txt", 16, head, 40 * kMiB);
    const std::optional<PreviewResult> b = Preview(kFoundFilesSlot, big);
    ASSERT_TRUE(b);
    EXPECT_EQ(b->kind, uint32_t(kPreviewUtf16Text));
    EXPECT_EQ(b->data, std::vector<uint8_t>(head.begin(), head.begin() + 0x20000));
    EXPECT_EQ(b->text, Utf16LeOf(u"抱歉，只能预览小于32MB的文件，超过32MB的文件请导出后查看!"));
}

TEST_F(PreviewRequestTest, ReadsPastTheDeviceEndFail) {
    // Starting beyond the device, and running past its end: kind 2, nothing to show.
    for (uint64_t lba : {kDeviceBytes / 512 + 10, kDeviceBytes / 512 - 1}) {
        const uint32_t id = AddCarved(u"gone.jpg", 0, {}, 0);
        GetNode(rs_.partitions[kFoundFilesSlot], id)->locationLba = lba;
        GetNode(rs_.partitions[kFoundFilesSlot], id)->size = 4096;
        const std::optional<PreviewResult> r = Preview(kFoundFilesSlot, id);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->kind, uint32_t(kPreviewReadFailed));
        EXPECT_TRUE(r->data.empty());
        EXPECT_TRUE(r->text.empty());
    }
}

// Every reader's prefix read against the fixture manifests: whole files by
// their sha256, and a short prefix equal to the start of the whole file.
TEST(ReadFilePrefix, WholeFilesAndPrefixesOfEveryReader) {
    for (const char* name : {"fat32/fat32", "ntfs/ntfs", "exfat/exfat"}) {
        const std::string base = name;
        PartInfo part;
        ASSERT_TRUE(
            FindImagePartition(Utf16FromUtf8(test::FixturePath(base + ".img.gz")), 0, part));
        ScanState running{kScanRunning};
        ASSERT_TRUE(ReadPartitionTree(part, running)) << name;
        std::map<std::string, uint32_t> paths = test::ListPaths(part);
        size_t checked = 0;
        for (const test::ManifestLine& m :
             test::ReadManifest(base.substr(0, base.find('/')) + "/manifest.tsv")) {
            const uint64_t size = std::stoull(m.size);
            if (m.IsDir() || m.sha == "-" || size > kMiB || !paths.count(m.path)) continue;
            const FileNode* node = GetNode(part, paths[m.path]);
            ASSERT_NE(node, nullptr);
            std::vector<uint8_t> data(size_t(size) + 1, 0xEE);
            ASSERT_TRUE(ReadFilePrefix(part, *node, uint32_t(size) + 100, data.data()))
                << name << " " << m.path;
            EXPECT_EQ(data.back(), 0xEE) << "wrote past the file: " << m.path;
            data.pop_back();
            EXPECT_EQ(test::Sha256Hex(data), m.sha) << name << " " << m.path;
            std::vector<uint8_t> prefix(7, 0xEE);
            ASSERT_TRUE(ReadFilePrefix(part, *node, 7, prefix.data()));
            const size_t n = std::min<size_t>(7, data.size());
            EXPECT_TRUE(std::equal(data.begin(), data.begin() + n, prefix.begin())) << m.path;
            ++checked;
        }
        EXPECT_GE(checked, 5u) << name;
        const FileNode* root = GetNode(part, kRootNodeId);
        uint8_t byte = 0;
        EXPECT_FALSE(ReadFilePrefix(part, *root, 1, &byte));
        FreeTable(part);
    }
}

}  // namespace
}  // namespace kestrel
