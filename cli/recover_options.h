#pragma once
// The command line of kestrel-cli recover, parsed and checked before anything
// is opened.
#include <cstdint>
#include <string>

#include "cli/commands.h"
#include "fs/read_error_policy.h"
#include "results/export.h"

namespace kestrel::cli {

struct RecoverOptions {
    std::string image;
    int32_t mode = 3;
    uint32_t part = 0;
    std::string outDir;
    bool tree = false;
    bool saveState = false;
    bool resume = false;
    CollisionPolicy onExists = kOverwrite;
    ReadErrorPolicy onError = kKeepPartial;
    // The filter: active when any of its options was given.
    bool filter = false;
    std::string filterText;
    uint32_t minKb = 0;
    uint32_t maxKb = 0x8000000;
    uint32_t modifiedFrom = 0;  // PackedTime; 0: the filter's default bound
    uint32_t modifiedTo = 0;
};

// False with a one-line reason in error when the arguments do not form a
// recover command.
bool ParseRecoverArgs(const Args& args, RecoverOptions& out, std::string& error);

// A size bound in KiB as the filter accepts it: decimal digits only, at most
// 9, and no more than 139,999,999.
bool ParseFilterKb(const std::string& text, uint32_t& kb);
// "YYYY-MM-DD" as a PackedTime at the start (00:00:00) or the end (23:59:59)
// of that day; false for anything else or a day the calendar lacks.
bool ParseFilterDate(const std::string& text, bool endOfDay, uint32_t& packed);

extern const char kRecoverUsage[];

}  // namespace kestrel::cli
