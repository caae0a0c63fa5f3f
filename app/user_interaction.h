#pragma once
// Where a worker or the engine needs a message box or an answer from the
// user, it asks through this interface. The desktop answers with a dialog,
// the command line with a prompt or a flag; the default prints to stderr and
// takes each question's default answer.
#include <string>
#include <vector>

#include "platform/wide_text.h"

namespace kestrel {

class IUserInteraction {
public:
    virtual ~IUserInteraction() = default;
    // A modal message box with one OK button.
    virtual void ShowMessage(const WString& text) = 0;
    // A yes/no question; returns true for yes.
    virtual bool AskYesNo(const WString& text, bool defaultYes) = 0;
    // A question with several answers; returns the chosen index.
    virtual int AskChoice(const WString& text, const std::vector<WString>& answers,
                          int defaultIndex) = 0;
};

// The process-wide answerer; never null (falls back to the default one).
IUserInteraction& UserInteraction();
// Installs an answerer (nullptr restores the default). Not owned.
void SetUserInteraction(IUserInteraction* ui);

}  // namespace kestrel
