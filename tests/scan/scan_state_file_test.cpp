// The scan-state file: byte layout, round trips of real scan catalogues, the
// identity check, and hostile or truncated files.
#include "scan/scan_state_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/guarded_memory.h"
#include "app/text_utils.h"
#include "fs/ntfs_record_summary.h"
#include "scan/scan_state_records.h"
#include "tests/scan/scan_state_test_util.h"
#include "tests/scan/scan_test_util.h"

namespace kestrel {
namespace {

using namespace kestrel::test;

// Little-endian bytes written out by hand, field by field.
struct Bytes {
    std::vector<uint8_t> v;
    Bytes& u8(uint8_t x) {
        v.push_back(x);
        return *this;
    }
    Bytes& u16(uint16_t x) { return u8(uint8_t(x)).u8(uint8_t(x >> 8)); }
    Bytes& u32(uint32_t x) { return u16(uint16_t(x)).u16(uint16_t(x >> 16)); }
    Bytes& u64(uint64_t x) { return u32(uint32_t(x)).u32(uint32_t(x >> 32)); }
    Bytes& text(const char* s) {
        while (*s) u8(uint8_t(*s++));
        return *this;
    }
    Bytes& fill(size_t n, uint8_t x) {
        v.insert(v.end(), n, x);
        return *this;
    }
    Bytes& raw(const std::vector<uint8_t>& b) {
        v.insert(v.end(), b.begin(), b.end());
        return *this;
    }
};

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string StatePath(const std::string& name) { return TempDir("scan-state") + "/" + name; }

std::vector<uint8_t> Sector(uint8_t fill) {
    std::vector<uint8_t> s(512, fill);
    s[510] = 0x55;
    s[511] = 0xAA;
    return s;
}

void* GuardedBytes(const std::vector<uint8_t>& b) {
    void* p = GuardedAlloc(uint32_t(b.size()), __LINE__);
    std::memcpy(p, b.data(), b.size());
    return p;
}

FoundItem Item(uint8_t type, uint64_t lba, uint8_t status = 0) {
    FoundItem it;
    it.type = type;
    it.lba = lba;
    it.status = status;
    return it;
}

FoundItem FileRecordItem(uint64_t lba, const WString& name, std::vector<uint8_t> runs) {
    FoundItem it = Item(kCodeFileRecord, lba);
    auto* s = new FileRecordSummary;
    s->parentRecord = 5;
    s->recordNumber = 0x1234;
    s->name = name;
    s->runList = std::move(runs);
    s->size = 0x1122334455;
    s->allocatedSize = 0x2000000000;
    s->flags = kSummaryInUse | kSummaryResidentData;
    it.data = s;
    return it;
}

// Series structures as a loaded file would hold them.
std::vector<uint8_t> SeriesList() {
    return Bytes().u32(2).u32(1).u32(0xAABBCCDD).fill(5, 0x11).u32(0).fill(5, 0x22).v;
}

constexpr uint64_t kBlock = 0x4000;

// A session of a three-block device with one item of every payload class,
// the map [processed, claimed, unread] and a cursor inside the second block.
void BuildSmallSession(ScanSession& s) {
    s.scanned.diskName = u"AB";
    s.scanned.deviceSectors = 3 * kBlock;
    s.scanned.sizeSectors = 3 * kBlock;
    s.schedule.map.Allocate(3);
    s.schedule.map.Set(0, kBlockProcessed);
    s.schedule.map.Set(1, kBlockClaimed);
    s.schedule.cursor = kBlock * 2;
    s.schedule.rangeStart = 0;
    s.schedule.rangeEnd = 2 * kBlock;
    s.catalogue.Reset(3);

    std::vector<FoundItem> first;
    FoundItem jpeg = Item(36, 7, 4);
    jpeg.SetFileLength(0x100000200ull);
    first.push_back(jpeg);
    FoundItem mbr = Item(kCodeMbr, 0);
    mbr.data = CopySectorPayload(Sector(0x5A).data());
    first.push_back(mbr);
    first.push_back(FileRecordItem(100, u"ab", {0x11, 0x02, 0x03}));
    first.push_back(FileRecordItem(102, u"", {}));
    FoundItem indx = Item(kCodeIndexBlock, 200);
    indx.payload = 0x77;
    first.push_back(indx);
    FoundItem dir = Item(kCodeFatDir, 300);
    dir.payload = 0x00030004;
    dir.extra = 0x00010002;
    first.push_back(dir);
    first.push_back(Item(kCodeFatRootDir, 301));
    s.catalogue.FileBlock(0, std::move(first));

    std::vector<FoundItem> second;
    FoundItem plain = Item(200, kBlock + 1);
    plain.payload = 9;
    plain.extra = 10;
    second.push_back(plain);
    FoundItem s201 = Item(201, kBlock + 2, 4);
    s201.data = GuardedBytes(Bytes().fill(56, 0x33).raw(SeriesList()).v);
    second.push_back(s201);
    FoundItem s202 = Item(202, kBlock + 3, 4);
    s202.data = GuardedBytes(Bytes().fill(16, 0x44).v);
    second.push_back(s202);
    FoundItem s203 = Item(203, kBlock + 4, 4);
    s203.data = GuardedBytes(SeriesList());
    second.push_back(s203);
    second.push_back(Item(204, kBlock + 5, 3));  // not complete: no structure
    FoundItem s207 = Item(207, kBlock + 6);
    s207.data = GuardedBytes(Bytes().fill(68, 0x66).v);
    second.push_back(s207);
    second.push_back(Item(kCodeExfatDir, kBlock + 7));
    s.catalogue.FileBlock(1, std::move(second));
}

std::vector<uint8_t> ExpectedSmallFile() {
    Bytes b;
    b.text("VRX4").u32(4).u16(u'A').u16(u'B');
    b.u32(3).u8(2).u8(0).u8(0);  // the claimed block is written as unread
    b.u64(2 * kBlock).u64(0).u64(2 * kBlock);
    b.u32(14);
    b.u8(36).u64(7).u8(4).u32(0x200).u32(1);
    b.u8(221).u64(0).u8(0).raw(Sector(0x5A));
    b.u8(224).u64(100).u8(0);
    b.u32(5).u32(0x1234).u32(0).u32(0).u16(2).u16(3).u64(0x1122334455).u64(0x2000000000).u8(5);
    b.u16(u'a').u16(u'b').u8(0x11).u8(0x02).u8(0x03);
    b.u8(224).u64(102).u8(0);
    b.u32(5).u32(0x1234).u32(0).u32(0).u16(0).u16(0).u64(0x1122334455).u64(0x2000000000).u8(5);
    b.u8(225).u64(200).u8(0).u32(0x77);
    b.u8(231).u64(300).u8(0).u32(0x00030004).u32(0x00010002);
    b.u8(232).u64(301).u8(0);
    b.u8(200).u64(kBlock + 1).u8(0).u32(9).u32(10);
    b.u8(201).u64(kBlock + 2).u8(4).fill(56, 0x33).raw(SeriesList());
    b.u8(202).u64(kBlock + 3).u8(4).fill(16, 0x44);
    b.u8(203).u64(kBlock + 4).u8(4).raw(SeriesList());
    b.u8(204).u64(kBlock + 5).u8(3);
    b.u8(207).u64(kBlock + 6).u8(0).fill(68, 0x66);
    b.u8(235).u64(kBlock + 7).u8(0);
    return b.v;
}

// A fresh session for the three-block device of BuildSmallSession.
void SmallDevice(ScanSession& s) {
    s.scanned.diskName = u"AB";
    s.scanned.deviceSectors = 3 * kBlock;
    s.scanned.sizeSectors = 3 * kBlock;
}

TEST(ScanStateFile, WritesTheDocumentedLayoutAndReadsItBack) {
    const std::string path = StatePath("layout.dat");
    ScanSession s;
    BuildSmallSession(s);
    ASSERT_TRUE(SaveScanData(path, s));
    EXPECT_EQ(ReadWholeFile(path), ExpectedSmallFile());

    ScanSession loaded;
    SmallDevice(loaded);
    ScanState state{kScanRunning};
    ASSERT_TRUE(HasSavedScanData(path, u"AB"));
    ASSERT_TRUE(LoadScanData(path, loaded, state));
    EXPECT_EQ(MapBytes(loaded.schedule.map), (std::vector<uint8_t>{2, 0, 0}));
    EXPECT_EQ(loaded.schedule.cursor, 2 * kBlock);
    EXPECT_EQ(loaded.schedule.rangeEnd, 2 * kBlock);
    ExpectSameCatalogue(s.catalogue, loaded.catalogue);
    // The item whose status kept it from storing a structure has none.
    const FoundItem& s204 = (*loaded.catalogue.BlockItems(1))[4];
    EXPECT_EQ(s204.type, 204);
    EXPECT_EQ(s204.data, nullptr);
    const FileRecordSummary* unnamed = FileRecordOf((*loaded.catalogue.BlockItems(0))[3]);
    ASSERT_NE(unnamed, nullptr);
    EXPECT_TRUE(unnamed->name.empty());
    EXPECT_TRUE(unnamed->runList.empty());

    // Saving what was loaded gives the same bytes again.
    const std::string again = StatePath("layout-again.dat");
    ASSERT_TRUE(SaveScanData(again, loaded));
    EXPECT_EQ(ReadWholeFile(again), ExpectedSmallFile());
}

TEST(ScanStateFile, RealScanCatalogueSurvivesARoundTrip) {
    RecordingUi ui;
    ScanSession s;
    s.scanned = ImageRecord(ScanDiskPath(), 0, kDiskSectors, kDiskSectors);
    s.options.scanSize = kDiskSectors;
    s.pollMs = 2;
    ScanState state{kScanRunning};
    RunDeepScan(s, state);
    ASSERT_GT(s.catalogue.ItemCount(), 50u);
    // The scan frees its map at the end; give the save one that says which
    // blocks are done.
    s.schedule.map.Allocate(DeviceBlockCount(s.scanned));
    for (uint64_t b = 0; b < s.schedule.map.Count(); b += 2) s.schedule.map.Set(b, kBlockProcessed);

    const std::string path = StatePath("disk.dat");
    ASSERT_TRUE(SaveScanData(path, s));
    ScanSession loaded;
    loaded.scanned = s.scanned;
    ScanState loadState{kScanRunning};
    ASSERT_TRUE(LoadScanData(path, loaded, loadState));
    EXPECT_EQ(MapBytes(loaded.schedule.map), MapBytes(s.schedule.map));
    EXPECT_EQ(loaded.catalogue.ItemCount(), s.catalogue.ItemCount());
    ExpectSameCatalogue(s.catalogue, loaded.catalogue);
    size_t records = 0;
    for (const FoundItem& it : loaded.catalogue.Collect(false, false, 0, 0))
        records += it.type == kCodeFileRecord;
    EXPECT_GT(records, 10u);
}

TEST(ScanStateFile, OfferedOnlyForTheSameDiskName) {
    const std::string path = StatePath("identity.dat");
    ScanSession s;
    BuildSmallSession(s);
    ASSERT_TRUE(SaveScanData(path, s));
    EXPECT_TRUE(HasSavedScanData(path, u"AB"));  // any disk of the same make and model
    EXPECT_FALSE(HasSavedScanData(path, u"AC"));
    EXPECT_FALSE(HasSavedScanData(path, u"A"));
    EXPECT_FALSE(HasSavedScanData(path, u"ABC"));
    EXPECT_FALSE(HasSavedScanData(path, u""));
    EXPECT_FALSE(HasSavedScanData(StatePath("missing.dat"), u"AB"));
    EXPECT_FALSE(HasSavedScanData(TempDir("scan-state-dir"), u"AB"));
}

TEST(ScanStateFile, LongestMatchableIdentityIs255Characters) {
    const std::string path = StatePath("long.dat");
    ScanSession s;
    BuildSmallSession(s);
    s.scanned.diskName = WString(255, u'x');
    ASSERT_TRUE(SaveScanData(path, s));
    EXPECT_TRUE(HasSavedScanData(path, WString(255, u'x')));

    // One more character cannot be matched, so it is not saved at all, and a
    // file that claims such an identity is not a scan-state file.
    s.scanned.diskName = WString(256, u'x');
    EXPECT_FALSE(SaveScanData(StatePath("too-long.dat"), s));
    Bytes b;
    b.text("VRX4").u32(512).fill(512, 'x').u32(3).fill(3, 2).u64(0).u64(0).u64(0).u32(0);
    WriteFile(path, b.v);
    EXPECT_FALSE(HasSavedScanData(path, WString(256, u'x')));
    ScanSession loaded;
    SmallDevice(loaded);
    ScanState state{kScanRunning};
    EXPECT_FALSE(LoadScanData(path, loaded, state));
}

TEST(ScanStateFile, ZeroItemsStillRestoreTheMap) {
    const std::string path = StatePath("empty.dat");
    ScanSession s;
    SmallDevice(s);
    s.schedule.map.Allocate(3);
    s.schedule.map.Set(2, kBlockProcessed);
    s.catalogue.Reset(3);
    ASSERT_TRUE(SaveScanData(path, s));
    EXPECT_EQ(ReadWholeFile(path).size(), 8u + 4 + 4 + 3 + 24 + 4);

    ScanSession loaded;
    SmallDevice(loaded);
    ScanState state{kScanRunning};
    ASSERT_TRUE(LoadScanData(path, loaded, state));
    EXPECT_EQ(MapBytes(loaded.schedule.map), (std::vector<uint8_t>{0, 0, 2}));
    EXPECT_EQ(loaded.catalogue.BlockCount(), 3u);
    EXPECT_EQ(loaded.catalogue.ItemCount(), 0u);
}

TEST(ScanStateFile, NoMapMeansNothingToSave) {
    const std::string path = StatePath("nomap.dat");
    WriteFile(path, {1, 2, 3});
    ScanSession s;
    SmallDevice(s);
    EXPECT_TRUE(SaveScanData(path, s));
    EXPECT_EQ(ReadWholeFile(path).size(), 3u);  // untouched
}

// Nothing of a failed load may reach the session.
void ExpectNothingInstalled(const ScanSession& s) {
    EXPECT_TRUE(s.schedule.map.Empty());
    EXPECT_EQ(s.catalogue.ItemCount(), 0u);
}

TEST(ScanStateFile, EveryTruncationIsAbsentOrFailed) {
    const std::vector<uint8_t> whole = ExpectedSmallFile();
    const std::string path = StatePath("cut.dat");
    for (size_t len = 0; len < whole.size(); ++len) {
        WriteFile(path, std::vector<uint8_t>(whole.begin(), whole.begin() + len));
        // The identity is readable from 12 bytes on: the file is offered, then
        // fails to load.
        EXPECT_EQ(HasSavedScanData(path, u"AB"), len >= 12) << len;
        ScanSession loaded;
        SmallDevice(loaded);
        ScanState state{kScanRunning};
        EXPECT_FALSE(LoadScanData(path, loaded, state)) << len;
        ExpectNothingInstalled(loaded);
    }
}

struct HostileCase {
    const char* what;
    size_t offset;
    std::vector<uint8_t> bytes;
    bool offered;
};

TEST(ScanStateFile, ForeignOrDamagedHeadersAreRejected) {
    const std::vector<uint8_t> good = ExpectedSmallFile();
    // The value count of the first series entry sits just before its value.
    const uint8_t value[] = {0xDD, 0xCC, 0xBB, 0xAA};
    const size_t firstValue =
        size_t(std::search(good.begin(), good.end(), value, value + 4) - good.begin());
    const HostileCase cases[] = {
        {"other magic", 0, {'V', 'R', 'X', '3'}, false},
        {"odd identity length", 4, {3, 0, 0, 0}, false},
        {"identity length past the file", 4, {0xFE, 0x01, 0, 0}, false},
        {"map of another device size", 12, {4, 0, 0, 0}, true},
        {"map longer than the file", 12, {0, 0, 0, 0x10}, true},
        {"empty map", 12, {0, 0, 0, 0}, true},
        {"more items than stored", 43, {15, 0, 0, 0}, true},
        {"series entry with too many values", firstValue - 4, {1, 0, 0x10, 0}, true},
    };
    const std::string path = StatePath("hostile.dat");
    for (const HostileCase& c : cases) {
        std::vector<uint8_t> bytes = good;
        ASSERT_LE(c.offset + c.bytes.size(), bytes.size()) << c.what;
        std::copy(c.bytes.begin(), c.bytes.end(), bytes.begin() + long(c.offset));
        WriteFile(path, bytes);
        EXPECT_EQ(HasSavedScanData(path, u"AB"), c.offered) << c.what;
        ScanSession loaded;
        SmallDevice(loaded);
        ScanState state{kScanRunning};
        EXPECT_FALSE(LoadScanData(path, loaded, state)) << c.what;
        ExpectNothingInstalled(loaded);
    }
}

TEST(ScanStateFile, OnlyProcessedBlocksAreTrustedWhenLoading) {
    std::vector<uint8_t> bytes = ExpectedSmallFile();
    bytes[12 + 4] = 1;      // claimed
    bytes[12 + 4 + 1] = 7;  // damage
    const std::string path = StatePath("claims.dat");
    WriteFile(path, bytes);
    ScanSession loaded;
    SmallDevice(loaded);
    ScanState state{kScanRunning};
    ASSERT_TRUE(LoadScanData(path, loaded, state));
    EXPECT_EQ(MapBytes(loaded.schedule.map), (std::vector<uint8_t>{0, 0, 0}));
}

TEST(ScanStateFile, StopRequestFailsTheLoad) {
    const std::string path = StatePath("stop.dat");
    ScanSession s;
    BuildSmallSession(s);
    ASSERT_TRUE(SaveScanData(path, s));
    ScanSession loaded;
    SmallDevice(loaded);
    ScanState state{kScanStopRequested};
    EXPECT_FALSE(LoadScanData(path, loaded, state));
    ExpectNothingInstalled(loaded);
}

TEST(ScanStateFile, FailedWriteLeavesAnEmptyFile) {
    const std::string path = StatePath("full.dat");
    ScanSession s;
    BuildSmallSession(s);
    // More than the file-size limit below, so the write fails part-way.
    std::vector<FoundItem> many;
    for (uint32_t i = 0; i < 64; ++i) {
        FoundItem it = Item(kCodeNtfsBoot, 2 * kBlock + i);
        it.data = CopySectorPayload(Sector(uint8_t(i)).data());
        many.push_back(it);
    }
    s.catalogue.FileBlock(2, std::move(many));
    WriteFile(path, std::vector<uint8_t>(100, 1));

    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    struct rlimit small = old;
    small.rlim_cur = 8192;
    auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = SaveScanData(path, s);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    EXPECT_FALSE(HasSavedScanData(path, u"AB"));
}

TEST(ScanStateFile, HooksUseTheInstalledPath) {
    EXPECT_EQ(DefaultScanStateFilePath(), GetExeFolder() + "DiskScanData.dat");
    const std::string path = StatePath("hooked.dat");
    ScanSession s;
    BuildSmallSession(s);
    InstallScanStateFileHooks(s, path);
    ASSERT_NE(s.hooks.saveScanData, nullptr);
    ASSERT_TRUE(s.hooks.saveScanData(s));
    EXPECT_EQ(ReadWholeFile(path), ExpectedSmallFile());
    ScanSession loaded;
    SmallDevice(loaded);
    InstallScanStateFileHooks(loaded, path);
    EXPECT_TRUE(loaded.hooks.hasSavedData(loaded));
    ScanState state{kScanRunning};
    EXPECT_TRUE(loaded.hooks.loadSavedData(loaded, state));
    EXPECT_EQ(loaded.catalogue.ItemCount(), 14u);

    SaveScanDataJob job;
    job.session = &s;
    job.path = StatePath("thread.dat");
    SaveDiskScanDataThread(&job);
    EXPECT_EQ(job.status.load(), kJobDone);
    EXPECT_EQ(ReadWholeFile(job.path), ExpectedSmallFile());
    job.path = TempDir("scan-state-dir2");  // a folder cannot be written as the file
    SaveDiskScanDataThread(&job);
    EXPECT_EQ(job.status.load(), kJobCancelled);
}

}  // namespace
}  // namespace kestrel
