#pragma once
// Elapsed time, remaining time and speed of a deep scan, as the progress
// panels show them, and the read-error report at the end of a scan.
#include <atomic>
#include <cstdint>

#include "platform/wide_text.h"

namespace kestrel {

// Seconds on a monotonic clock.
uint64_t ScanClockSeconds();

// Written by the scan threads, read by the progress panel.
struct ScanTiming {
    std::atomic<uint64_t> startSeconds{0};
    std::atomic<uint64_t> pausedSeconds{0};
    std::atomic<uint64_t> pauseBegan{0};
    std::atomic<bool> paused{false};
    std::atomic<uint64_t> speedBase{0};  // sectors done when processing began

    void Start(uint64_t now);
    void BeginPause(uint64_t now);         // no effect when a pause is in progress
    void EndPause(uint64_t now);           // no effect when none is
    uint64_t Elapsed(uint64_t now) const;  // now - start - paused, never below 0
};

struct ScanProgressTexts {
    bool shown = false;  // false while elapsed is 0
    WString elapsed;
    WString remaining;  // empty until a rate is known
    WString speed;
};

// prevRemaining is the panel's last shown remaining time (P); it is updated.
ScanProgressTexts FormatScanProgress(uint64_t elapsedSeconds, uint64_t totalSectors,
                                     uint64_t doneSectors, uint64_t speedBase,
                                     uint64_t& prevRemaining);

// The read-error message for F failed of T counted block reads; false when no
// message is due (F <= 10 or F > T).
bool ReadErrorMessage(uint32_t failed, uint32_t total, bool removable, WString& text);

}  // namespace kestrel
