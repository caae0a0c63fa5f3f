// Names from a hostile image must never create anything outside the folder
// being exported into: FAT long names patched to "..", "." and "a/../../x",
// and a synthetic found-files table with names (and a label) that no reader
// lets through.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "export_test_support.h"
#include "tests/support/manifest.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using test::LoadedSet;

class ExportHostileTest : public test::ExportTestBase {};

const uint8_t kLongNameOffsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};

// Rewrites every live long-name chain that reads oldName so that it reads
// newName (which must fit the chain's entries). Returns how many it patched.
int PatchLongName(std::vector<uint8_t>& img, const std::u16string& oldName,
                  const std::u16string& newName) {
    int patched = 0;
    for (size_t o = 0; o + 32 <= img.size(); o += 32) {
        const uint8_t seq = img[o];
        const size_t parts = seq & 0x1F;
        if (img[o + 11] != 0x0F || (seq & 0xC0) != 0x40 || parts == 0 || parts > 20) continue;
        if (o + 32 * parts > img.size()) continue;
        std::u16string name;
        for (size_t p = 1; p <= parts; ++p) {
            const size_t e = o + 32 * (parts - p);
            for (uint8_t off : kLongNameOffsets)
                name += char16_t(img[e + off] | (img[e + off + 1] << 8));
        }
        const size_t nul = name.find(u'\0');
        if (nul != std::u16string::npos) name.resize(nul);
        if (name != oldName) continue;
        EXPECT_LE(newName.size(), 13 * parts);
        for (size_t p = 1; p <= parts; ++p) {
            const size_t e = o + 32 * (parts - p);
            for (size_t c = 0; c < 13; ++c) {
                const size_t at = (p - 1) * 13 + c;
                const uint16_t v = at < newName.size()    ? uint16_t(newName[at])
                                   : at == newName.size() ? 0
                                                          : 0xFFFF;
                img[e + kLongNameOffsets[c]] = uint8_t(v);
                img[e + kLongNameOffsets[c] + 1] = uint8_t(v >> 8);
            }
        }
        ++patched;
    }
    return patched;
}

std::string ShaOf(const std::vector<test::ManifestLine>& manifest, const std::string& path) {
    for (const auto& m : manifest)
        if (m.path == path) return m.sha;
    return "?";
}

// The entry of dir whose name matches pattern; empty when none or several do.
std::string OnlyMatch(const std::string& dir, const std::string& pattern) {
    std::string found;
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (std::regex_match(name, std::regex(pattern))) found = name, ++n;
    }
    return n == 1 ? found : std::string();
}

TEST_F(ExportHostileTest, PatchedFatNamesStayInsideTheExport) {
    const std::string image = test::FixtureCopy("fat32/fat32.img.gz", "export_hostile_fat32.img");
    std::vector<uint8_t> img = test::ReadFileBytes(image);
    ASSERT_EQ(PatchLongName(img, u"Long File Name With Spaces.txt", u"a/../../x"), 1);
    ASSERT_EQ(PatchLongName(img, u"frag b.bin", u".."), 1);
    ASSERT_EQ(PatchLongName(img, u"fragmented c.bin", u"."), 1);
    ASSERT_EQ(PatchLongName(img, u"照片", u".."), 1);
    std::ofstream(image, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(img.data()), std::streamsize(img.size()));

    LoadedSet set(image);
    ASSERT_TRUE(set.ok);
    ASSERT_NE(set.Find("docs/a/../../x"), nullptr);  // the reader keeps the name as found
    const std::string base = test::TempDir("export_hostile_fat");
    const std::string target = base + "/target";
    fs::create_directory(target);
    test::RunExportInto(set.rs, target);

    for (const std::string& p : test::AllPaths(base)) EXPECT_EQ(p.rfind("target", 0), 0u) << p;
    const auto manifest = test::ReadManifest("fat32/manifest.tsv");
    const std::string part = set.PartDir(target);
    const std::string slashName = OnlyMatch(part + "/docs", "a[0-9]\\.\\.[0-9]\\.\\.[0-9]x");
    ASSERT_FALSE(slashName.empty());
    EXPECT_EQ(test::FileSha(part + "/docs/" + slashName),
              ShaOf(manifest, "docs/Long File Name With Spaces.txt"));
    // The reader drops entries that call themselves "." or ".." (a directory's
    // own links); whatever it keeps, nothing of theirs may surface anywhere.
    for (const std::string& p : test::AllPaths(part)) {
        const std::string name = fs::path(p).filename().string();
        EXPECT_TRUE(name != "." && name != ".." && name != "x") << p;
    }
}

uint32_t AddCarved(PartInfo& part, uint32_t parent, uint32_t kind, const char16_t* name,
                   uint64_t lba, uint64_t size) {
    FileNode n = MakeNode();
    n.parentId = parent;
    SetNodeKind(n, kind);
    n.name = CopyNodeName(name);
    n.locationLba = lba;
    n.size = size;
    return AddNode(part, n, false);
}

