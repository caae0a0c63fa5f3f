#include "platform/registry_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace kestrel {
namespace {

// The store holds a handful of short values; anything larger is not ours.
constexpr size_t kMaxFileSize = 1 << 20;

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool ReadWhole(const std::string& path, std::string& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    out.clear();
    char buf[4096];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        if (n == 0) break;
        if (out.size() + size_t(n) > kMaxFileSize) {
            ok = false;
            break;
        }
        out.append(buf, size_t(n));
    }
    ::close(fd);
    return ok;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

std::string_view StripCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// The name of a "Name=value" line, or an empty view for other lines.
std::string_view NameOf(std::string_view line) {
    const size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

}  // namespace

std::string RegistryStore::DefaultPath() {
    if (const char* env = std::getenv("KESTREL_REGISTRY"); env && *env) return env;
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        config = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        config = std::string(home) + "/.config";
    if (!config.empty()) {
        const std::string user = config + "/Norvale/Kestrel/registry";
        if (FileExists(user)) return user;
    }
    return "/etc/Norvale/Kestrel/registry";
}

RegistryStore RegistryStore::Default() { return RegistryStore(DefaultPath()); }

bool RegistryStore::Read(const std::string& name, std::string& value) const {
    if (name.empty()) return false;
    std::string text;
    if (!ReadWhole(path_, text)) return false;
    for (std::string_view line : SplitLines(text)) {
        line = StripCr(line);
        const std::string_view n = NameOf(line);
        if (!n.empty() && SameName(n, name)) {
            value.assign(line.substr(n.size() + 1));
            return true;
        }
    }
    return false;
}

bool RegistryStore::Write(const std::string& name, const std::string& value) {
    if (name.empty() || name.find_first_of("=\r\n") != std::string::npos ||
        value.find_first_of("\r\n") != std::string::npos)
        return false;
    struct stat st;
    if (::stat(path_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::string text;
    if (!ReadWhole(path_, text)) return false;

    std::string out;
    bool replaced = false;
    for (std::string_view line : SplitLines(text)) {
        const std::string_view n = NameOf(StripCr(line));
        if (!n.empty() && SameName(n, name)) {
            if (replaced) continue;  // a duplicate would shadow nothing; drop it
            out += name + "=" + value + "\n";
            replaced = true;
        } else {
            out.append(line);
            out += '\n';
        }
    }
    if (!replaced) out += name + "=" + value + "\n";

    std::string tmp = path_ + ".XXXXXX";
    const int fd = ::mkstemp(tmp.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, st.st_mode & 07777) == 0 && WriteAll(fd, out) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ok = ::rename(tmp.c_str(), path_.c_str()) == 0;
    if (!ok) ::unlink(tmp.c_str());
    return ok;
}

}  // namespace kestrel
