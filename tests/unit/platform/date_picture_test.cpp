// The calendar arithmetic and the portable date and time pictures, compared with the platform's
// own conversions and formatting: on Windows those are the system's functions, so the two must
// agree byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/calendar.h"
#include "platform/clock.h"
#include "platform/date_format.h"
#include "platform/date_picture.h"

namespace {

SystemTime at(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
              int milliseconds = 0) {
  SystemTime time{};
  time.year = static_cast<std::uint16_t>(year);
  time.month = static_cast<std::uint16_t>(month);
  time.day = static_cast<std::uint16_t>(day);
  time.hour = static_cast<std::uint16_t>(hour);
  time.minute = static_cast<std::uint16_t>(minute);
  time.second = static_cast<std::uint16_t>(second);
  time.milliseconds = static_cast<std::uint16_t>(milliseconds);
  return time;
}

std::string portable_date(std::uint32_t locale, const SystemTime& time, const char* picture) {
  char out[255];
  if (!format_date_picture(picture_locale(locale), time, picture, out, sizeof out)) return "<no>";
  return out;
}

std::string platform_date(std::uint32_t locale, const SystemTime& time, const char* picture) {
  char out[255];
  if (!format_date(locale, &time, picture, out, sizeof out)) return "<no>";
  return out;
}

std::string portable_time(std::uint32_t locale, const SystemTime& time, const char* picture) {
  char out[255];
  if (!format_time_picture(picture_locale(locale), time, picture, out, sizeof out)) return "<no>";
  return out;
}

std::string platform_time(std::uint32_t locale, const SystemTime& time, const char* picture) {
  char out[255];
  if (!format_time(locale, &time, picture, out, sizeof out)) return "<no>";
  return out;
}

// Pictures of both kinds, with quotes, letters of the other function, and double-byte characters
// whose second byte is a picture letter ("\x83\x64" ends in "d", "\x83\x4d" in "M").
const std::vector<const char*> kPictures = {
    "d dd ddd dddd ddddd",
    "M MM MMM MMMM MMMMM",
    "y yy yyy yyyy yyyyy",
    "g",
    "h hh hhh H HH HHH",
    "m mm s ss",
    "t tt ttt",
    "'it''s' 'x",
    "''y'",
    "\x83\x64\x83\x4d d",
    "\x94\x4e\x8c\x8e",
    "dddd, MMMM dd",
    "tt h:mm:ss",
    "",
};

const std::vector<std::uint32_t> kLocales = {0x0411, 0x0409, 0x0011, 0x0009};

}  // namespace

TEST(Calendar, CountsTicksFrom1601) {
  std::int64_t ticks = -1;
  ASSERT_TRUE(calendar_to_ticks(at(1601, 1, 1), &ticks));
  EXPECT_EQ(ticks, 0);
  ASSERT_TRUE(calendar_to_ticks(at(1970, 1, 1), &ticks));
  EXPECT_EQ(ticks, 116444736000000000LL);
  ASSERT_TRUE(calendar_to_ticks(at(2024, 3, 5, 9, 5, 7, 500), &ticks));
  SystemTime back{};
  ASSERT_TRUE(calendar_from_ticks(ticks, &back));
  EXPECT_EQ(back.year, 2024);
  EXPECT_EQ(back.month, 3);
  EXPECT_EQ(back.day, 5);
  EXPECT_EQ(back.day_of_week, 2);  // a Tuesday
  EXPECT_EQ(back.hour, 9);
  EXPECT_EQ(back.minute, 5);
  EXPECT_EQ(back.second, 7);
  EXPECT_EQ(back.milliseconds, 500);
  EXPECT_FALSE(calendar_from_ticks(-1, &back));
}

TEST(Calendar, RejectsWhatWindowsRejects) {
  std::int64_t ticks = 0;
  for (const SystemTime& bad :
       {at(1600, 12, 31), at(30828, 1, 1), at(2024, 0, 1), at(2024, 13, 1), at(2024, 1, 0),
        at(2024, 1, 32), at(2024, 4, 31), at(2023, 2, 29), at(1900, 2, 29), at(2024, 1, 1, 24),
        at(2024, 1, 1, 0, 60), at(2024, 1, 1, 0, 0, 60), at(2024, 1, 1, 0, 0, 0, 1000)}) {
    EXPECT_FALSE(calendar_to_ticks(bad, &ticks)) << bad.year << "-" << bad.month << "-" << bad.day;
  }
  EXPECT_TRUE(calendar_to_ticks(at(2000, 2, 29), &ticks));
  EXPECT_TRUE(calendar_to_ticks(at(30827, 12, 31, 23, 59, 59, 999), &ticks));
}

