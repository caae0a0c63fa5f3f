#include "results/export_names.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>

#include "app/text_utils.h"

namespace kestrel {
namespace {

constexpr size_t kNameMaxBytes = 255;
// An extension longer than this is part of the name, not something to keep.
constexpr size_t kKeptExtensionChars = 16;
// A name replaced as a whole gets enough digits that two such siblings in one
// folder practically never meet (one or two digits would collide often).
constexpr size_t kWholeNameDigits = 8;

char16_t RandomDigitChar() {
    thread_local std::minstd_rand rng(
        uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^ 0x9e3779b9u);
    return char16_t(u'0' + rng() % 10);
}

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }

size_t Utf8Length(WStringView s) { return Utf8FromWide(s).size(); }

// Drops characters from the end of stem (never half a surrogate pair) until
// stem + ext fits the file system's name limit.
WString FitNameLength(WString name) {
    if (Utf8Length(name) <= kNameMaxBytes) return name;
    WString ext;
    const size_t dot = name.rfind(u'.');
    if (dot != WString::npos && dot > 0 && name.size() - dot <= kKeptExtensionChars) {
        ext = name.substr(dot);
        name.resize(dot);
    }
    const size_t extBytes = Utf8Length(ext);
    if (extBytes >= kNameMaxBytes) ext.clear();
    while (!name.empty() && Utf8Length(name) + Utf8Length(ext) > kNameMaxBytes) {
        name.pop_back();
        if (!name.empty() && IsHighSurrogate(name.back())) name.pop_back();
    }
    if (name.empty()) name = WString(1, RandomDigitChar());
    return name + ext;
}

bool IsRealDirectory(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectoryNoFollow(const WString& path) {
    const std::string p = Utf8FromWide(path);
    if (::mkdir(p.c_str(), 0777) == 0) return true;
    return errno == EEXIST && IsRealDirectory(p);
}

}  // namespace

WString ExportRootDir(const WString& targetDir) {
    WString trimmed = targetDir;
    while (trimmed.size() > 1 && trimmed.back() == u'/') trimmed.pop_back();
    const size_t slash = trimmed.rfind(u'/');
    const WStringView last =
        slash == WString::npos ? WStringView(trimmed) : WStringView(trimmed).substr(slash + 1);
    if (last == kExportRootName) return trimmed;
    return JoinExportPath(trimmed, kExportRootName);
}

WString JoinExportPath(const WString& dir, WStringView name) {
    WString out = dir;
    if (!out.empty() && out.back() != u'/' && out.back() != u'\\') out += u'/';
    out += name;
    return out;
}

WString SafeComponentName(WStringView name) {
    if (name.empty() || name == u"." || name == u"..") {
        WString digits;
        for (size_t i = 0; i < kWholeNameDigits; ++i) digits += RandomDigitChar();
        return digits;
    }
    WString out(name);
    for (char16_t& c : out)
        if (c == u'/' || c == 0) c = RandomDigitChar();
    return out;
}

WString RepairComponentName(WStringView name) {
    WString out = SafeComponentName(name);
    for (char16_t& c : out)
        if (!IsValidNameChar(c)) c = RandomDigitChar();
    return FitNameLength(std::move(out));
}

bool CreateExportDirectory(const WString& dir, WStringView name, WString& path) {
    const WString first = JoinExportPath(dir, SafeComponentName(name));
    if (MakeDirectoryNoFollow(first)) {
        path = first;
        return true;
    }
    const WString second = JoinExportPath(dir, RepairComponentName(name));
    if (second == first || !MakeDirectoryNoFollow(second)) return false;
    path = second;
    return true;
}

bool ExportPathExists(const WString& path) {
    struct stat st;
    return ::lstat(Utf8FromWide(path).c_str(), &st) == 0;
}

int CreateExportFileAt(const WString& path, bool replace) {
    const std::string p = Utf8FromWide(path);
    if (replace) {
        struct stat st;
        if (::lstat(p.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) ::unlink(p.c_str());
    }
    return ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

}  // namespace kestrel
