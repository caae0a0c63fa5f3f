#include "cli/recover_options.h"

#include <cstdio>

#include "app/packed_time.h"
#include "platform/wide_text.h"
#include "results/file_filter.h"

namespace kestrel::cli {

const char kRecoverUsage[] =
    "usage: kestrel-cli recover IMAGE --mode 1|2|3 [--part N] (--out DIR | --tree)\n"
    "         [--filter TEXT] [--min-kb N] [--max-kb N]\n"
    "         [--modified-from YYYY-MM-DD] [--modified-to YYYY-MM-DD]\n"
    "         [--on-exists ask|overwrite|skip] [--on-error clear|keep|all]\n"
    "         [--save-state] [--resume]\n"
    "  mode 1: deleted files of partition N (its file system and its free space)\n"
    "  mode 2: everything on partition N; mode 3: everything on the whole image\n"
    "  the scan-state file is DiskScanData.dat next to kestrel-cli, or $KESTREL_SCAN_STATE\n";

namespace {

bool IsDigits(const std::string& text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

int DaysInMonth(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
    return kDays[month - 1];
}

}  // namespace

bool ParseFilterKb(const std::string& text, uint32_t& kb) {
    if (!IsDigits(text) || text.size() > 9) return false;
    const unsigned long value = std::stoul(text);
    if (value > 139999999ul) return false;
    kb = uint32_t(value);
    return true;
}

bool ParseFilterDate(const std::string& text, bool endOfDay, uint32_t& packed) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    const std::string y = text.substr(0, 4), m = text.substr(5, 2), d = text.substr(8, 2);
    if (!IsDigits(y) || !IsDigits(m) || !IsDigits(d)) return false;
    CalendarTime t;
    t.year = std::stoi(y);
    t.month = std::stoi(m);
    t.day = std::stoi(d);
    // A PackedTime holds the years 1980..2043.
    if (t.year < 1980 || t.year > 2043 || t.month < 1 || t.month > 12 || t.day < 1 ||
        t.day > DaysInMonth(t.year, t.month))
        return false;
    if (endOfDay) {
        t.hour = 23;
        t.minute = 59;
        t.second = 59;
    }
    packed = PackTime(t);
    return true;
}

bool ParseRecoverArgs(const Args& argsIn, RecoverOptions& o, std::string& error) {
    Args args = argsIn;
    o.tree = TakeFlag(args, "--tree");
    o.saveState = TakeFlag(args, "--save-state");
    o.resume = TakeFlag(args, "--resume");
    std::string mode, part, exists, onError, minKb, maxKb, from, to;
    const bool haveMode = TakeOption(args, "--mode", mode);
    const bool havePart = TakeOption(args, "--part", part);
    const bool haveOut = TakeOption(args, "--out", o.outDir);
    const bool haveText = TakeOption(args, "--filter", o.filterText);
    const bool haveMin = TakeOption(args, "--min-kb", minKb);
    const bool haveMax = TakeOption(args, "--max-kb", maxKb);
    const bool haveFrom = TakeOption(args, "--modified-from", from);
    const bool haveTo = TakeOption(args, "--modified-to", to);
    const bool haveExists = TakeOption(args, "--on-exists", exists);
    const bool haveOnError = TakeOption(args, "--on-error", onError);

    if (args.size() != 1 || args[0].empty() || args[0][0] == '-') {
        error = args.empty() ? "no image given" : "unexpected argument '" + args.back() + "'";
        return false;
    }
    o.image = args[0];
    unsigned long long number = 0;
    if (haveMode && (mode.size() != 1 || mode[0] < '1' || mode[0] > '3')) {
        error = "--mode takes 1, 2 or 3";
        return false;
    }
    o.mode = haveMode ? mode[0] - '0' : (havePart ? 2 : 3);
    if (havePart && (!ParseUnsigned(part, number) || number > UINT32_MAX)) {
        error = "--part takes a partition number";
        return false;
    }
    if (o.mode == 3 && havePart) {
        error = "mode 3 recovers the whole image: drop --part";
        return false;
    }
    o.part = uint32_t(number);
    if (!haveOut && !o.tree) {
        error = "--out DIR is needed (or --tree)";
        return false;
    }
    if (haveOut && o.outDir.empty()) {
        error = "--out needs a folder";
        return false;
    }
    if (haveExists) {
        if (exists == "ask")
            o.onExists = kAskUser;
        else if (exists == "overwrite")
            o.onExists = kOverwrite;
        else if (exists == "skip")
            o.onExists = kSkipFile;
        else {
            error = "--on-exists takes ask, overwrite or skip";
            return false;
        }
    }
    if (haveOnError) {
        if (onError == "clear")
            o.onError = kClearFile;
        else if (onError == "keep")
            o.onError = kKeepPartial;
        else if (onError == "all")
            o.onError = kRecoverAll;
        else {
            error = "--on-error takes clear, keep or all";
            return false;
        }
    }

    o.filter = haveText || haveMin || haveMax || haveFrom || haveTo;
    if (haveText) {
        const WString why = ValidateFilterText(Utf16FromUtf8(o.filterText));
        if (!why.empty()) {
            error = "--filter: " + Utf8FromWide(why);
            return false;
        }
    }
    if ((haveMin && !ParseFilterKb(minKb, o.minKb)) ||
        (haveMax && !ParseFilterKb(maxKb, o.maxKb))) {
        error = "--min-kb and --max-kb take at most 9 digits, up to 139999999";
        return false;
    }
    if (o.maxKb < o.minKb) {
        error = "--max-kb is below --min-kb";
        return false;
    }
    if ((haveFrom && !ParseFilterDate(from, false, o.modifiedFrom)) ||
        (haveTo && !ParseFilterDate(to, true, o.modifiedTo))) {
        error = "--modified-from and --modified-to take a date YYYY-MM-DD (1980..2043)";
        return false;
    }
    if (haveFrom && haveTo && o.modifiedTo < o.modifiedFrom) {
        error = "--modified-to is before --modified-from";
        return false;
    }
    return true;
}

}  // namespace kestrel::cli
