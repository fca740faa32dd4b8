#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "platform/date_format.h"
#include "platform/date_picture.h"

namespace {

constexpr std::uint32_t LOCALE_JAPANESE = 0x0411;
constexpr std::uint32_t LOCALE_ENGLISH_US = 0x0409;

// A neutral language (0) stands for the user's default, as on Windows.
const PictureLocale& names_of(std::uint32_t locale) {
  return picture_locale((locale & 0x3FF) == 0 ? user_default_locale() : locale);
}

SystemTime time_or_now(const SystemTime* time) {
  if (time != nullptr) return *time;
  SystemTime now{};
  get_local_time(&now);
  return now;
}

}  // namespace

std::uint32_t user_default_locale() {
  // The formats follow the time locale of the environment, as Windows' user locale does.
  for (const char* name : {"LC_ALL", "LC_TIME", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] == '\0') continue;
    return std::strncmp(value, "ja", 2) == 0 ? LOCALE_JAPANESE : LOCALE_ENGLISH_US;
  }
  return LOCALE_ENGLISH_US;
}

bool format_date(std::uint32_t locale, const SystemTime* time, const char* picture, char* out,
                 std::size_t size) {
  return format_date_picture(names_of(locale), time_or_now(time), picture, out, size);
}

bool format_time(std::uint32_t locale, const SystemTime* time, const char* picture, char* out,
                 std::size_t size) {
  return format_time_picture(names_of(locale), time_or_now(time), picture, out, size);
}