TEST_F(ExportHostileTest, SlashesDotsAndEmptyNamesOfASyntheticTableStayInside) {
    const std::string base = test::TempDir("export_hostile_synth");
    const std::string image = base + "/device.img";
    {
        std::vector<char> bytes(64 * 512);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = char('A' + i % 26);
        std::ofstream(image, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    PartInfo part;
    part.fsKind = kFsFoundFiles;
    part.devicePath = Utf16FromUtf8(image);
    part.label = u"../../label";
    AddRootAndLostNodes(part);
    const uint32_t up = AddCarved(part, kRootNodeId, kLiveDir, u"..", 0, 0);
    AddCarved(part, up, kLiveFile, u"a/../../x", 0, 26);
    AddCarved(part, up, kLiveFile, u"/etc/passwd", 1, 26);
    AddCarved(part, kRootNodeId, kLiveFile, u".", 2, 26);
    AddCarved(part, kRootNodeId, kLiveFile, u"", 3, 26);
    AddCarved(part, kRootNodeId, kLiveFile, u"..", 4, 26);
    const uint32_t loop = AddCarved(part, kRootNodeId, kLiveDir, u"loop", 0, 0);
    AddCarved(part, loop, kLiveFile, u"inner", 5, 26);
    LinkChildren(part);
    // A damaged table whose directory lists itself: written once, no endless walk.
    ASSERT_TRUE(AppendChild(part, loop, loop));

    LoadedSet set;
    set.Add(part);
    ASSERT_TRUE(set.ok);
    const std::string target = base + "/target";
    fs::create_directory(target);
    const test::ExportRun run = test::RunExportInto(set.rs, target);
    EXPECT_EQ(run.filesDone, 6u);
    EXPECT_EQ(run.bytesDone, 6u * 26);

    const std::vector<std::string> all = test::AllPaths(base);
    for (const std::string& p : all)
        EXPECT_TRUE(p == "device.img" || p.rfind("target", 0) == 0) << p;
    const std::string root = target + "/" + Utf8FromWide(kExportRootName);
    std::vector<std::string> below;
    for (const std::string& p : test::AllPaths(root)) below.push_back(p);
    ASSERT_FALSE(below.empty());
    const std::string label = below.front();
    EXPECT_EQ(label.find('/'), std::string::npos);
    EXPECT_NE(label.find("label"), std::string::npos);
    // The label's slashes became digits; every file carries its carved bytes.
    int carved = 0;
    for (const auto& e : fs::recursive_directory_iterator(root + "/" + label)) {
        const std::string name = e.path().filename().string();
        EXPECT_NE(name, ".");
        EXPECT_NE(name, "..");
        if (!e.is_regular_file()) continue;
        const std::string text = test::ReadText(e.path().string());
        ASSERT_EQ(text.size(), 26u) << name;
        ++carved;
    }
    EXPECT_EQ(carved, 6);
    EXPECT_TRUE(fs::is_regular_file(root + "/" + label + "/loop/inner"));
}

TEST(ExportNames, RepairKeepsOneComponentThatFitsTheFileSystem) {
    const struct {
        const char16_t* name;
        const char* pattern;  // of the repaired name, in UTF-8
    } cases[] = {
        {u"a?b.txt", "a[0-9]b\\.txt"},
        {u"отчёт.doc", "[0-9]{5}\\.doc"},
        {u"a/b", "a[0-9]b"},
        {u"..", "[0-9]{8}"},
        {u"", "[0-9]{8}"},
        {u"报告 2019.docx", "报告 2019\\.docx"},
    };
    for (const auto& c : cases) {
        const std::string repaired = Utf8FromWide(RepairComponentName(c.name));
        EXPECT_TRUE(std::regex_match(repaired, std::regex(c.pattern))) << repaired;
    }
    // 120 CJK characters are 360 bytes in UTF-8: cut to 255 bytes, extension kept.
    const WString longName = WString(120, u'长') + u".txt";
    const std::string cut = Utf8FromWide(RepairComponentName(longName));
    EXPECT_LE(cut.size(), 255u);
    EXPECT_GT(cut.size(), 240u);
    EXPECT_EQ(cut.substr(cut.size() - 4), ".txt");
    EXPECT_EQ(Utf8FromWide(SafeComponentName(u"a?b")), "a?b");  // legal here, kept as is
}

TEST_F(ExportHostileTest, OverlongNamesAreShortenedAndDeepPathsStopAt260) {
    const std::string base = test::TempDir("export_long");
    const std::string image = base + "/device.img";
    {
        std::vector<char> bytes(16 * 512, 'z');
        std::ofstream(image, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    PartInfo part;
    part.fsKind = kFsFoundFiles;
    part.devicePath = Utf16FromUtf8(image);
    AddRootAndLostNodes(part);
    const WString longName = WString(120, u'长') + u".txt";
    AddCarved(part, kRootNodeId, kLiveFile, longName.c_str(), 0, 10);
    uint32_t parent = kRootNodeId;
    for (int i = 0; i < 12; ++i)
        parent = AddCarved(part, parent, kLiveDir, WString(40, char16_t(u'a' + i)).c_str(), 0, 0);
    AddCarved(part, parent, kLiveFile, u"bottom", 1, 10);
    LinkChildren(part);
    LoadedSet set;
    set.Add(part);
    ASSERT_TRUE(set.ok);
    fs::create_directory(base + "/out");
    const test::ExportRun run = test::RunExportInto(set.rs, base + "/out");
    EXPECT_EQ(run.filesDone, 1u);

    bool shortened = false, reachedLimit = false;
    for (const auto& e : fs::recursive_directory_iterator(base + "/out")) {
        const std::string name = e.path().filename().string();
        EXPECT_NE(name, "bottom");
        if (e.is_regular_file() && name.size() <= 255 && name.rfind("长", 0) == 0 &&
            name.size() > 4 && name.substr(name.size() - 4) == ".txt")
            shortened = test::ReadText(e.path().string()) == std::string(10, 'z');
        if (!e.is_directory()) continue;
        const size_t len = Utf16FromUtf8(e.path().string()).size();
        const size_t parentLen = Utf16FromUtf8(e.path().parent_path().string()).size();
        if (name.size() == 40) {
            EXPECT_LT(parentLen, kExportPathLimit) << e.path();
        }
        reachedLimit = reachedLimit || len >= kExportPathLimit;
    }
    EXPECT_TRUE(shortened);
    EXPECT_TRUE(reachedLimit);
}

}  // namespace
}  // namespace kestrel
