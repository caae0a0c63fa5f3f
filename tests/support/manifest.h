#pragma once
// The manifests the fixture scripts write, and kestrel-cli ls output, which
// has the same first four columns: state, size, modified, path, then (in a
// manifest) the sha256 of the content or "-".
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace kestrel::test {

struct ManifestLine {
    std::string state, size, modified, path, sha;
    bool IsDir() const { return state == "live-dir" || state == "deleted-dir"; }
    bool IsDeleted() const { return state.rfind("deleted", 0) == 0; }
};

// One line per non-empty row; a missing sha column reads as empty.
inline std::vector<ManifestLine> ParseManifestText(const std::string& text) {
    std::vector<ManifestLine> out;
    std::istringstream in(text);
    std::string row;
    while (std::getline(in, row)) {
        if (row.empty()) continue;
        std::istringstream s(row);
        ManifestLine m;
        std::getline(s, m.state, '\t');
        std::getline(s, m.size, '\t');
        std::getline(s, m.modified, '\t');
        std::getline(s, m.path, '\t');
        std::getline(s, m.sha, '\t');
        out.push_back(m);
    }
    return out;
}

// relPath is relative to tests/data, e.g. "fat32/manifest.tsv".
inline std::vector<ManifestLine> ReadManifest(const std::string& relPath) {
    std::ifstream in(std::string(KESTREL_TEST_DATA) + "/" + relPath, std::ios::binary);
    return ParseManifestText(std::string(std::istreambuf_iterator<char>(in), {}));
}

}  // namespace kestrel::test
