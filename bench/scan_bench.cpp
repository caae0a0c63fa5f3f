// scan_bench [IMAGE]: how fast the deep scan goes next to plainly reading the
// same medium. Without an argument a 1 GiB image with a realistic mix is made
// in the current directory (scan_bench.img): the scan fixture disk (four real
// file systems) copied in four times, real JPEG and ZIP files repeated at
// sector boundaries between random filler, a random region and a zero region.
// Both passes start with the image's pages dropped from the page cache.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/user_interaction.h"
#include "scan/scan_session.h"

namespace {

using namespace kestrel;

constexpr uint64_t kMiB = 1 << 20;
constexpr uint64_t kGiB = 1ull << 30;

std::vector<uint8_t> Gunzip(const std::string& path) {
    std::vector<uint8_t> out;
    gzFile in = gzopen(path.c_str(), "rb");
    if (!in) return out;
    std::vector<uint8_t> buf(kMiB);
    int n;
    while ((n = gzread(in, buf.data(), unsigned(buf.size()))) > 0)
        out.insert(out.end(), buf.data(), buf.data() + n);
    gzclose(in);
    return out;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

// The first ZIP stored on a sector boundary of the disk, up to its end record.
std::vector<uint8_t> FirstZip(const std::vector<uint8_t>& disk) {
    for (size_t off = 0; off + 512 <= disk.size(); off += 512) {
        if (std::memcmp(&disk[off], "PK\x03\x04", 4) != 0) continue;
        for (size_t e = off; e + 22 <= disk.size() && e < off + 16 * kMiB; ++e)
            if (std::memcmp(&disk[e], "PK\x05\x06", 4) == 0)
                return std::vector<uint8_t>(disk.begin() + long(off), disk.begin() + long(e + 22));
    }
    return {};
}

struct Random {
    uint64_t s = 0x9E3779B97F4A7C15ull;
    uint64_t Next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    void Fill(uint8_t* p, size_t n) {
        for (size_t i = 0; i + 8 <= n; i += 8) {
            const uint64_t v = Next();
            std::memcpy(p + i, &v, 8);
        }
    }
};

bool MakeImage(const std::string& path) {
    const std::vector<uint8_t> disk = Gunzip(KESTREL_SOURCE_DIR "/tests/data/scan/disk.img.gz");
    const std::vector<uint8_t> jpeg = ReadFile(KESTREL_SOURCE_DIR "/tests/data/scan/sample.jpg");
    const std::vector<uint8_t> zip = FirstZip(disk);
    if (disk.size() != 64 * kMiB || jpeg.empty() || zip.empty()) return false;
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    Random rnd;
    std::vector<uint8_t> chunk(64 * kMiB);
    auto put = [&](const std::vector<uint8_t>& v) {
        return std::fwrite(v.data(), 1, v.size(), f) == v.size();
    };
    bool ok = true;
    for (int part = 0; part < 16 && ok; ++part) {
        if (part < 4) {
            ok = put(disk);  // 4 x 64 MiB of file systems
        } else if (part < 10) {
            // 6 x 64 MiB of "photos and archives": files at sector boundaries
            // with random filler, as on a camera card or a download folder.
            size_t off = 0;
            for (int k = 0; off + 1 * kMiB < chunk.size(); ++k) {
                const std::vector<uint8_t>& file = (k % 4 == 3) ? zip : jpeg;
                std::memcpy(&chunk[off], file.data(), file.size());
                off += (file.size() + 511) / 512 * 512;
                const size_t gap = 512 * (1 + rnd.Next() % 64);
                rnd.Fill(&chunk[off], gap);
                off += gap;
            }
            std::memset(&chunk[off], 0, chunk.size() - off);
            ok = put(chunk);
        } else if (part < 13) {
            rnd.Fill(chunk.data(), chunk.size());  // 3 x 64 MiB random (compressed media)
            ok = put(chunk);
        } else {
            std::fill(chunk.begin(), chunk.end(), 0);  // 3 x 64 MiB of zeros
            ok = put(chunk);
        }
    }
    ok = ok && std::fflush(f) == 0 && fsync(fileno(f)) == 0;
    return std::fclose(f) == 0 && ok;
}

bool DropCache(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    fdatasync(fd);
    const bool ok = posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    close(fd);
    return ok;
}

double Seconds(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Answers nothing and prints nothing: the bench must not stop for questions.
struct QuietUi : IUserInteraction {
    void ShowMessage(const WString&) override {}
    bool AskYesNo(const WString&, bool) override { return false; }
    int AskChoice(const WString&, const std::vector<WString>&, int d) override { return d; }
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Plain sequential 8 MiB preads; returns seconds.
double ReadPass(const std::string& path, uint64_t bytes) {
    std::vector<uint8_t> buf(8 * kMiB);
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return 1e9;
    const auto t0 = std::chrono::steady_clock::now();
    for (uint64_t off = 0; off < bytes; off += buf.size())
        if (pread(fd, buf.data(), buf.size(), off_t(off)) < 0) break;
    const double s = Seconds(t0);
    close(fd);
    return s;
}

// A deep scan of the whole image (mode 3, default options); returns seconds.
double ScanPass(const std::string& path, uint64_t bytes, uint64_t& cpuNs, size_t* finds = nullptr,
                uint64_t* readerCpuNs = nullptr) {
    ScanSession s;
    s.scanned.startLba = 0;
    s.scanned.sizeSectors = bytes / 512;
    s.scanned.deviceSectors = bytes / 512;
    s.scanned.devicePath = Utf16FromUtf8(path);
    s.recoverMode = 3;
    s.options.scanSize = bytes / 512;
    s.options.showWhileScanning = 1;
    ScanState state{kScanRunning};
    const auto t0 = std::chrono::steady_clock::now();
    RunDeepScan(s, state);
    const double secs = Seconds(t0);
    cpuNs = s.processorCpuNs;
    if (finds) *finds = s.catalogue.ItemCount();
    if (readerCpuNs) *readerCpuNs = s.readerCpuNs;
    return secs;
}

}  // namespace

int main(int argc, char** argv) {
    std::string path = argc > 1 ? argv[1] : "scan_bench.img";
    if (argc <= 1) {
        struct stat st {};
        if (stat(path.c_str(), &st) != 0 || uint64_t(st.st_size) != kGiB) {
            std::fprintf(stderr, "making %s (1 GiB)...\n", path.c_str());
            if (!MakeImage(path)) {
                std::fprintf(stderr, "scan_bench: cannot make %s\n", path.c_str());
                return 2;
            }
        }
    }
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || st.st_size < 512) {
        std::fprintf(stderr, "scan_bench: cannot use %s\n", path.c_str());
        return 2;
    }
    const uint64_t bytes = uint64_t(st.st_size);
    const double mb = double(bytes) / double(kMiB);
    const double gib = double(bytes) / double(kGiB);
    QuietUi quiet;
    SetUserInteraction(&quiet);

    // Cloud and USB media vary a lot from one pass to the next (burst
    // credits, host caches), so the cold passes alternate in order over three
    // rounds and the medians are reported; the warm passes (image in the page
    // cache) show what the scan itself can do when the medium is not the limit.
    std::vector<double> coldRead, coldScan, cpu, readerCpu;
    for (int round = 0; round < 3; ++round) {
        for (int k = 0; k < 2; ++k) {
            const bool scanPass = (k == 1) == (round % 2 == 0);
            DropCache(path);
            if (scanPass) {
                uint64_t cpuNs = 0, readerNs = 0;
                coldScan.push_back(mb / ScanPass(path, bytes, cpuNs, nullptr, &readerNs));
                cpu.push_back(double(cpuNs) / 1e9 / gib);
                readerCpu.push_back(double(readerNs) / 1e9 / gib);
            } else {
                coldRead.push_back(mb / ReadPass(path, bytes));
            }
        }
    }
    ReadPass(path, bytes);  // fill the page cache
    const double warmRead = mb / ReadPass(path, bytes);
    uint64_t warmCpuNs = 0, warmReaderNs = 0;
    size_t finds = 0;
    const double warmScan = mb / ScanPass(path, bytes, warmCpuNs, &finds, &warmReaderNs);
    SetUserInteraction(nullptr);

    std::printf("image\t%s\t%.0f MiB\t%zu finds\n", path.c_str(), mb, finds);
    std::printf("sequential read (cold)\t%.1f MB/s\t(rounds %.0f %.0f %.0f)\n", Median(coldRead),
                coldRead[0], coldRead[1], coldRead[2]);
    std::printf("deep scan (cold)\t%.1f MB/s\t(rounds %.0f %.0f %.0f)\n", Median(coldScan),
                coldScan[0], coldScan[1], coldScan[2]);
    std::printf("sequential read (cached)\t%.1f MB/s\n", warmRead);
    std::printf("deep scan (cached)\t%.1f MB/s\n", warmScan);
    std::printf("processor CPU\t%.2f s per GiB (cached pass %.2f)\n", Median(cpu),
                double(warmCpuNs) / 1e9 / gib);
    // Next to the processor's figure: in a cold scan the reader's time is
    // the medium plus its copy out of the page cache.
    std::printf("reader CPU\t%.2f s per GiB (cached pass %.2f)\n", Median(readerCpu),
                double(warmReaderNs) / 1e9 / gib);
    // With each thread on its own core the scan cannot go faster than its
    // busier thread allows.
    const double busiest = double(std::max(warmCpuNs, warmReaderNs)) / 1e9;
    if (busiest > 0) std::printf("CPU-bound ceiling\t%.1f MB/s\n", mb / busiest);
    return 0;
}
