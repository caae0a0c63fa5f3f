#pragma once
// Test fixtures are committed gzip-compressed under tests/data. FixturePath
// decompresses one (once per test process) into the build tree and returns
// the path of the plain image.
#include <string>

namespace kestrel::test {

// relPath is relative to tests/data and names the .gz file, e.g. "fat32/fat32.img.gz".
// Returns an empty string (and fails the current test) when it cannot be read.
std::string FixturePath(const std::string& relPath);
// A fresh private copy of a fixture that a test may modify.
std::string FixtureCopy(const std::string& relPath, const std::string& copyName);
// A private copy of the folder tests/data/relDir (symbolic links copied as
// links), in which every NAME.img.gz has become NAME, written sparse.
// Returns the copy's path, or an empty string (and fails the current test).
std::string FixtureTree(const std::string& relDir, const std::string& name);
// A new empty temporary directory below the build tree.
std::string TempDir(const std::string& name);

}  // namespace kestrel::test
