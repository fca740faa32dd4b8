// The clock: current time in coordinated universal time and in local time, setting the clock, and
// conversion between calendar times and counts of 100-nanosecond ticks since 1601-01-01 (UTC).
#pragma once

#include <cstdint>

// The eight fields of a calendar time, in the platform's own order.
struct SystemTime {
  std::uint16_t year;
  std::uint16_t month;        // 1-12
  std::uint16_t day_of_week;  // 0 = Sunday
  std::uint16_t day;
  std::uint16_t hour;
  std::uint16_t minute;
  std::uint16_t second;
  std::uint16_t milliseconds;
};

void get_system_time(SystemTime* time);
void get_local_time(SystemTime* time);
// False when the time is invalid or the process may not set the clock.
bool set_system_time(const SystemTime& time);
bool set_local_time(const SystemTime& time);

// The tick count of a calendar time; false for an invalid one (fields out of range, a day past the
// month's end, a year outside 1601-30827). The day of the week plays no part.
bool system_time_to_ticks(const SystemTime& time, std::int64_t* ticks);
// The calendar time of a tick count, with its day of the week; false when out of range.
bool ticks_to_system_time(std::int64_t ticks, SystemTime* time);
