#include "platform/block_devices.h"

#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace kestrel {

namespace {

namespace fs = std::filesystem;

// sysfs attributes are a line or two; a file that is not stops being read here.
constexpr size_t kMaxAttributeBytes = 4096;
// mountinfo of a container host can be long, but not this long.
constexpr size_t kMaxMountInfoBytes = 16u << 20;
constexpr size_t kMaxDirEntries = 4096;

std::string ReadFileText(const std::string& path, size_t maxBytes) {
    std::ifstream in(path, std::ios::binary);
    std::string text;
    char buf[4096];
    while (in && text.size() < maxBytes) {
        in.read(buf, std::streamsize(std::min(sizeof buf, maxBytes - text.size())));
        text.append(buf, size_t(in.gcount()));
    }
    return text;
}

std::string Trim(std::string_view s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return std::string(s.substr(b, e - b));
}

std::string ReadAttribute(const std::string& path) {
    return Trim(ReadFileText(path, kMaxAttributeBytes));
}

bool ParseU64(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        const uint64_t d = uint64_t(c - '0');
        if (v > (UINT64_MAX - d) / 10) return false;
        v = v * 10 + d;
    }
    value = v;
    return true;
}

uint64_t ReadU64Attribute(const std::string& path) {
    uint64_t v = 0;
    return ParseU64(ReadAttribute(path), v) ? v : 0;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// "usb2", "ata3", "host6": a word followed by a number and nothing else.
bool IsWordNumber(std::string_view component, std::string_view word) {
    if (component.size() <= word.size() || !StartsWith(component, word)) return false;
    return std::all_of(component.begin() + long(word.size()), component.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string_view> PathComponents(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t pos = 0;
    while (pos <= path.size()) {
        const size_t slash = path.find('/', pos);
        const size_t end = slash == std::string_view::npos ? path.size() : slash;
        if (end > pos) parts.push_back(path.substr(pos, end - pos));
        if (slash == std::string_view::npos) break;
        pos = slash + 1;
    }
    return parts;
}

// Names compared with their digit runs as numbers, so sdb < sdc and
// nvme2n1 < nvme10n1.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i]));
        const bool db = std::isdigit(static_cast<unsigned char>(b[j]));
        if (da && db) {
            size_t ie = i, je = j;
            while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
            while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
            size_t is = i, js = j;  // leading zeros do not make a number bigger
            while (is + 1 < ie && a[is] == '0') ++is;
            while (js + 1 < je && b[js] == '0') ++js;
            if (ie - is != je - js) return ie - is < je - js;
            const int c = a.compare(is, ie - is, b, js, je - js);
            if (c != 0) return c < 0;
            i = ie;
            j = je;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

bool IsExcludedName(const std::string& name) {
    static const char* const kPrefixes[] = {"ram", "zram", "dm-", "md", "sr", "fd", "nbd"};
    for (const char* p : kPrefixes)
        if (StartsWith(name, p)) return true;
    // eMMC boot partitions and the replay-protected area are not the user's disk.
    if (StartsWith(name, "mmcblk") &&
        (name.find("boot") != std::string::npos || name.find("rpmb") != std::string::npos))
        return true;
    return false;
}

std::vector<BlockPartition> ReadPartitions(const std::string& diskDir, const std::string& name) {
    std::vector<BlockPartition> parts;
    std::error_code ec;
    fs::directory_iterator it(diskDir, ec), end;
    for (size_t seen = 0; !ec && it != end && seen < kMaxDirEntries; it.increment(ec), ++seen) {
        const std::string child = it->path().filename().string();
        if (!StartsWith(child, name) || child.size() == name.size()) continue;
        const std::string dir = diskDir + "/" + child;
        uint64_t number = 0;
        if (!ParseU64(ReadAttribute(dir + "/partition"), number) || number > UINT32_MAX) continue;
        BlockPartition p;
        p.name = child;
        p.number = uint32_t(number);
        p.startLba = ReadU64Attribute(dir + "/start");
        p.sizeSectors = ReadU64Attribute(dir + "/size");
        p.devNumber = ReadAttribute(dir + "/dev");
        // An extended-partition container shows as 1 KiB; it holds no file system.
        if (p.sizeSectors <= 2) continue;
        parts.push_back(std::move(p));
    }
    std::sort(parts.begin(), parts.end(), [](const BlockPartition& a, const BlockPartition& b) {
        return a.number != b.number ? a.number < b.number : a.name < b.name;
    });
    return parts;
}

// The octal escapes the kernel writes into mountinfo fields.
std::string UnescapeMountField(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && field.size() - i >= 4) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(char((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string SystemRoot::Join(std::string_view rel) const {
    std::string base = path.empty() ? std::string("/") : path;
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    while (!rel.empty() && rel.front() == '/') rel.remove_prefix(1);
    // Appending in place: "/" + std::string trips a false -Wrestrict in GCC 12 at -O3.
    if (base != "/") base += '/';
    base.append(rel.data(), rel.size());
    return base;
}

BusKind BusFromSysfsPath(std::string_view devicePath) {
    const std::vector<std::string_view> parts = PathComponents(devicePath);
    auto any = [&](auto pred) { return std::any_of(parts.begin(), parts.end(), pred); };
    if (any([](std::string_view c) { return IsWordNumber(c, "usb"); })) return BusKind::kUsb;
    if (any([](std::string_view c) { return c == "nvme"; })) return BusKind::kNvme;
    if (any([](std::string_view c) { return c == "mmc_host"; })) return BusKind::kSd;
    if (any([](std::string_view c) { return IsWordNumber(c, "virtio"); })) return BusKind::kVirtio;
    if (any([](std::string_view c) { return IsWordNumber(c, "ata"); })) return BusKind::kAta;
    if (any([](std::string_view c) { return IsWordNumber(c, "host"); })) return BusKind::kScsi;
    if (any([](std::string_view c) { return c == "virtual"; })) return BusKind::kVirtual;
    return BusKind::kUnknown;
}

const char* BusName(BusKind bus) {
    switch (bus) {
        case BusKind::kVirtual:
            return "virtual";
        case BusKind::kUsb:
            return "USB";
        case BusKind::kNvme:
            return "NVMe";
        case BusKind::kSd:
            return "SD";
        case BusKind::kVirtio:
            return "virtio";
        case BusKind::kAta:
            return "ATA";
        case BusKind::kScsi:
            return "SCSI";
        case BusKind::kUnknown:
            break;
    }
    return "unknown";
}

std::vector<BlockDisk> ListBlockDisks(const SystemRoot& root) {
    std::vector<BlockDisk> disks;
    std::vector<BlockDisk> loops;
    const std::string blockDir = root.Join("sys/block");
    std::error_code ec;
    fs::directory_iterator it(blockDir, ec), end;
    for (size_t seen = 0; !ec && it != end && seen < kMaxDirEntries; it.increment(ec), ++seen) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.' || IsExcludedName(name)) continue;
        const std::string dir = blockDir + "/" + name;
        std::error_code linkEc;
        const fs::path target = fs::read_symlink(dir, linkEc);
        BlockDisk d;
        d.name = name;
        d.bus = linkEc ? BusKind::kUnknown : BusFromSysfsPath(target.string());
        d.sizeSectors = ReadU64Attribute(dir + "/size");
        if (d.sizeSectors == 0) continue;  // no medium
        if (ReadAttribute(dir + "/hidden") == "1") continue;
        const bool isLoop = StartsWith(name, "loop");
        if (isLoop) {
            if (ReadAttribute(dir + "/loop/backing_file").empty()) continue;
        } else if (d.bus == BusKind::kVirtual) {
            continue;
        }
        d.removable = ReadAttribute(dir + "/removable") == "1";
        d.vendor = ReadAttribute(dir + "/device/vendor");
        // A PCI vendor number (virtio) is not a name anyone recognises.
        if (StartsWith(d.vendor, "0x")) d.vendor.clear();
        d.model = ReadAttribute(dir + "/device/model");
        // Memory cards name themselves in the card's "name" attribute.
        if (d.model.empty() && d.bus == BusKind::kSd) d.model = ReadAttribute(dir + "/device/name");
        d.devNumber = ReadAttribute(dir + "/dev");
        d.partitions = ReadPartitions(dir, name);
        (isLoop ? loops : disks).push_back(std::move(d));
    }
    auto byName = [](const BlockDisk& a, const BlockDisk& b) {
        return NaturalLess(a.name, b.name);
    };
    std::sort(disks.begin(), disks.end(), byName);
    std::sort(loops.begin(), loops.end(), byName);
    for (BlockDisk& l : loops) disks.push_back(std::move(l));
    return disks;
}

std::string DiskDescriptionText(const BlockDisk& disk) {
    if (disk.vendor.empty()) return disk.model;
    if (disk.model.empty()) return disk.vendor;
    return disk.vendor + " " + disk.model;
}

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::vector<std::string_view> f;
        // Fields are separated by single blanks; escapes keep blanks out of them.
        std::string_view line = text.substr(pos, eol - pos);
        size_t p = 0;
        while (p < line.size()) {
            const size_t sp = line.find(' ', p);
            const size_t e = sp == std::string_view::npos ? line.size() : sp;
            if (e > p) f.push_back(line.substr(p, e - p));
            if (sp == std::string_view::npos) break;
            p = sp + 1;
        }
        pos = eol + 1;
        // id parent major:minor root mountpoint options [optional...] - type source super
        size_t sep = 6;
        while (sep < f.size() && f[sep] != "-") ++sep;
        if (f.size() < 6 || sep + 2 >= f.size()) continue;
        if (f[2].find(':') == std::string_view::npos) continue;
        MountEntry m;
        m.devNumber = std::string(f[2]);
        m.mountPoint = UnescapeMountField(f[4]);
        m.fsType = std::string(f[sep + 1]);
        m.source = UnescapeMountField(f[sep + 2]);
        mounts.push_back(std::move(m));
    }
    return mounts;
}

std::vector<MountEntry> ReadMountTable(const SystemRoot& root) {
    return ParseMountInfo(ReadFileText(root.Join("proc/self/mountinfo"), kMaxMountInfoBytes));
}

const MountEntry* FindMount(const std::vector<MountEntry>& mounts, std::string_view name,
                            std::string_view devNumber) {
    if (!devNumber.empty())
        for (const MountEntry& m : mounts)
            if (m.devNumber == devNumber) return &m;
    const std::string devPath = "/dev/" + std::string(name);
    for (const MountEntry& m : mounts)
        if (m.source == devPath) return &m;
    return nullptr;
}

std::string UnescapeUdevName(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && name.size() - i >= 4 && name[i + 1] == 'x') {
            const int hi = HexValue(name[i + 2]), lo = HexValue(name[i + 3]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(char(hi * 16 + lo));
                i += 3;
                continue;
            }
        }
        out.push_back(name[i]);
    }
    return out;
}

std::string LabelFromUdev(const SystemRoot& root, std::string_view name) {
    const std::string dir = root.Join("dev/disk/by-label");
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (size_t seen = 0; !ec && it != end && seen < kMaxDirEntries; it.increment(ec), ++seen) {
        std::error_code linkEc;
        const fs::path target = fs::read_symlink(it->path(), linkEc);
        if (linkEc || target.filename().string() != name) continue;
        return UnescapeUdevName(it->path().filename().string());
    }
    return {};
}

bool StatvfsFreeBytes(const std::string& mountPoint, uint64_t& freeBytes) {
    struct statvfs st {};
    if (::statvfs(mountPoint.c_str(), &st) != 0) return false;
    const uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
    if (unit != 0 && uint64_t(st.f_bfree) > UINT64_MAX / unit) return false;
    freeBytes = uint64_t(st.f_bfree) * unit;
    return true;
}

}  // namespace kestrel
