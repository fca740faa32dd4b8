// Dates and times of day as text in a locale's language, with the Windows picture language
// ("yyyy/MM/dd", "dddd", "H:mm:ss", "tt", quoted text), and the user's default locale.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/clock.h"

// The user's default locale identifier (language in the low 16 bits).
std::uint32_t user_default_locale();

// Formats the date (or the time of day) of `time`, or of the current local time when it is null,
// with `picture`, or with the locale's default (short date; time with seconds) when it is null.
// The CP932 result and its terminator must fit in `size` bytes; false when they do not, when the
// time is invalid, or when the platform refuses the locale.
bool format_date(std::uint32_t locale, const SystemTime* time, const char* picture, char* out,
                 std::size_t size);
bool format_time(std::uint32_t locale, const SystemTime* time, const char* picture, char* out,
                 std::size_t size);
