// Resident memory of a result set holding one partition of two million nodes
// with the three classification views installed: the tree of a large disk
// must stay within 1 GiB. Prints VmRSS/VmHWM before and after each step and
// the time taken.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "app/packed_time.h"
#include "app/run_state.h"
#include "carving/type_catalogue.h"
#include "fs/file_node.h"
#include "fs/result_set.h"
#include "results/class_views.h"

using namespace kestrel;

namespace {

constexpr uint32_t kDirectories = 4000;

struct Memory {
    long rssKb = 0, hwmKb = 0;
};

Memory ReadMemory() {
    Memory m;
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0) m.rssKb = std::stol(line.substr(6));
        if (line.rfind("VmHWM:", 0) == 0) m.hwmKb = std::stol(line.substr(6));
    }
    return m;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Report(const char* step, double seconds) {
    Memory m = ReadMemory();
    std::printf("%-34s %8.2f s   VmRSS %7.1f MiB   VmHWM %7.1f MiB\n", step, seconds,
                m.rssKb / 1024.0, m.hwmKb / 1024.0);
}

// A small deterministic generator: the same set on every run.
struct Lcg {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    uint32_t Next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(s >> 33);
    }
    uint32_t Below(uint32_t n) { return Next() % n; }
};

const char* const kStems[] = {"IMG_",    "DSC",   "report_", "invoice-", "Screenshot ", "notes_",
                              "backup.", "track", "scan_",   "budget ",  "photo-",      "draft_"};
const char* const kExts[] = {"jpg", "png", "docx", "pdf", "xlsx", "mp3", "mp4",
                             "txt", "zip", "doc",  "gif", "dat",  "log", "bin"};

std::u16string Ascii(const char* s) {
    std::u16string out;
    for (; *s != 0; ++s) out.push_back(char16_t(static_cast<unsigned char>(*s)));
    return out;
}

uint32_t RandomTime(Lcg& r) {
    CalendarTime t;
    t.year = 1998 + int(r.Below(26));  // a few years beyond the last year folder
    t.month = 1 + int(r.Below(12));
    t.day = 1 + int(r.Below(28));
    t.hour = int(r.Below(24));
    t.minute = int(r.Below(60));
    t.second = int(r.Below(60));
    return PackTime(t);
}

}  // namespace

int main() {
    Run().RecoverMode = kModePartitionFiles;
    BuildTypeCatalogue();
    InstallClassificationViews();
    Report("start", 0);

    auto t0 = std::chrono::steady_clock::now();
    ResultSet rs;
    ResetResultSet(rs);
    Report("result set reset (views built)", Seconds(t0));

    t0 = std::chrono::steady_clock::now();
    Lcg r;
    PartInfo part;
    part.fsKind = kFsNtfs;
    part.label = u"Bench";
    AddRootAndLostNodes(part);
    uint32_t firstDir = 0;
    for (uint32_t d = 0; d < kDirectories; ++d) {
        FileNode n = MakeNode();
        // The first hundred directories sit at the root, the rest below them.
        n.parentId = d < 100 ? kRootNodeId : firstDir + r.Below(d);
        SetNodeKind(n, kLiveDir);
        char name[32];
        std::snprintf(name, sizeof name, "Folder %04u", d);
        n.name = CopyNodeName(Ascii(name));
        n.created = n.modified = RandomTime(r);
        uint32_t id = AddNode(part, n, false);
        if (d == 0) firstDir = id;
    }
    uint32_t files = 0;
    while (part.nodeCount < kFileNodeLimit) {
        FileNode n = MakeNode();
        n.parentId = firstDir + r.Below(kDirectories);
        SetNodeKind(n, r.Below(4) == 0 ? kDeletedFile : kLiveFile);
        char name[48];
        std::snprintf(name, sizeof name, "%s%08u_%03u.%s", kStems[r.Below(12)],
                      r.Next() % 100000000u, r.Below(1000), kExts[r.Below(14)]);
        n.name = CopyNodeName(Ascii(name));
        n.size = r.Below(1u << 24);
        n.created = RandomTime(r);
        n.modified = r.Below(50) == 0 ? 0 : RandomTime(r);
        if (AddNode(part, n, false) == 0) break;
        ++files;
    }
    LinkChildren(part);
    std::printf("partition: %u files, %u directories, %u slots, FileNode %zu bytes\n", files,
                kDirectories, part.nodeCount, sizeof(FileNode));
    Report("partition built and linked", Seconds(t0));

    t0 = std::chrono::steady_clock::now();
    AddPartition(rs, part, nullptr, false);
    Report("added: counted and classified", Seconds(t0));
    std::printf("listed %u; views: type %u entries (%u files), created %u, modified %u\n",
                rs.partitions[kFirstReadSlot].listedTotal, rs.classTrees[0].nodeCount,
                rs.classTrees[0].listedTotal, rs.classTrees[1].listedTotal,
                rs.classTrees[2].listedTotal);

    t0 = std::chrono::steady_clock::now();
    ClearResultSet(rs);
    Report("cleared", Seconds(t0));
    Memory m = ReadMemory();
    return m.hwmKb <= 1024 * 1024 ? 0 : 1;
}
