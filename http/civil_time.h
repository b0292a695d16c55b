#pragma once
// UTC dates and times of the proleptic Gregorian calendar and seconds since 1970-01-01 00:00:00, by arithmetic
// alone: valid before 1970 and after 2038 alike, and independent of any C library time zone support.
#include <cstdint>

struct TCivilTime {
    int64_t Year = 1970;
    int Month = 1;    // 1 to 12
    int Day = 1;      // 1 to 31
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int WeekDay = 4;  // 0 (Sunday) to 6; not read by SecondsFromCivil
};

// A field beyond its range counts on into the next larger unit, as a day 31 of a 30-day month is the 1st of
// the next month.
int64_t SecondsFromCivil(const TCivilTime& time);
TCivilTime CivilFromSeconds(int64_t seconds);
