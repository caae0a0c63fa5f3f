#include "app/text_utils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <random>

#include "app/packed_time.h"

namespace kestrel {
namespace {

WString Ascii(const char* s) {
    WString out;
    for (; *s; ++s) out += char16_t(static_cast<unsigned char>(*s));
    return out;
}

WString Fixed2(double v, const char* unit) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%0.2f %s", v, unit);
    return Ascii(buf);
}

char16_t RandomDigit() {
    thread_local std::minstd_rand rng(
        uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()));
    return char16_t(u'0' + rng() % 10);
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const WString& path) {
    const std::string p = Utf8FromWide(path);
    if (IsDirectory(p)) return true;
    return ::mkdir(p.c_str(), 0777) == 0 || (errno == EEXIST && IsDirectory(p));
}

}  // namespace

WString FormatByteSize(uint64_t bytes) {
    if (bytes < (1ULL << 20)) return Fixed2(double(bytes) / 1024.0, "KB");
    if (bytes < (1ULL << 30)) return Fixed2(double(bytes >> 10) / 1024.0, "MB");
    if (bytes >= (1ULL << 40)) return Fixed2(double(bytes >> 30) / 1024.0, "TB");
    return Fixed2(double(bytes >> 20) / 1024.0, "GB");
}

WString FormatSectorSize(uint64_t sectors) {
    if (sectors < 0x200000ULL) return Fixed2(double(sectors / 2048), "MB");
    if (sectors / 2048 >= (1ULL << 20)) return Fixed2(double(sectors >> 21) / 1024.0, "TB");
    return Fixed2(double(sectors / 2048) / 1024.0, "GB");
}

WString FormatPackedTime(uint32_t t) {
    if (t == 0) return u"1900-01-01  00:00";
    const CalendarTime c = UnpackTime(t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%d-%02d-%02d  %02d:%02d:%02d", c.year, c.month, c.day, c.hour,
                  c.minute, c.second);
    return Ascii(buf);
}

bool PackedTimeToFileTime(uint32_t t, int64_t& unixUtc) { return PackedTimeToUnix(t, unixUtc); }

std::string GetExeFolder() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    std::string path(buf, size_t(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1);
}

bool IsValidNameChar(char16_t c) {
    if (c < 32) return false;
    switch (c) {
        case u'"':
        case u'*':
        case u'/':
        case u':':
        case u'<':
        case u'>':
        case u'?':
        case u'\\':
        case u'|':
            return false;
        default:
            break;
    }
    return c <= u'~' || (c >= 0x4E00 && c <= 0x9FA5);
}

bool SanitizeLastComponent(WString& path) {
    if (path.size() <= 3) return false;
    if (path.back() == u'/') path.pop_back();
    const size_t slash = path.rfind(u'/');
    if (slash == WString::npos || slash <= 3) return false;
    for (size_t i = slash + 1; i < path.size(); ++i)
        if (!IsValidNameChar(path[i])) path[i] = RandomDigit();
    return true;
}

bool EnsureDirectory(WString& path) {
    if (MakeDirectory(path)) return true;
    WString sanitized = path;
    if (!SanitizeLastComponent(sanitized)) return false;
    if (!MakeDirectory(sanitized)) return false;
    path = sanitized;
    return true;
}

WString WideFromUtf8(std::string_view bytes) { return Utf16FromUtf8(bytes); }

}  // namespace kestrel
