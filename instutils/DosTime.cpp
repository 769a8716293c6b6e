#include "DosTime.h"
#include <cmath>

namespace {
constexpr std::int64_t kMsPerDay = 86400000;
// Days from 0001-01-01 (proleptic Gregorian) to 1899-12-30.
constexpr std::int64_t kEpochOffset = 693593;

bool IsLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Days since 0001-01-01 of a civil date.
std::int64_t DaysFromCivil(int y, int m, int d) {
    std::int64_t n = 0;
    int py = y - 1;
    n += static_cast<std::int64_t>(py) * 365 + py / 4 - py / 100 + py / 400;
    for (int i = 1; i < m; ++i) n += DaysInMonth(y, i);
    return n + d - 1;
}

void CivilFromDays(std::int64_t n, int& y, int& m, int& d) {
    // 400-year cycles of 146097 days, then centuries, 4-year blocks, years.
    std::int64_t y400 = n / 146097;
    n %= 146097;
    std::int64_t y100 = n / 36524;
    if (y100 == 4) y100 = 3;
    n -= y100 * 36524;
    std::int64_t y4 = n / 1461;
    n %= 1461;
    std::int64_t y1 = n / 365;
    if (y1 == 4) y1 = 3;
    n -= y1 * 365;
    y = static_cast<int>(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
    m = 1;
    while (n >= DaysInMonth(y, m)) {
        n -= DaysInMonth(y, m);
        ++m;
    }
    d = static_cast<int>(n) + 1;
}
} // namespace

bool EncodeDateTime(const DateTimeParts& p, double& dateTime) {
    if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12) return false;
    if (p.day < 1 || p.day > DaysInMonth(p.year, p.month)) return false;
    if (p.hour < 0 || p.hour > 23 || p.minute < 0 || p.minute > 59 || p.second < 0 || p.second > 59 ||
        p.millisecond < 0 || p.millisecond > 999)
        return false;
    std::int64_t days = DaysFromCivil(p.year, p.month, p.day) - kEpochOffset;
    double frac = (((p.hour * 60.0 + p.minute) * 60.0 + p.second) * 1000.0 + p.millisecond) / kMsPerDay;
    // Before the epoch the fraction still counts forward from midnight.
    dateTime = days >= 0 ? days + frac : days - frac;
    return true;
}

bool DecodeDateTime(double dateTime, DateTimeParts& p) {
    if (!std::isfinite(dateTime) || dateTime < -693593.0 || dateTime > 2958466.0) return false;
    double whole = std::trunc(dateTime);
    double frac = std::fabs(dateTime - whole);
    std::int64_t days = static_cast<std::int64_t>(whole);
    std::int64_t ms = std::llround(frac * kMsPerDay);
    if (ms >= kMsPerDay) { // rounding reached the next midnight
        ms -= kMsPerDay;
        days += dateTime >= 0 ? 1 : -1;
    }
    std::int64_t n = days + kEpochOffset;
    if (n < 0) return false;
    CivilFromDays(n, p.year, p.month, p.day);
    p.hour = static_cast<int>(ms / 3600000);
    p.minute = static_cast<int>(ms / 60000 % 60);
    p.second = static_cast<int>(ms / 1000 % 60);
    p.millisecond = static_cast<int>(ms % 1000);
    return true;
}

std::uint32_t DateTimeToDosTime(double dateTime) {
    DateTimeParts p;
    if (!DecodeDateTime(dateTime, p) || p.year < 1980 || p.year > 2099) return 0;
    std::uint32_t date = static_cast<std::uint32_t>(((p.year - 1980) << 9) | (p.month << 5) | p.day);
    std::uint32_t time = static_cast<std::uint32_t>((p.hour << 11) | (p.minute << 5) | (p.second >> 1));
    return (date << 16) | time;
}

double DosTimeToDateTime(std::uint32_t dosTime) {
    DateTimeParts p;
    std::uint32_t date = dosTime >> 16, time = dosTime & 0xFFFF;
    p.year = static_cast<int>((date >> 9) & 0x7F) + 1980;
    p.month = static_cast<int>((date >> 5) & 0x0F);
    p.day = static_cast<int>(date & 0x1F);
    p.hour = static_cast<int>((time >> 11) & 0x1F);
    p.minute = static_cast<int>((time >> 5) & 0x3F);
    p.second = static_cast<int>(time & 0x1F) * 2;
    double dt = 0.0;
    return EncodeDateTime(p, dt) ? dt : 0.0;
}
