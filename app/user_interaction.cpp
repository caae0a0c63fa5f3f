#include "app/user_interaction.h"

#include <atomic>
#include <cstdio>

namespace kestrel {
namespace {

class StderrInteraction final : public IUserInteraction {
public:
    void ShowMessage(const WString& text) override {
        std::fprintf(stderr, "%s\n", Utf8FromWide(text).c_str());
    }
    bool AskYesNo(const WString& text, bool defaultYes) override {
        std::fprintf(stderr, "%s [%s]\n", Utf8FromWide(text).c_str(), defaultYes ? "yes" : "no");
        return defaultYes;
    }
    int AskChoice(const WString& text, const std::vector<WString>& answers,
                  int defaultIndex) override {
        std::fprintf(stderr, "%s\n", Utf8FromWide(text).c_str());
        if (defaultIndex >= 0 && size_t(defaultIndex) < answers.size())
            std::fprintf(stderr, "  -> %s\n", Utf8FromWide(answers[defaultIndex]).c_str());
        return defaultIndex;
    }
};

StderrInteraction gDefault;
std::atomic<IUserInteraction*> gCurrent{nullptr};

}  // namespace

IUserInteraction& UserInteraction() {
    IUserInteraction* ui = gCurrent.load();
    return ui ? *ui : gDefault;
}

void SetUserInteraction(IUserInteraction* ui) { gCurrent.store(ui); }

}  // namespace kestrel
