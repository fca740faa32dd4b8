// The Windows date and time picture language, for platforms that do not have it: Japanese and
// English (United States) names and default formats, CP932 text.
//
// Date pictures: d, dd (day), ddd, dddd (day name), M, MM (month), MMM, MMMM (month name), y, yy
// (two-digit year), yyy and longer (full year), g (era). Time pictures: h, hh (12-hour), H, HH,
// m, mm, s, ss, t (first character of AM/PM), tt. Text in single quotes is copied ('' inside
// quotes is one quote); every other character, double-byte ones included, is copied as it is.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

struct PictureLocale {
  const char* short_date;
  const char* time_format;
  const char* am;
  const char* pm;
  const char* era;
  const char* day_names[7];  // Sunday first
  const char* day_abbreviations[7];
  const char* month_names[12];
  const char* month_abbreviations[12];
};

// The names of a locale: Japanese for the Japanese language, English (United States) otherwise.
const PictureLocale& picture_locale(std::uint32_t locale);

// Formats into `out` (terminator included, at most `size` bytes); false when the date (or the
// time of day) is invalid or the result does not fit. A null picture means the default format.
bool format_date_picture(const PictureLocale& names, const SystemTime& time, const char* picture,
                         char* out, std::size_t size);
bool format_time_picture(const PictureLocale& names, const SystemTime& time, const char* picture,
                         char* out, std::size_t size);