TEST(Calendar, AgreesWithThePlatformConversion) {
  // Every 97th day over four centuries, at a time of day that moves too, both ways.
  for (int day = 0; day < 146097; day += 97) {
    std::int64_t ticks = static_cast<std::int64_t>(day + 140000) * 864000000000LL +
                         static_cast<std::int64_t>(day % 86400) * 10000000 + day % 1000 * 10000;
    SystemTime portable{};
    SystemTime platform{};
    ASSERT_TRUE(calendar_from_ticks(ticks, &portable));
    ASSERT_TRUE(ticks_to_system_time(ticks, &platform));
    ASSERT_EQ(portable.year, platform.year);
    ASSERT_EQ(portable.month, platform.month);
    ASSERT_EQ(portable.day, platform.day);
    ASSERT_EQ(portable.day_of_week, platform.day_of_week);
    ASSERT_EQ(portable.hour, platform.hour);
    ASSERT_EQ(portable.second, platform.second);
    ASSERT_EQ(portable.milliseconds, platform.milliseconds);
    std::int64_t back = 0;
    ASSERT_TRUE(system_time_to_ticks(platform, &back));
    ASSERT_EQ(back, ticks);
  }
  // Invalid fields; not February 29 of a common year, which one emulated platform accepts.
  std::int64_t ticks = 0;
  for (const SystemTime& bad : {at(2024, 13, 1), at(2024, 4, 31), at(2024, 1, 1, 25),
                                at(2024, 1, 1, 0, 0, 0, 1000), at(1600, 1, 1)}) {
    EXPECT_FALSE(system_time_to_ticks(bad, &ticks));
  }
}

TEST(DatePicture, FormatsTheNamesOfBothLanguages) {
  SystemTime tuesday = at(2024, 3, 5, 9, 5, 7);
  EXPECT_EQ(portable_date(0x0409, tuesday, nullptr), "3/5/2024");
  EXPECT_EQ(portable_date(0x0411, tuesday, nullptr), "2024/3/5");
  EXPECT_EQ(portable_date(0x0409, tuesday, "dddd ddd MMMM MMM"), "Tuesday Tue March Mar");
  EXPECT_EQ(portable_date(0x0411, tuesday, "dddd|ddd|MMMM"),
            "\x89\xce\x97\x6a\x93\xfa|\x89\xce|3\x8c\x8e");
  EXPECT_EQ(portable_time(0x0411, tuesday, "t|tt"), "\x8c\xdf|\x8c\xdf\x91\x4f");
  EXPECT_EQ(portable_time(0x0409, at(2024, 3, 5, 0, 0, 0), nullptr), "12:00:00 AM");
  EXPECT_EQ(portable_time(0x0411, at(2024, 3, 5, 21, 4, 0), nullptr), "21:04:00");
  // A trail byte that looks like a picture letter stays part of its character.
  EXPECT_EQ(portable_date(0x0409, tuesday, "\x83\x64 d"), "\x83\x64 5");
  // The day of the week comes from the date, not from the time's own field.
  SystemTime wrong_weekday = tuesday;
  wrong_weekday.day_of_week = 6;
  EXPECT_EQ(portable_date(0x0409, wrong_weekday, "ddd"), "Tue");
  // A run of era letters gives the era once.
  EXPECT_EQ(portable_date(0x0411, tuesday, "gg"), "\x90\xbc\x97\xef");
}

TEST(DatePicture, RefusesWhatDoesNotFit) {
  char out[8];
  SystemTime time = at(2024, 3, 5);
  EXPECT_TRUE(format_date_picture(picture_locale(0x0409), time, "xxxxxxx", out, sizeof out));
  EXPECT_STREQ(out, "xxxxxxx");
  EXPECT_FALSE(format_date_picture(picture_locale(0x0409), time, "xxxxxxxx", out, sizeof out));
  EXPECT_FALSE(format_date_picture(picture_locale(0x0409), time, "dddd!", out, sizeof out));
}

TEST(DatePicture, MatchesThePlatformFormatting) {
  std::vector<SystemTime> times = {at(2024, 3, 5, 9, 5, 7, 45), at(2009, 12, 9, 21, 4, 0),
                                   at(2005, 1, 1, 0, 0, 0),     at(2005, 1, 1, 12, 0, 0),
                                   at(1601, 1, 1, 23, 59, 59),  at(30827, 12, 31, 11, 0, 0),
                                   at(2024, 2, 30, 9, 0, 0),    at(2024, 13, 1, 9, 0, 0),
                                   at(2024, 3, 5, 24, 0, 0),    at(2024, 3, 5, 9, 0, 0, 1000)};
  for (int month = 1; month <= 12; ++month)
    times.push_back(at(2023, month, month + 10, month * 2 - 1, month * 5, month));
  for (std::uint32_t locale : kLocales) {
    for (const SystemTime& time : times) {
      for (const char* picture : kPictures) {
        const char* given = picture[0] != '\0' ? picture : nullptr;
        EXPECT_EQ(portable_date(locale, time, given), platform_date(locale, time, given))
            << std::hex << locale << std::dec << " " << time.year << "-" << time.month << "-"
            << time.day << " [" << picture << "]";
        EXPECT_EQ(portable_time(locale, time, given), platform_time(locale, time, given))
            << std::hex << locale << std::dec << " " << time.hour << ":" << time.minute << " ["
            << picture << "]";
      }
    }
  }
}
