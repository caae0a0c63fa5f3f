#include "app/packed_time.h"

#include <ctime>

namespace kestrel {
namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr int64_t kFileTimeEpochDelta = 11644473600LL;

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

uint32_t PackTm(const std::tm& tm) {
    CalendarTime c;
    c.year = tm.tm_year + 1900;
    c.month = tm.tm_mon + 1;
    c.day = tm.tm_mday;
    c.hour = tm.tm_hour;
    c.minute = tm.tm_min;
    c.second = tm.tm_sec;
    return PackTime(c);
}

}  // namespace

uint32_t PackTime(const CalendarTime& t) {
    int year = t.year < 1900 ? 1900 : t.year;
    const uint32_t code = uint32_t(year + 4) % 64;
    const uint32_t month = (t.month < 1 || t.month > 12) ? 1 : uint32_t(t.month);
    const uint32_t day = (t.day < 1 || t.day > 31) ? 1 : uint32_t(t.day);
    const uint32_t hour = t.hour < 0 ? 0 : t.hour > 23 ? 23 : uint32_t(t.hour);
    const uint32_t minute = t.minute < 0 ? 0 : t.minute > 59 ? 59 : uint32_t(t.minute);
    const uint32_t second = t.second < 0 ? 0 : t.second > 59 ? 59 : uint32_t(t.second);
    return code << 26 | month << 22 | day << 17 | hour << 12 | minute << 6 | second;
}

CalendarTime UnpackTime(uint32_t p) {
    CalendarTime c;
    c.year = int(p >> 26) + 1980;
    c.month = int((p >> 22) & 0xF);
    c.day = int((p >> 17) & 0x1F);
    c.hour = int((p >> 12) & 0x1F);
    c.minute = int((p >> 6) & 0x3F);
    c.second = int(p & 0x3F);
    return c;
}

uint32_t PackedTimeFromUnix(int64_t unixSeconds) {
    const std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return 0;
    return PackTm(tm);
}

uint32_t PackedTimeNow() { return PackedTimeFromUnix(int64_t(std::time(nullptr))); }

uint32_t PackedTimeFromDos(uint16_t date, uint16_t time) {
    CalendarTime c;
    c.second = (time & 0x1F) * 2;
    c.minute = (time >> 5) & 0x3F;
    c.hour = time >> 11;
    c.day = date & 0x1F;
    c.month = (date >> 5) & 0x0F;
    c.year = (date >> 9) + 1980;
    return PackTime(c);
}

uint32_t PackedTimeFromFileTime(uint64_t fileTime) {
    if (fileTime == 0) return 0;
    const int64_t seconds = int64_t(fileTime / 10000000ULL) - kFileTimeEpochDelta;
    return PackedTimeFromUnix(seconds);
}

bool PackedTimeToUnix(uint32_t packed, int64_t& unixSeconds) {
    if (packed == 0) return false;
    const CalendarTime c = UnpackTime(packed);
    if (c.month < 1 || c.month > 12 || c.day < 1 || c.day > DaysInMonth(c.year, c.month) ||
        c.hour > 23 || c.minute > 59 || c.second > 59)
        return false;
    std::tm tm{};
    tm.tm_year = c.year - 1900;
    tm.tm_mon = c.month - 1;
    tm.tm_mday = c.day;
    tm.tm_hour = c.hour;
    tm.tm_min = c.minute;
    tm.tm_sec = c.second;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == std::time_t(-1)) return false;
    unixSeconds = int64_t(t);
    return true;
}

}  // namespace kestrel
