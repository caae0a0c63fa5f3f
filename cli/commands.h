#pragma once
// The sub-commands of kestrel-cli. Each lives in its own cmd_*.cpp and is
// listed in the table of main.cpp. A command returns the process exit code:
// 0 when the run worked, 2 on bad arguments or unreadable input.
#include <string>
#include <vector>

namespace kestrel::cli {

using Args = std::vector<std::string>;

struct Command {
    const char* name;
    const char* usage;
    int (*run)(const Args& args);
};

int CmdPartitions(const Args& args);
int CmdScan(const Args& args);
int CmdLs(const Args& args);
int CmdCat(const Args& args);
int CmdRecover(const Args& args);
int CmdPreview(const Args& args);
int CmdDevices(const Args& args);

// Small argument helpers shared by the commands.
bool TakeFlag(Args& args, const std::string& flag);
bool TakeOption(Args& args, const std::string& option, std::string& value);
bool ParseUnsigned(const std::string& text, unsigned long long& value);

}  // namespace kestrel::cli
