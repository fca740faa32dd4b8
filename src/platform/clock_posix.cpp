#include <sys/time.h>
#include <time.h>

#include "platform/calendar.h"
#include "platform/clock.h"

namespace {

// Ticks between 1601-01-01 and 1970-01-01.
constexpr std::int64_t UNIX_EPOCH_TICKS = 116444736000000000LL;

SystemTime from_tm(const struct tm& parts, long nanoseconds) {
  SystemTime time{};
  time.year = static_cast<std::uint16_t>(parts.tm_year + 1900);
  time.month = static_cast<std::uint16_t>(parts.tm_mon + 1);
  time.day_of_week = static_cast<std::uint16_t>(parts.tm_wday);
  time.day = static_cast<std::uint16_t>(parts.tm_mday);
  time.hour = static_cast<std::uint16_t>(parts.tm_hour);
  time.minute = static_cast<std::uint16_t>(parts.tm_min);
  time.second = static_cast<std::uint16_t>(parts.tm_sec > 59 ? 59 : parts.tm_sec);
  time.milliseconds = static_cast<std::uint16_t>(nanoseconds / 1000000);
  return time;
}

bool set_clock(const struct timespec& when) {
  return clock_settime(CLOCK_REALTIME, &when) == 0;
}

}  // namespace

void get_system_time(SystemTime* time) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm parts {};
  gmtime_r(&now.tv_sec, &parts);
  *time = from_tm(parts, now.tv_nsec);
}

void get_local_time(SystemTime* time) {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm parts {};
  localtime_r(&now.tv_sec, &parts);
  *time = from_tm(parts, now.tv_nsec);
}

bool set_system_time(const SystemTime& time) {
  std::int64_t ticks = 0;
  if (!system_time_to_ticks(time, &ticks)) return false;
  std::int64_t since_epoch = ticks - UNIX_EPOCH_TICKS;
  struct timespec when {};
  when.tv_sec = static_cast<time_t>(since_epoch / 10000000);
  when.tv_nsec = static_cast<long>(since_epoch % 10000000) * 100;
  if (when.tv_nsec < 0) {
    when.tv_sec -= 1;
    when.tv_nsec += 1000000000L;
  }
  return set_clock(when);
}

bool set_local_time(const SystemTime& time) {
  std::int64_t ticks = 0;
  if (!system_time_to_ticks(time, &ticks)) return false;
  struct tm parts {};
  parts.tm_year = time.year - 1900;
  parts.tm_mon = time.month - 1;
  parts.tm_mday = time.day;
  parts.tm_hour = time.hour;
  parts.tm_min = time.minute;
  parts.tm_sec = time.second;
  parts.tm_isdst = -1;
  time_t seconds = mktime(&parts);
  if (seconds == static_cast<time_t>(-1)) return false;
  struct timespec when {};
  when.tv_sec = seconds;
  when.tv_nsec = static_cast<long>(time.milliseconds) * 1000000L;
  return set_clock(when);
}

bool system_time_to_ticks(const SystemTime& time, std::int64_t* ticks) {
  return calendar_to_ticks(time, ticks);
}

bool ticks_to_system_time(std::int64_t ticks, SystemTime* time) {
  return calendar_from_ticks(ticks, time);
}
