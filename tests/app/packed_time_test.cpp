#include "app/packed_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace kestrel {
namespace {

// Fixes the local time zone for one test: a POSIX rule needs no tz database.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old, hadOld_ = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (hadOld_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string old_;
    bool hadOld_ = false;
};

TEST(PackedTime, EncodeClampsAndDecodes) {
    struct Case {
        CalendarTime in, out;
    } cases[] = {
        {{2043, 12, 31, 23, 59, 59}, {2043, 12, 31, 23, 59, 59}},
        {{1980, 1, 1, 0, 0, 0}, {1980, 1, 1, 0, 0, 0}},
        {{2044, 6, 15, 12, 30, 30}, {1980, 6, 15, 12, 30, 30}},  // the year code wraps
        {{1899, 3, 3, 3, 3, 3}, {2028, 3, 3, 3, 3, 3}},          // taken as 1900
        {{2000, 0, 10, 1, 2, 3}, {2000, 1, 10, 1, 2, 3}},
        {{2000, 13, 32, 24, 60, 61}, {2000, 1, 1, 23, 59, 59}},
        {{2000, 5, 0, -1, -5, -7}, {2000, 5, 1, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const CalendarTime d = UnpackTime(PackTime(c.in));
        EXPECT_EQ(d.year, c.out.year) << c.in.year;
        EXPECT_EQ(d.month, c.out.month) << c.in.year;
        EXPECT_EQ(d.day, c.out.day) << c.in.year;
        EXPECT_EQ(d.hour, c.out.hour) << c.in.year;
        EXPECT_EQ(d.minute, c.out.minute) << c.in.year;
        EXPECT_EQ(d.second, c.out.second) << c.in.year;
    }
    // Field positions: the packed values order as times do.
    EXPECT_EQ(PackTime({1980, 1, 1, 0, 0, 1}), (1u << 22) | (1u << 17) | 1u);
    EXPECT_LT(PackTime({2001, 1, 1, 0, 0, 0}), PackTime({2001, 1, 1, 0, 0, 1}));
    EXPECT_LT(PackTime({2001, 12, 31, 23, 59, 59}), PackTime({2002, 1, 1, 0, 0, 0}));
}

TEST(PackedTime, FromDosWordsWithoutZoneConversion) {
    ScopedTimeZone tz("CST-8");
    // 2015-07-04 13:45:58: date = (35 << 9) | (7 << 5) | 4, time = (13 << 11) | (45 << 5) | 29
    const uint32_t p = PackedTimeFromDos(uint16_t((35 << 9) | (7 << 5) | 4),
                                         uint16_t((13 << 11) | (45 << 5) | 29));
    EXPECT_EQ(p, PackTime({2015, 7, 4, 13, 45, 58}));
    // An all-zero DOS date has month 0 and day 0, stored as 1.
    EXPECT_EQ(PackedTimeFromDos(0, 0), PackTime({1980, 1, 1, 0, 0, 0}));
}

TEST(PackedTime, FromUtcInstantsThroughTheLocalZone) {
    ScopedTimeZone tz("CST-8");
    // 2020-01-01 00:00:00 UTC is 08:00 in UTC+8.
    EXPECT_EQ(PackedTimeFromUnix(1577836800), PackTime({2020, 1, 1, 8, 0, 0}));
    const uint64_t fileTime = (1577836800ULL + 11644473600ULL) * 10000000ULL + 9999999;
    EXPECT_EQ(PackedTimeFromFileTime(fileTime), PackTime({2020, 1, 1, 8, 0, 0}));
    EXPECT_EQ(PackedTimeFromFileTime(0), 0u);
    // The largest FILETIME must not crash, whatever it decodes to.
    (void)PackedTimeFromFileTime(~0ULL);
}

TEST(PackedTime, ToUnixIsTheInverseAndRejectsInvalidValues) {
    ScopedTimeZone tz("CST-8");
    int64_t t = 0;
    ASSERT_TRUE(PackedTimeToUnix(PackTime({2020, 1, 2, 8, 0, 0}), t));
    EXPECT_EQ(t, 1577923200);
    ASSERT_TRUE(PackedTimeToUnix(PackTime({2024, 2, 29, 0, 0, 0}), t));

    const uint32_t invalid[] = {
        0,                                                    // no time known
        PackTime({2023, 2, 29, 0, 0, 0}),                     // not a leap year
        PackTime({2021, 4, 31, 0, 0, 0}),                     // April has 30 days
        (40u << 26) | (0u << 22) | (1u << 17),                // month 0
        (40u << 26) | (13u << 22) | (1u << 17),               // month 13
        (40u << 26) | (1u << 22) | (0u << 17),                // day 0
        (40u << 26) | (1u << 22) | (1u << 17) | (24u << 12),  // hour 24
        (40u << 26) | (1u << 22) | (1u << 17) | (60u << 6),   // minute 60
        (40u << 26) | (1u << 22) | (1u << 17) | 60u,          // second 60
    };
    for (uint32_t v : invalid) EXPECT_FALSE(PackedTimeToUnix(v, t)) << std::hex << v;
}

TEST(PackedTime, SummerTimeFollowsTheZoneRules) {
    // Central Europe: UTC+1 in winter, UTC+2 from the last Sunday in March.
    ScopedTimeZone tz("CET-1CEST,M3.5.0,M10.5.0/3");
    int64_t t = 0;
    ASSERT_TRUE(PackedTimeToUnix(PackTime({2021, 7, 1, 12, 0, 0}), t));
    EXPECT_EQ(t, 1625133600);  // 2021-07-01 10:00 UTC
    ASSERT_TRUE(PackedTimeToUnix(PackTime({2021, 1, 1, 12, 0, 0}), t));
    EXPECT_EQ(t, 1609498800);  // 2021-01-01 11:00 UTC
    EXPECT_EQ(PackedTimeFromUnix(1625133600), PackTime({2021, 7, 1, 12, 0, 0}));
}

}  // namespace
}  // namespace kestrel
