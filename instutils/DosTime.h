// Date-times are doubles counting days since 30 December 1899, the fraction
// being the time of day (local time). DOS date-times pack the date in the high
// word and the time, in two-second steps, in the low word.
#pragma once
#include <cstdint>

struct DateTimeParts {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// False when a field is out of range.
bool EncodeDateTime(const DateTimeParts& parts, double& dateTime);
// Milliseconds are rounded; the value must lie on or after 1 January 0001.
bool DecodeDateTime(double dateTime, DateTimeParts& parts);

// 0 for a year before 1980 or from 2100 on, or a value that cannot be decoded.
std::uint32_t DateTimeToDosTime(double dateTime);
// 0.0 when the packed fields name no valid date or time.
double DosTimeToDateTime(std::uint32_t dosTime);
