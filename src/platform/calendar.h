// Proleptic Gregorian calendar arithmetic on tick counts (100 ns since 1601-01-01), with the range
// and validity rules of the Windows conversions, for platforms that lack them.
#pragma once

#include <cstdint>

#include "platform/clock.h"

// Days in a month of a year (month 1-12).
int days_in_month(int year, int month);
// Day of the week (0 = Sunday) of a date.
int day_of_week(int year, int month, int day);
// Whether the date part is valid (year 1601-30827, month 1-12, day within the month).
bool valid_date(const SystemTime& time);
// Whether the time of day is valid (hour < 24, minute < 60, second < 60, milliseconds < 1000).
bool valid_time_of_day(const SystemTime& time);
bool calendar_to_ticks(const SystemTime& time, std::int64_t* ticks);
bool calendar_from_ticks(std::int64_t ticks, SystemTime* time);
