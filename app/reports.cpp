#include "app/reports.h"

#include <atomic>

#include "app/run_state.h"

namespace kestrel {
namespace {
std::atomic<ReportTap> gTap{nullptr};
}  // namespace

void SetReportTap(ReportTap tap) { gTap.store(tap); }

void SendReport(uint32_t event, const WString& text, bool) {
    if (ReportTap tap = gTap.load()) tap(event, text);
}
void SendReport(uint32_t event, const std::string& utf8Text, bool queued) {
    SendReport(event, Utf16FromUtf8(utf8Text), queued);
}
void SendReport(uint32_t event, const char* utf8Text, bool queued) {
    SendReport(event, Utf16FromUtf8(utf8Text ? utf8Text : ""), queued);
}

}  // namespace kestrel
