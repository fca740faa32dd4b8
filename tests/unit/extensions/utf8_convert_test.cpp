#include "convert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string run(std::size_t (*convert)(const unsigned char*, std::size_t, unsigned char*),
                const std::string& in) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(in.data());
  std::size_t size = convert(bytes, in.size(), nullptr);
  std::string out(size, '\0');
  EXPECT_EQ(convert(bytes, in.size(), reinterpret_cast<unsigned char*>(out.data())), size);
  return out;
}

std::string to_sjis(const std::string& utf8) {
  return run(utf8ext::utf8_to_cp932, utf8);
}
std::string to_utf8(const std::string& sjis) {
  return run(utf8ext::cp932_to_utf8, sjis);
}

std::string utf8_of(std::uint32_t point) {
  std::string out;
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | point >> 6);
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else if (point < 0x10000) {
    out += static_cast<char>(0xE0 | point >> 12);
    out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | point >> 18);
    out += static_cast<char>(0x80 | (point >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (point >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
  return out;
}

bool is_lead(unsigned byte) {
  return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

TEST(Utf8Extension, EveryCp932CharacterRoundTrips) {
  int characters = 0;
  for (unsigned byte = 0; byte < 0x100; ++byte) {
    if (is_lead(byte)) continue;
    std::string one(1, static_cast<char>(byte));
    std::string utf8 = to_utf8(one);
    if (byte != '?') {
      EXPECT_NE(utf8, "?") << byte;
    }
    EXPECT_EQ(to_sjis(utf8), one) << byte;
  }
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    if (!is_lead(lead)) continue;
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
      std::string utf8 = to_utf8(pair);
      if (utf8 == "?") continue;
      ++characters;
      ASSERT_GE(utf8.size(), 2u) << lead << " " << trail;
      // A duplicate may come back as the pair Windows prefers, but always as the same character.
      std::string back = to_sjis(utf8);
      ASSERT_EQ(back.size(), 2u) << lead << " " << trail;
      EXPECT_EQ(to_utf8(back), utf8);
      bool duplicate_area = lead == 0x87 || lead == 0xED || lead == 0xEE || lead >= 0xFA;
      if (!duplicate_area) {
        EXPECT_EQ(back, pair) << lead << " " << trail;
      }
      // Every NEC-selected IBM character has an IBM twin, which wins.
      auto back_lead = static_cast<unsigned char>(back[0]);
      EXPECT_TRUE(back_lead != 0xED && back_lead != 0xEE) << lead << " " << trail;
    }
  }
  // JIS X 0208, the NEC and IBM extensions and the user-defined area.
  EXPECT_EQ(characters, 9604);
}

TEST(Utf8Extension, DuplicatesEncodeAsWindowsDoes) {
  EXPECT_EQ(to_sjis(to_utf8("\xEE\xEF")), "\xFA\x40");  // small roman one: IBM over NEC-selected
  EXPECT_EQ(to_sjis(to_utf8("\xED\x40")), "\xFA\x5C");  // a kanji of the IBM extension
  EXPECT_EQ(to_sjis(to_utf8("\xFA\x4A")), "\x87\x54");  // roman one: NEC row 13 over IBM
  EXPECT_EQ(to_sjis(to_utf8("\xEE\xF9")), "\x81\xCA");  // not sign: JIS X 0208 first
  EXPECT_EQ(to_sjis(to_utf8("\x87\x90")), "\x81\xE0");  // approximately equal
}

TEST(Utf8Extension, KnownCharacters) {
  EXPECT_EQ(to_utf8("a\x82\xA0\xB1\x5C"), "a\xE3\x81\x82\xEF\xBD\xB1\\");
  EXPECT_EQ(to_sjis("a\xE3\x81\x82\xEF\xBD\xB1\\"), "a\x82\xA0\xB1\x5C");
  EXPECT_EQ(to_utf8("\x81\x60"), "\xEF\xBD\x9E");  // the wave dash is FULLWIDTH TILDE here
  EXPECT_EQ(to_utf8("\xF0\x40"), "\xEE\x80\x80");  // user-defined area: private use
  EXPECT_EQ(to_utf8("\x80\xA0\xFF"), "\xC2\x80\xEF\xA3\xB0\xEF\xA3\xB3");
  EXPECT_EQ(to_sjis("\xC2\x80\xEF\xA3\xB0\xEF\xA3\xB3"), "\x80\xA0\xFF");
  // IRC formatting codes and other control bytes pass both ways.
  EXPECT_EQ(to_utf8("\x01\x02\x03\x0F\x16\x1F\x7F"), "\x01\x02\x03\x0F\x16\x1F\x7F");
  EXPECT_EQ(to_sjis("\x01\x02\x03\x0F\x16\x1F\x7F"), "\x01\x02\x03\x0F\x16\x1F\x7F");
  EXPECT_EQ(to_sjis(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(to_sjis(""), "");
  EXPECT_EQ(to_utf8(""), "");
}

TEST(Utf8Extension, LookAlikesFromOtherSystemsEncodeOneWay) {
  EXPECT_EQ(to_sjis("\xE3\x80\x9C"), "\x81\x60");  // WAVE DASH
  EXPECT_EQ(to_sjis("\xE2\x88\x92"), "\x81\x7C");  // MINUS SIGN
  EXPECT_EQ(to_sjis("\xE2\x80\x94"), "\x81\x5C");  // EM DASH
  EXPECT_EQ(to_sjis("\xC2\xA5\xE2\x80\xBE"), "\x5C\x7E");
  EXPECT_EQ(to_utf8("\x81\x60"), "\xEF\xBD\x9E");
}

TEST(Utf8Extension, EveryOtherCodePointBecomesOneQuestionMark) {
  int encodable = 0;
  for (std::uint32_t point = 0x80; point <= 0x10FFFF; ++point) {
    if ((point >= 0xD800 && point <= 0xDFFF) || point == 0xFEFF) continue;  // BOM: see below
    std::string utf8 = utf8_of(point);
    std::string sjis = to_sjis(utf8);
    if (sjis == "?") continue;
    ++encodable;
    ASSERT_LE(sjis.size(), 2u) << point;
    std::string back = to_utf8(sjis);
    if (back != utf8) {  // only the one-way look-alikes decode to another character
      EXPECT_TRUE(point == 0x301C || point == 0x2016 || point == 0x2212 || point == 0xA2 ||
                  point == 0xA3 || point == 0xAC || point == 0x2014 || point == 0xA6 ||
                  point == 0xA5 || point == 0x203E)
          << point;
    }
  }
  EXPECT_EQ(encodable, 9284);
}

TEST(Utf8Extension, IllFormedUtf8BecomesOneQuestionMarkPerMaximalPart) {
  EXPECT_EQ(to_sjis("\x80"), "?");
  EXPECT_EQ(to_sjis("\xC0\x80"), "??");  // overlong NUL
  EXPECT_EQ(to_sjis("\xC1\xBF"), "??");
  EXPECT_EQ(to_sjis("\xE0\x80\xAF"), "???");                 // overlong three-byte form
  EXPECT_EQ(to_sjis("\xF0\x80\x80\xAF"), "????");            // overlong four-byte form
  EXPECT_EQ(to_sjis("\xED\xA0\x80\xED\xBF\xBF"), "??????");  // surrogates
  EXPECT_EQ(to_sjis("\xF4\x90\x80\x80"), "????");            // above U+10FFFF
  EXPECT_EQ(to_sjis("\xF5\xFE\xFF"), "???");
  EXPECT_EQ(to_sjis("\xE3\x81"), "?");  // cut short by the end
  EXPECT_EQ(to_sjis("\xE3\x81"
                    "a\xE3\x81\x82"),
            "?a\x82\xA0");
  EXPECT_EQ(to_sjis("\xF0\x9F\x98\x80!"), "?!");  // a character CP932 lacks
  EXPECT_EQ(to_sjis("\xEF\xBF\xBD"), "?");
  // Only the bytes counted are read: a character split by the count is cut short.
  EXPECT_EQ(
      utf8ext::utf8_to_cp932(reinterpret_cast<const unsigned char*>("\xE3\x81\x82"), 2, nullptr),
      1u);
}

TEST(Utf8Extension, ByteOrderMarkIsDroppedOnlyAtTheStart) {
  EXPECT_EQ(to_sjis("\xEF\xBB\xBF"
                    "a"),
            "a");
  EXPECT_EQ(to_sjis("\xEF\xBB\xBF"), "");
  EXPECT_EQ(to_sjis("\xEF\xBB\xBF\xEF\xBB\xBF"), "?");
  EXPECT_EQ(to_sjis("a\xEF\xBB\xBF"), "a?");
  EXPECT_EQ(to_sjis("\xEF\xBB"), "?");
}

TEST(Utf8Extension, InvalidCp932BecomesQuestionMarks) {
  EXPECT_EQ(to_utf8("\x82"), "?");      // a lead byte at the end
  EXPECT_EQ(to_utf8("\x82 a"), "? a");  // no trail byte: the next byte stands alone
  EXPECT_EQ(to_utf8("\x82\x7F"), "?\x7F");
  EXPECT_EQ(to_utf8("\x81\xFD"), "?\xEF\xA3\xB1");
  EXPECT_EQ(to_utf8("\x82\x82\x82"), "\xEF\xBD\x82?");  // a pair, then a lead byte alone
  EXPECT_EQ(to_utf8("\x85\x40\x86\xFC"), "??");         // pairs that are no character
  EXPECT_EQ(to_utf8("\xEF\x40"), "?");
  EXPECT_EQ(utf8ext::cp932_to_utf8(reinterpret_cast<const unsigned char*>("\x82\xA0"), 1, nullptr),
            1u);
}

TEST(Utf8Extension, OutputStaysWithinItsBounds) {
  // Half-width katakana triple in UTF-8; anything else is never longer in CP932 than in UTF-8.
  std::string kana(100, '\xB1');
  EXPECT_EQ(to_utf8(kana).size(), 300u);
  std::string any;
  for (int byte = 1; byte < 0x100; ++byte)
    any += static_cast<char>(byte);
  EXPECT_LE(to_sjis(any).size(), any.size());
  EXPECT_LE(to_utf8(any).size(), 3 * any.size());
}

}  // namespace
