#include "cli/recover_answers.h"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/wide_text.h"

namespace kestrel::cli {
namespace {

bool EndsWith(const WString& text, const WString& tail) {
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Reads one answer line; anything but y/yes is no, and so is a closed input.
bool PromptYesNo(const WString& text) {
    std::fprintf(stderr, "%s [y/N] ", Utf8FromWide(text).c_str());
    std::fflush(stderr);
    char line[64];
    if (!std::fgets(line, sizeof line, stdin)) return false;
    const std::string answer(line);
    return answer == "y\n" || answer == "Y\n" || answer == "yes\n" || answer == "y" ||
           answer == "yes";
}

}  // namespace

void RecoverAnswers::ShowMessage(const WString& text) {
    std::fprintf(stderr, "%s\n", Utf8FromWide(text).c_str());
}

bool RecoverAnswers::AskYesNo(const WString& text, bool) {
    // The scan's two questions are answered by the flags alone, so that a
    // scripted run never waits on a prompt.
    if (text.find(u"是否复用？") != WString::npos) return resume_;
    if (text.find(u"是否保存当前已扫描的数据？") != WString::npos) return saveState_;
    if (EndsWith(text, u"，已经存在，是否覆盖？"))
        return isatty(STDIN_FILENO) == 1 && PromptYesNo(text);
    std::fprintf(stderr, "%s (no)\n", Utf8FromWide(text).c_str());
    return false;
}

int RecoverAnswers::AskChoice(const WString& text, const std::vector<WString>&, int defaultIndex) {
    std::fprintf(stderr, "%s\n", Utf8FromWide(text).c_str());
    return defaultIndex;
}

}  // namespace kestrel::cli
