#include <windows.h>

#include "platform/clock.h"
#include "platform/system_time_win32.h"

namespace {

SystemTime from_windows(const SYSTEMTIME& time) {
  return SystemTime{time.wYear, time.wMonth,  time.wDayOfWeek, time.wDay,
                    time.wHour, time.wMinute, time.wSecond,    time.wMilliseconds};
}

}  // namespace

void get_system_time(SystemTime* time) {
  SYSTEMTIME now;
  GetSystemTime(&now);
  *time = from_windows(now);
}

void get_local_time(SystemTime* time) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  *time = from_windows(now);
}

bool set_system_time(const SystemTime& time) {
  SYSTEMTIME converted = to_windows(time);
  return SetSystemTime(&converted) != 0;
}

bool set_local_time(const SystemTime& time) {
  SYSTEMTIME converted = to_windows(time);
  return SetLocalTime(&converted) != 0;
}

bool system_time_to_ticks(const SystemTime& time, std::int64_t* ticks) {
  SYSTEMTIME converted = to_windows(time);
  FILETIME file_time;
  if (!SystemTimeToFileTime(&converted, &file_time)) return false;
  *ticks = static_cast<std::int64_t>((static_cast<std::uint64_t>(file_time.dwHighDateTime) << 32) |
                                     file_time.dwLowDateTime);
  return true;
}

bool ticks_to_system_time(std::int64_t ticks, SystemTime* time) {
  FILETIME file_time;
  file_time.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) & 0xFFFFFFFFu);
  file_time.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
  SYSTEMTIME converted;
  if (!FileTimeToSystemTime(&file_time, &converted)) return false;
  *time = from_windows(converted);
  return true;
}
