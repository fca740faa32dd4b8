#include "platform/calendar.h"

namespace {

constexpr std::int64_t TICKS_PER_MILLISECOND = 10000;
constexpr std::int64_t TICKS_PER_DAY = 864000000000LL;
// The last tick the Windows conversions accept (30828-09-14 02:48:05.477).
constexpr std::int64_t MAX_TICKS = 0x7FFFFFFFFFFFFFFFLL;

bool is_leap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days from 1601-01-01 to the given date (Howard Hinnant's days_from_civil, shifted).
std::int64_t days_from_1601(int year, int month, int day) {
  int y = month <= 2 ? year - 1 : year;
  int era = y / 400;  // years are positive here
  int year_of_era = y - era * 400;
  int day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  std::int64_t since_0000_03_01 = static_cast<std::int64_t>(era) * 146097 + day_of_era;
  // 1601-01-01 is day 584694 after 0000-03-01.
  return since_0000_03_01 - 584694;
}

}  // namespace

int days_in_month(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

int day_of_week(int year, int month, int day) {
  // 1601-01-01 was a Monday.
  return static_cast<int>((days_from_1601(year, month, day) + 1) % 7);
}

bool valid_date(const SystemTime& time) {
  return time.year >= 1601 && time.year <= 30827 && time.month >= 1 && time.month <= 12 &&
         time.day >= 1 && time.day <= days_in_month(time.year, time.month);
}

bool valid_time_of_day(const SystemTime& time) {
  return time.hour < 24 && time.minute < 60 && time.second < 60 && time.milliseconds < 1000;
}

bool calendar_to_ticks(const SystemTime& time, std::int64_t* ticks) {
  if (!valid_date(time) || !valid_time_of_day(time)) return false;
  std::int64_t days = days_from_1601(time.year, time.month, time.day);
  std::int64_t milliseconds =
      ((static_cast<std::int64_t>(time.hour) * 60 + time.minute) * 60 + time.second) * 1000 +
      time.milliseconds;
  *ticks = days * TICKS_PER_DAY + milliseconds * TICKS_PER_MILLISECOND;
  return true;
}

bool calendar_from_ticks(std::int64_t ticks, SystemTime* time) {
  if (ticks < 0 || ticks > MAX_TICKS) return false;
  std::int64_t days = ticks / TICKS_PER_DAY;
  std::int64_t milliseconds = (ticks % TICKS_PER_DAY) / TICKS_PER_MILLISECOND;
  // civil_from_days, counted from 0000-03-01.
  std::int64_t z = days + 584694;
  std::int64_t era = z / 146097;
  std::int64_t day_of_era = z - era * 146097;
  std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  std::int64_t mp = (5 * day_of_year + 2) / 153;
  std::int64_t day = day_of_year - (153 * mp + 2) / 5 + 1;
  std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  std::int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  SystemTime result{};
  result.year = static_cast<std::uint16_t>(year);
  result.month = static_cast<std::uint16_t>(month);
  result.day = static_cast<std::uint16_t>(day);
  result.day_of_week = static_cast<std::uint16_t>((days + 1) % 7);
  result.hour = static_cast<std::uint16_t>(milliseconds / 3600000);
  result.minute = static_cast<std::uint16_t>(milliseconds / 60000 % 60);
  result.second = static_cast<std::uint16_t>(milliseconds / 1000 % 60);
  result.milliseconds = static_cast<std::uint16_t>(milliseconds % 1000);
  *time = result;
  return true;
}
