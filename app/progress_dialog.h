#pragma once
// The modal progress dialog a front end shows while a worker runs a job. The
// engine opens it through this interface; the desktop answers with its
// dialog, the command line with progress lines, and the default just waits.
#include <atomic>
#include <cstdint>

namespace kestrel {

class IProgressDialog {
public:
    virtual ~IProgressDialog() = default;
    // Shows the dialog until the job ends: polls the job status word (0
    // running, 2 cancelled or failed, 3 done) and returns 200 ms after it saw
    // 2 or 3. A stop button writes 2 to the word.
    virtual void RunModal(std::atomic<int32_t>& status) = 0;
};

// The process-wide dialog; never null (falls back to the waiting one).
IProgressDialog& ProgressDialog();
// Installs a dialog (nullptr restores the default). Not owned.
void SetProgressDialog(IProgressDialog* dialog);

// Claims the one progress dialog for a job on status and clears the progress
// mailbox, so no snapshot of an earlier job shows. False when a progress
// dialog is already open.
bool OpenProgressDialog(std::atomic<int32_t>& status);
// Shows the dialog claimed by OpenProgressDialog until it closes, then
// releases it.
void RunProgressDialog(std::atomic<int32_t>& status);

}  // namespace kestrel
