#pragma once
// The persistent key-value store that stands in for the installation's
// registry key. It is a small UTF-8 text file of "Name=value" lines.
//
// Where the key lives:
//   1. the file named by the environment variable KESTREL_REGISTRY, when set;
//   2. else $XDG_CONFIG_HOME/Norvale/Kestrel/registry (XDG_CONFIG_HOME
//      defaults to ~/.config) when that file exists;
//   3. else /etc/Norvale/Kestrel/registry.
// The installer creates the file; the program opens it and never creates it.
// A missing file or value reads as absent. Writes rewrite the whole file
// through a temporary file in the same folder and a rename, so a crash leaves
// either the old or the new contents.
#include <string>

namespace kestrel {

class RegistryStore {
public:
    explicit RegistryStore(std::string path) : path_(std::move(path)) {}
    // The store at the location described above.
    static RegistryStore Default();
    static std::string DefaultPath();

    const std::string& Path() const { return path_; }
    // Names match without regard to ASCII case, as registry value names do.
    bool Read(const std::string& name, std::string& value) const;
    // Fails when the file does not exist, the name is empty or contains '=' or
    // a line break, or the value contains a line break.
    bool Write(const std::string& name, const std::string& value);

private:
    std::string path_;
};

}  // namespace kestrel
