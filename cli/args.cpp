#include <cerrno>
#include <cstdlib>

#include "cli/commands.h"

namespace kestrel::cli {

bool TakeFlag(Args& args, const std::string& flag) {
    for (auto it = args.begin(); it != args.end(); ++it) {
        if (*it == flag) {
            args.erase(it);
            return true;
        }
    }
    return false;
}

bool TakeOption(Args& args, const std::string& option, std::string& value) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == option && i + 1 < args.size()) {
            value = args[i + 1];
            args.erase(args.begin() + long(i), args.begin() + long(i) + 2);
            return true;
        }
        if (args[i].rfind(option + "=", 0) == 0) {
            value = args[i].substr(option.size() + 1);
            args.erase(args.begin() + long(i));
            return true;
        }
    }
    return false;
}

bool ParseUnsigned(const std::string& text, unsigned long long& value) {
    if (text.empty() || text[0] == '-') return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 0);
    return errno == 0 && end && *end == 0;
}

}  // namespace kestrel::cli
