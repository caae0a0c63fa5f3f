// kestrel-cli devices [--disks | --volumes] [--root DIR]: the device list as
// the device page shows it, one entry a line, volumes first, then disks.
// Devices that cannot be opened (typically: not run as root) are named on
// stderr, so a short list is never mistaken for the whole machine.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "storage/device_list.h"

namespace kestrel::cli {

namespace {

constexpr const char* kUsage = "usage: kestrel-cli devices [--disks | --volumes] [--root DIR]\n";

// Labels and model texts are free text; a tab or line break would split the line.
std::string Field(const WString& text) {
    std::string s = Utf8FromWide(text);
    for (char& c : s)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return s;
}

}  // namespace

int CmdDevices(const Args& argsIn) {
    Args args = argsIn;
    const bool disks = TakeFlag(args, "--disks");
    const bool volumes = TakeFlag(args, "--volumes");
    DeviceEnumConfig config;
    std::string root;
    const bool haveRoot = TakeOption(args, "--root", root);
    if (haveRoot) config.root.path = root;
    if (!args.empty() || (disks && volumes) || (haveRoot && root.empty())) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const int32_t kind = disks ? 2 : volumes ? 1 : 0;
    DeviceEnumeration result;
    const bool listed = EnumerateDevices(config, kind, nullptr, result);
    for (const std::string& failure : result.openFailures)
        std::fprintf(stderr, "kestrel-cli devices: %s\n", failure.c_str());
    if (!listed) {
        std::fprintf(stderr, "kestrel-cli devices: no disk could be opened%s\n",
                     result.openFailures.empty() ? " (none found)" : " (root rights needed?)");
        return 2;
    }
    for (const DeviceEntry& e : result.entries) {
        const DevInfo& d = e.dev;
        std::printf("%u\t%s\t%s\t%s\t%" PRIu64 "\t%" PRIu64 "\t%" PRIu64 "\t%u\t%s\t%s\t%u\n",
                    unsigned(d.index), Field(d.description).c_str(), Field(d.devicePath).c_str(),
                    Field(d.volumePath).c_str(), d.startLba, d.sizeSectors, d.freeSectors,
                    unsigned(d.fsKind), Field(e.fsName).c_str(), Field(e.label).c_str(),
                    unsigned(d.isUsb));
    }
    return 0;
}

}  // namespace kestrel::cli
