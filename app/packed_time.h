#pragma once
// PackedTime: a 32-bit local date and time. Year code (bits 26-31) =
// (year + 4) mod 64, so 1980..2043 decode to themselves; month 22-25, day
// 17-21, hour 12-16, minute 6-11, second 0-5. 0 means no time is known.
#include <cstdint>

namespace kestrel {

struct CalendarTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

uint32_t PackTime(const CalendarTime& t);
CalendarTime UnpackTime(uint32_t packed);
// From a UTC instant (seconds since 1970) through the local time-zone rules.
uint32_t PackedTimeFromUnix(int64_t unixSeconds);
// FAT/exFAT date and time words (local time).
uint32_t PackedTimeFromDos(uint16_t date, uint16_t time);
// NTFS/exFAT FILETIME (100 ns since 1601, UTC) to local PackedTime; 0 -> 0.
uint32_t PackedTimeFromFileTime(uint64_t fileTime);
// The UTC instant (seconds since 1970) of the local time a PackedTime holds.
// False for 0 and for fields that do not form a valid calendar time.
bool PackedTimeToUnix(uint32_t packed, int64_t& unixSeconds);
// The current local time as a PackedTime.
uint32_t PackedTimeNow();

}  // namespace kestrel
