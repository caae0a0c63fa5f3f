#include "tests/support/fixture.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>

namespace kestrel::test {
namespace fs = std::filesystem;

namespace {

std::string WorkRoot() {
    fs::path root = fs::path(KESTREL_BINARY_DIR) / "test-work" / std::to_string(::getpid());
    fs::create_directories(root);
    return root.string();
}

bool Gunzip(const std::string& from, const std::string& to) {
    gzFile in = gzopen(from.c_str(), "rb");
    if (!in) return false;
    FILE* out = std::fopen(to.c_str(), "wb");
    if (!out) {
        gzclose(in);
        return false;
    }
    static char buf[1 << 16];
    int n;
    bool ok = true;
    while ((n = gzread(in, buf, sizeof buf)) > 0)
        if (std::fwrite(buf, 1, size_t(n), out) != size_t(n)) ok = false;
    if (n < 0) ok = false;
    gzclose(in);
    std::fclose(out);
    return ok;
}

}  // namespace

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
    if (!Gunzip(src, dst)) {
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
