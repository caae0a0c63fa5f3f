#include "app/progress_dialog.h"

#include <chrono>
#include <thread>

#include "app/progress.h"

namespace kestrel {

namespace {

class WaitingDialog : public IProgressDialog {
public:
    void RunModal(std::atomic<int32_t>& status) override {
        for (;;) {
            const int32_t s = status.load();
            if (s == 2 || s == 3) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
};

WaitingDialog& DefaultDialog() {
    static WaitingDialog dialog;
    return dialog;
}

std::atomic<IProgressDialog*>& Installed() {
    static std::atomic<IProgressDialog*> dialog{nullptr};
    return dialog;
}

std::atomic<bool>& DialogOpen() {
    static std::atomic<bool> open{false};
    return open;
}

}  // namespace

IProgressDialog& ProgressDialog() {
    IProgressDialog* d = Installed().load();
    return d ? *d : DefaultDialog();
}

void SetProgressDialog(IProgressDialog* dialog) { Installed().store(dialog); }

bool OpenProgressDialog(std::atomic<int32_t>& /*status*/) {
    bool expected = false;
    if (!DialogOpen().compare_exchange_strong(expected, true)) return false;
    ClearProgress();
    return true;
}

void RunProgressDialog(std::atomic<int32_t>& status) {
    ProgressDialog().RunModal(status);
    DialogOpen().store(false);
}

}  // namespace kestrel
