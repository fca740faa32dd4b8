#include "platform/date_picture.h"

#include <cstdio>
#include <cstring>

#include "platform/calendar.h"

namespace {

// CP932 bytes of the Japanese names.
#define SUN "\x93\xfa"
#define MON "\x8c\x8e"
#define TUE "\x89\xce"
#define WED "\x90\x85"
#define THU "\x96\xd8"
#define FRI "\x8b\xe0"
#define SAT "\x93\x79"
#define YOUBI "\x97\x6a\x93\xfa"
#define GATSU "\x8c\x8e"

constexpr PictureLocale kJapanese = {
    "yyyy/M/d",
    "H:mm:ss",
    "\x8c\xdf\x91\x4f",  // gozen
    "\x8c\xdf\x8c\xe3",  // gogo
    "\x90\xbc\x97\xef",  // seireki
    {SUN YOUBI, MON YOUBI, TUE YOUBI, WED YOUBI, THU YOUBI, FRI YOUBI, SAT YOUBI},
    {SUN, MON, TUE, WED, THU, FRI, SAT},
    {"1" GATSU, "2" GATSU, "3" GATSU, "4" GATSU, "5" GATSU, "6" GATSU, "7" GATSU, "8" GATSU,
     "9" GATSU, "10" GATSU, "11" GATSU, "12" GATSU},
    {"1" GATSU, "2" GATSU, "3" GATSU, "4" GATSU, "5" GATSU, "6" GATSU, "7" GATSU, "8" GATSU,
     "9" GATSU, "10" GATSU, "11" GATSU, "12" GATSU},
};

constexpr PictureLocale kEnglish = {
    "M/d/yyyy",
    "h:mm:ss tt",
    "AM",
    "PM",
    "AD",
    {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"},
    {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"},
    {"January", "February", "March", "April", "May", "June", "July", "August", "September",
     "October", "November", "December"},
    {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
};

constexpr std::uint32_t LANGUAGE_JAPANESE = 0x11;

bool is_lead(unsigned char byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

// Bytes of the character at `text`: 2 for a double-byte character, else 1.
std::size_t char_length(const char* text) {
  return is_lead(static_cast<unsigned char>(text[0])) && text[1] != '\0' ? 2 : 1;
}

// A bounded output; `overflow` once anything did not fit.
struct Output {
  char* out;
  std::size_t size;
  std::size_t length;
  bool overflow;

  void append(const char* text, std::size_t count) {
    if (overflow || length + count >= size) {
      overflow = true;
      return;
    }
    std::memcpy(out + length, text, count);
    length += count;
  }
  void append(const char* text) { append(text, std::strlen(text)); }
  void number(int value, bool two_digits) {
    char digits[16];
    int count = std::snprintf(digits, sizeof digits, two_digits ? "%02d" : "%d", value);
    append(digits, static_cast<std::size_t>(count));
  }
};

// Copies a quoted run starting after its opening quote; returns where the picture goes on.
const char* copy_quoted(const char* cursor, Output* output) {
  while (*cursor != '\0') {
    if (*cursor == '\'') {
      if (cursor[1] != '\'') return cursor + 1;
      output->append("'", 1);
      cursor += 2;
      continue;
    }
    std::size_t length = char_length(cursor);
    output->append(cursor, length);
    cursor += length;
  }
  return cursor;
}

// How many times the byte at `cursor` repeats.
std::size_t run_length(const char* cursor) {
  std::size_t count = 1;
  while (cursor[count] == cursor[0])
    ++count;
  return count;
}

using FieldWriter = bool (*)(const PictureLocale& names, const SystemTime& time, char letter,
                             std::size_t count, Output* output);

bool write_date_field(const PictureLocale& names, const SystemTime& time, char letter,
                      std::size_t count, Output* output) {
  switch (letter) {
    case 'd':
      if (count <= 2) {
        output->number(time.day, count == 2);
      } else {
        output->append(count == 3 ? names.day_abbreviations[time.day_of_week]
                                  : names.day_names[time.day_of_week]);
      }
      return true;
    case 'M':
      if (count <= 2) {
        output->number(time.month, count == 2);
      } else {
        output->append(count == 3 ? names.month_abbreviations[time.month - 1]
                                  : names.month_names[time.month - 1]);
      }
      return true;
    case 'y':
      if (count <= 2) {
        output->number(time.year % 100, true);
      } else {
        output->number(time.year, false);
      }
      return true;
    case 'g':
      output->append(names.era);
      return true;
    default:
      return false;
  }
}

bool write_time_field(const PictureLocale& names, const SystemTime& time, char letter,
                      std::size_t count, Output* output) {
  switch (letter) {
    case 'h':
      output->number(time.hour % 12 == 0 ? 12 : time.hour % 12, count >= 2);
      return true;
    case 'H':
      output->number(time.hour, count >= 2);
      return true;
    case 'm':
      output->number(time.minute, count >= 2);
      return true;
    case 's':
      output->number(time.second, count >= 2);
      return true;
    case 't': {
      const char* designator = time.hour < 12 ? names.am : names.pm;
      output->append(designator, count == 1 ? char_length(designator) : std::strlen(designator));
      return true;
    }
    default:
      return false;
  }
}

bool format_picture(const PictureLocale& names, const SystemTime& time, const char* picture,
                    FieldWriter writer, char* out, std::size_t size) {
  Output output{out, size, 0, false};
  const char* cursor = picture;
  while (*cursor != '\0') {
    if (*cursor == '\'') {
      cursor = copy_quoted(cursor + 1, &output);
      continue;
    }
    std::size_t count = run_length(cursor);
    if (writer(names, time, *cursor, count, &output)) {
      cursor += count;
      continue;
    }
    std::size_t length = char_length(cursor);
    output.append(cursor, length);
    cursor += length;
  }
  if (output.overflow || size == 0) return false;
  out[output.length] = '\0';
  return true;
}

}  // namespace

const PictureLocale& picture_locale(std::uint32_t locale) {
  return (locale & 0x3FF) == LANGUAGE_JAPANESE ? kJapanese : kEnglish;
}

bool format_date_picture(const PictureLocale& names, const SystemTime& time, const char* picture,
                         char* out, std::size_t size) {
  if (!valid_date(time)) return false;
  SystemTime dated = time;
  dated.day_of_week = static_cast<std::uint16_t>(day_of_week(time.year, time.month, time.day));
  return format_picture(names, dated, picture != nullptr ? picture : names.short_date,
                        write_date_field, out, size);
}

bool format_time_picture(const PictureLocale& names, const SystemTime& time, const char* picture,
                         char* out, std::size_t size) {
  if (!valid_time_of_day(time)) return false;
  return format_picture(names, time, picture != nullptr ? picture : names.time_format,
                        write_time_field, out, size);
}
