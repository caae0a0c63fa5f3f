#pragma once
// How kestrel-cli recover answers the engine's questions: from its flags,
// or, for the overwrite question under --on-exists ask, by a y/n prompt on
// the terminal. Messages go to stderr.
#include "app/user_interaction.h"

namespace kestrel::cli {

class RecoverAnswers : public IUserInteraction {
public:
    RecoverAnswers(bool resume, bool saveState) : resume_(resume), saveState_(saveState) {}
    void ShowMessage(const WString& text) override;
    bool AskYesNo(const WString& text, bool defaultYes) override;
    int AskChoice(const WString& text, const std::vector<WString>& answers,
                  int defaultIndex) override;

private:
    bool resume_;
    bool saveState_;
};

// Installs an answerer for the lifetime of the object.
class ScopedAnswers {
public:
    explicit ScopedAnswers(IUserInteraction& ui) { SetUserInteraction(&ui); }
    ~ScopedAnswers() { SetUserInteraction(nullptr); }
    ScopedAnswers(const ScopedAnswers&) = delete;
    ScopedAnswers& operator=(const ScopedAnswers&) = delete;
};

}  // namespace kestrel::cli
