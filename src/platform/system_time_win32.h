// A script's SystemTime as the Windows record (Windows builds only).
#pragma once

#include <windows.h>

#include "platform/clock.h"

inline SYSTEMTIME to_windows(const SystemTime& time) {
  SYSTEMTIME converted{};
  converted.wYear = time.year;
  converted.wMonth = time.month;
  converted.wDayOfWeek = time.day_of_week;
  converted.wDay = time.day;
  converted.wHour = time.hour;
  converted.wMinute = time.minute;
  converted.wSecond = time.second;
  converted.wMilliseconds = time.milliseconds;
  return converted;
}
