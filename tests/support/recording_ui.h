#pragma once
// An answerer for tests: installs itself for its lifetime, records every
// message and question, and answers questions with `answer` (yes/no) or the
// default choice.
#include <vector>

#include "app/user_interaction.h"

namespace kestrel::test {

class RecordingUi : public IUserInteraction {
public:
    RecordingUi() { SetUserInteraction(this); }
    ~RecordingUi() override { SetUserInteraction(nullptr); }
    RecordingUi(const RecordingUi&) = delete;
    RecordingUi& operator=(const RecordingUi&) = delete;

    void ShowMessage(const WString& text) override { messages.push_back(text); }
    bool AskYesNo(const WString& text, bool) override {
        questions.push_back(text);
        return answer;
    }
    int AskChoice(const WString& text, const std::vector<WString>&, int defaultIndex) override {
        questions.push_back(text);
        return defaultIndex;
    }

    std::vector<WString> messages;
    std::vector<WString> questions;
    bool answer = false;
};

}  // namespace kestrel::test
