#include "http/civil_time.h"

// Days are counted in eras of 400 years (146097 days) whose years start on 1 March, so that the leap day is the
// last day of its year and the lengths of the months before it follow one fixed pattern.
namespace {

constexpr int64_t SecondsPerDay = 86400;
constexpr int64_t DaysPerEra = 146097;
constexpr int64_t DaysFrom0000To1970 = 719468;  // from 0000-03-01 to 1970-01-01

int64_t FloorDivide(int64_t value, int64_t divisor) {
    return value / divisor - (value % divisor < 0 ? 1 : 0);
}

int64_t FloorModulo(int64_t value, int64_t divisor) { return value - FloorDivide(value, divisor) * divisor; }

// Days of the months before this one in a year that starts on 1 March (month 0).
int64_t DaysBeforeMonthFromMarch(int64_t monthFromMarch) { return (153 * monthFromMarch + 2) / 5; }

int64_t DaysFromCivil(int64_t year, int month, int day) {
    const int64_t marchYear = month <= 2 ? year - 1 : year;
    const int64_t era = FloorDivide(marchYear, 400);
    const int64_t yearOfEra = FloorModulo(marchYear, 400);
    const int64_t dayOfYear = DaysBeforeMonthFromMarch(month > 2 ? month - 3 : month + 9) + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * DaysPerEra + dayOfEra - DaysFrom0000To1970;
}

void SetDateFromDays(TCivilTime& time, int64_t days) {
    const int64_t shifted = days + DaysFrom0000To1970;
    const int64_t era = FloorDivide(shifted, DaysPerEra);
    const int64_t dayOfEra = FloorModulo(shifted, DaysPerEra);
    const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    time.Month = static_cast<int>(monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9);
    time.Year = era * 400 + yearOfEra + (time.Month <= 2 ? 1 : 0);
    time.Day = static_cast<int>(dayOfYear - DaysBeforeMonthFromMarch(monthFromMarch) + 1);
    time.WeekDay = static_cast<int>(FloorModulo(days + 4, 7));  // 1970-01-01 was a Thursday
}

}  // namespace

int64_t SecondsFromCivil(const TCivilTime& time) {
    return DaysFromCivil(time.Year, time.Month, time.Day) * SecondsPerDay + time.Hour * 3600 + time.Minute * 60 +
           time.Second;
}

TCivilTime CivilFromSeconds(int64_t seconds) {
    TCivilTime time;
    SetDateFromDays(time, FloorDivide(seconds, SecondsPerDay));
    const int64_t secondOfDay = FloorModulo(seconds, SecondsPerDay);
    time.Hour = static_cast<int>(secondOfDay / 3600);
    time.Minute = static_cast<int>(secondOfDay / 60 % 60);
    time.Second = static_cast<int>(secondOfDay % 60);
    return time;
}
