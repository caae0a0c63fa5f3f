#include "tests/support/fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

namespace kestrel::test {
namespace fs = std::filesystem;

namespace {

std::string WorkRoot() {
    fs::path root = fs::path(KESTREL_BINARY_DIR) / "test-work" / std::to_string(::getpid());
    fs::create_directories(root);
    return root.string();
}

// Zero runs become holes, so a mostly empty disk image costs little space.
bool GunzipSparse(const std::string& from, const std::string& to) {
    gzFile in = gzopen(from.c_str(), "rb");
    if (!in) return false;
    FILE* out = std::fopen(to.c_str(), "wb");
    if (!out) {
        gzclose(in);
        return false;
    }
    static char buf[1 << 16];
    static const char zeros[sizeof buf] = {};
    long long total = 0;
    int n;
    bool ok = true;
    while ((n = gzread(in, buf, sizeof buf)) > 0) {
        if (std::memcmp(buf, zeros, size_t(n)) != 0 &&
            (std::fseek(out, long(total), SEEK_SET) != 0 ||
             std::fwrite(buf, 1, size_t(n), out) != size_t(n)))
            ok = false;
        total += n;
    }
    if (n < 0) ok = false;
    gzclose(in);
    if (std::fflush(out) != 0 || ::ftruncate(fileno(out), off_t(total)) != 0) ok = false;
    std::fclose(out);
    return ok;
}

}  // namespace

std::string FixtureTree(const std::string& relDir, const std::string& name) {
    const fs::path dst = fs::path(WorkRoot()) / name;
    std::error_code ec;
    fs::remove_all(dst, ec);
    fs::copy(fs::path(KESTREL_TEST_DATA) / relDir, dst,
             fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) {
        ADD_FAILURE() << "cannot copy fixture tree " << relDir << ": " << ec.message();
        return {};
    }
    const std::string suffix = ".img.gz";
    std::vector<fs::path> packed;
    for (auto it = fs::recursive_directory_iterator(dst, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string file = it->path().filename().string();
        if (!it->is_symlink() && file.size() > suffix.size() &&
            file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0)
            packed.push_back(it->path());
    }
    for (const fs::path& gz : packed) {
        const std::string plain = gz.string().substr(0, gz.string().size() - suffix.size());
        if (!GunzipSparse(gz.string(), plain)) {
            ADD_FAILURE() << "cannot decompress fixture " << gz;
            return {};
        }
        fs::remove(gz, ec);
    }
    return dst.string();
}

std::string FixturePath(const std::string& relPath) {
    static std::mutex lock;
    static std::map<std::string, std::string> done;
    std::lock_guard<std::mutex> g(lock);
    auto it = done.find(relPath);
    if (it != done.end()) return it->second;
    std::string src = std::string(KESTREL_TEST_DATA) + "/" + relPath;
    std::string name = relPath;
    for (char& c : name)
        if (c == '/') c = '_';
    if (name.size() > 3 && name.substr(name.size() - 3) == ".gz") name.resize(name.size() - 3);
    std::string dst = WorkRoot() + "/" + name;
    if (!GunzipSparse(src, dst)) {
        ADD_FAILURE() << "cannot decompress fixture " << src;
        return {};
    }
    done[relPath] = dst;
    return dst;
}

std::string FixtureCopy(const std::string& relPath, const std::string& copyName) {
    std::string plain = FixturePath(relPath);
    if (plain.empty()) return {};
    std::string dst = WorkRoot() + "/" + copyName;
    fs::copy_file(plain, dst, fs::copy_options::overwrite_existing);
    return dst;
}

std::string TempDir(const std::string& name) {
    fs::path p = fs::path(WorkRoot()) / name;
    fs::remove_all(p);
    fs::create_directories(p);
    return p.string();
}

}  // namespace kestrel::test
