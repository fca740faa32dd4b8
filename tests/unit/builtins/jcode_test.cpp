#include "builtins/jcode.h"

#include <gtest/gtest.h>

#include <string>

#include "builtins/args.h"
#include "engine/builtin_table.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "support/test_host.h"

namespace {

const std::string kToKanji = "\x1B$B";
const std::string kToAscii = "\x1B(B";

ValueNode* text_node(const std::string& bytes) {
  ValueNode* node = make_node();
  set_string_value(node->value, bytes.c_str());
  return node;
}

ValueNode* number_node(std::int32_t number) {
  ValueNode* node = make_node();
  node->value->data.number = number;
  return node;
}

// A byte hash; an empty string gives a hash without elements.
ValueNode* hash_node(const std::string& bytes) {
  ValueNode* node = make_node();
  if (!bytes.empty()) {
    store_bytes_in_hash(nullptr, node, reinterpret_cast<const unsigned char*>(bytes.data()),
                        static_cast<std::int32_t>(bytes.size()));
  }
  return node;
}

// An argument cell for a variable passed by reference: it shares the variable's Value and starts
// the same element chain, as the evaluator makes it.
ValueNode* reference_to(ValueNode* variable) {
  ValueNode* cell = make_cell();
  cell->value = variable->value;
  cell->elements = variable->elements;
  return cell;
}

std::string hash_bytes(const ValueNode* hash) {
  std::string bytes;
  for (const ValueNode* cell = hash->elements; cell != nullptr; cell = cell->next)
    bytes += static_cast<char>(cell->value->data.number);
  return bytes;
}

// Every two-byte character whose lead byte JIS X 0208 can carry (0x81-0x9F, 0xE0-0xEF), with a
// printable ASCII byte after every seventh one so the converters switch modes often, after all
// printable ASCII.
std::string all_jis_characters_and_ascii() {
  std::string text;
  for (int byte = 0x20; byte <= 0x7E; ++byte)
    text += static_cast<char>(byte);
  int written = 0;
  for (int lead = 0x81; lead <= 0xEF; ++lead) {
    if (lead > 0x9F && lead < 0xE0) continue;
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      text += static_cast<char>(lead);
      text += static_cast<char>(trail);
      if (++written % 7 == 0) text += static_cast<char>(0x20 + written % 0x5F);
    }
  }
  return text;
}

struct Jcode : testing::Test {
  TestHost test_host;
  ScriptFixture scripts{test_host.host()};
  Script* main_module = scripts.add_module("main");
  CallContext frame = make_frame(main_module, "start");

  // Calls a built-in by its script name; the result cell or CALL_FAILED.
  ValueNode* call(const char* name, ValueNode* arguments) {
    NativeFunction entry = find_builtin((std::string(LUMO_EXPORT_PREFIX) + name).c_str());
    EXPECT_NE(entry, nullptr) << name;
    return call_native(&frame, entry, name, arguments);
  }

  // The bytes of the string that a call gives; "<failed>" or "<number>" otherwise.
  std::string text_result(const char* name, ValueNode* arguments) {
    ValueNode* result = call(name, arguments);
    free_node(arguments);
    if (result == CALL_FAILED) return "<failed>";
    std::string text = result->value->is_string ? result->value->data.text : "<number>";
    free_node(result);
    return text;
  }
  std::string text_result(const char* name, const std::string& argument) {
    return text_result(name, text_node(argument));
  }

  std::int32_t number_result(const char* name, ValueNode* arguments) {
    ValueNode* result = call(name, arguments);
    free_node(arguments);
    if (result == CALL_FAILED) return -999;
    EXPECT_EQ(result->value->is_string, 0);
    std::int32_t number = result->value->data.number;
    free_node(result);
    return number;
  }
};

}  // namespace

TEST(JcodeTable, RegisteredInTheirRows) {
  const NativeFunction entries[] = {
      builtin_isleadchar,       builtin_getcodetype,  builtin_sjistojis,       builtin_jistosjis,
      builtin_sjistoeuc,        builtin_euctosjis,    builtin_hashtosjis,      builtin_base64decode,
      builtin_base64decodehash, builtin_base64encode, builtin_base64encodehash};
  for (int i = 0; i < 11; ++i)
    EXPECT_EQ(BuiltinTable[47 + i].entry, entries[i]) << BuiltinTable[47 + i].name;
}

TEST_F(Jcode, IsLeadCharAnswersForCp932) {
  EXPECT_EQ(number_result("isleadchar", text_node("\x81@")), 1);
  EXPECT_EQ(number_result("isleadchar", text_node("\x9F")), 1);
  EXPECT_EQ(number_result("isleadchar", text_node("\xE0")), 1);
  EXPECT_EQ(number_result("isleadchar", text_node("\xFC")), 1);
  EXPECT_EQ(number_result("isleadchar", text_node("\x80")), 0);
  EXPECT_EQ(number_result("isleadchar", text_node("\xA0")), 0);
  EXPECT_EQ(number_result("isleadchar", text_node("\xB1")), 0);  // half-width katakana
  EXPECT_EQ(number_result("isleadchar", text_node("\xFD")), 0);
  EXPECT_EQ(number_result("isleadchar", text_node("a\x81")), 0);  // only the first byte counts
  EXPECT_EQ(number_result("isleadchar", text_node("")), 0);
  EXPECT_EQ(number_result("isleadchar", number_node(0x81)), 0);
}

TEST_F(Jcode, GetCodeTypeDecidesAtTheFirstDecidingPair) {
  EXPECT_EQ(number_result("getcodetype", text_node("abc")), 0);
  EXPECT_EQ(number_result("getcodetype", text_node("a\x82\xA0")), 1);
  EXPECT_EQ(number_result("getcodetype", text_node("\x8E\x40")), 1);
  EXPECT_EQ(number_result("getcodetype", text_node("x\x1B$B$\"\x1B(B\x82\xA0")), 2);
  EXPECT_EQ(number_result("getcodetype", text_node("\x1B$@")), 2);
  EXPECT_EQ(number_result("getcodetype", text_node("\x82\xA0\x1B$B")), 1);
  EXPECT_EQ(number_result("getcodetype", text_node("\xB1\xB2")), 3);  // ambiguous: EUC-JP
  EXPECT_EQ(number_result("getcodetype", text_node("\xB1\xB2\x82\xA0")), 1);
  EXPECT_EQ(number_result("getcodetype", text_node("\xFD\xA1")), 3);
  EXPECT_EQ(number_result("getcodetype", text_node("\xE0\xFD")), 3);
  EXPECT_EQ(number_result("getcodetype", number_node(12)), 0);
}

TEST_F(Jcode, GetCodeTypeStepsOverUndecidedPairs) {
  // {K}: the kana byte and the one after it are passed together, so 0x82 0xA0 is not a pair here.
  EXPECT_EQ(number_result("getcodetype", text_node("\xB1\x82\xA0")), 0);
  // {S, E1} and {S, E2} decide nothing; the next pair does.
  EXPECT_EQ(number_result("getcodetype", text_node("\xE0\xA1\xB1\xB2")), 3);
  EXPECT_EQ(number_result("getcodetype", text_node("\x8E\xB1\x82\xA0")), 1);
  // An escape that is not the kanji one, or one cut by the end, moves on one byte.
  EXPECT_EQ(number_result("getcodetype", text_node("\x1B(B\x82\xA0")), 1);
  EXPECT_EQ(number_result("getcodetype", text_node("\x1B$")), 0);
  EXPECT_EQ(number_result("getcodetype", text_node("\xB1")), 0);  // {K} at the end
}

TEST_F(Jcode, SjisToJisShiftsInAndOutAroundDoubleBytes) {
  EXPECT_EQ(text_result("sjistojis", "abc"), "abc");
  EXPECT_EQ(text_result("sjistojis", ""), "");
  EXPECT_EQ(text_result("sjistojis",
                        "a\x82\xA0\x88\x9F"
                        "b"),
            "a" + kToKanji + "\x24\x22\x30\x21" + kToAscii + "b");
  EXPECT_EQ(text_result("sjistojis", "\x82\xA0"), kToKanji + "\x24\x22" + kToAscii);
  // 0x80 and 0xFD-0xFF are single bytes.
  EXPECT_EQ(text_result("sjistojis", "\x80\xFD\xFE\xFF"), "\x80\xFD\xFE\xFF");
  EXPECT_EQ(text_result("sjistojis", number_node(-5)), "-5");
  // No range check: the trail byte goes through the arithmetic whatever it is.
  EXPECT_EQ(text_result("sjistojis", "\x81\x20"), kToKanji + "\x21\x01" + kToAscii);
}

TEST_F(Jcode, SjisToJisCopiesALeadByteThatEndsTheText) {
  EXPECT_EQ(text_result("sjistojis", "\x82"), "\x82");
  EXPECT_EQ(text_result("sjistojis", "\x82\xA0\x82"), kToKanji + "\x24\x22" + kToAscii + "\x82");
  // ... and the JIS converter copies it back, so nothing is lost.
  EXPECT_EQ(text_result("jistosjis", text_result("sjistojis", "a\x82\xA0\x82")), "a\x82\xA0\x82");
}

TEST_F(Jcode, SjisToJisWidensHalfWidthKatakana) {
  EXPECT_EQ(text_result("sjistojis", "\xB6\xDE"), kToKanji + "\x25\x2C" + kToAscii);
  EXPECT_EQ(text_result("sjistojis", "\xB1\xDE"), kToKanji + "\x25\x22\x21\x2B" + kToAscii);
  EXPECT_EQ(text_result("sjistojis", "\xA0"), kToKanji + "\x21\x21" + kToAscii);
  EXPECT_EQ(text_result("sjistojis", "\xDE\xDF"), kToKanji + "\x21\x2B\x21\x2C" + kToAscii);
  EXPECT_EQ(text_result("sjistojis", "\xB1\x82\xA0"), kToKanji + "\x25\x22\x24\x22" + kToAscii);

  // Each half-width byte 0xA1-0xDF against its full-width Shift_JIS form, read back through JIS.
  const std::string full_width =
      "\x81\x42\x81\x75\x81\x76\x81\x41\x81\x45\x83\x92\x83\x40\x83\x42\x83\x44\x83\x46\x83\x48"
      "\x83\x83\x83\x85\x83\x87\x83\x62\x81\x5B\x83\x41\x83\x43\x83\x45\x83\x47\x83\x49\x83\x4A"
      "\x83\x4C\x83\x4E\x83\x50\x83\x52\x83\x54\x83\x56\x83\x58\x83\x5A\x83\x5C\x83\x5E\x83\x60"
      "\x83\x63\x83\x65\x83\x67\x83\x69\x83\x6A\x83\x6B\x83\x6C\x83\x6D\x83\x6E\x83\x71\x83\x74"
      "\x83\x77\x83\x7A\x83\x7D\x83\x7E\x83\x80\x83\x81\x83\x82\x83\x84\x83\x86\x83\x88\x83\x89"
      "\x83\x8A\x83\x8B\x83\x8C\x83\x8D\x83\x8F\x83\x93\x81\x4A\x81\x4B";
  for (int byte = 0xA1; byte <= 0xDF; ++byte) {
    std::string jis = text_result("sjistojis", std::string(1, static_cast<char>(byte)));
    EXPECT_EQ(text_result("jistosjis", jis), full_width.substr(2 * (byte - 0xA1), 2)) << byte;
  }
}

TEST_F(Jcode, SjisToJisCombinesSoundMarksOnlyWhereJisHasTheCharacter) {
  auto full_width = [this](const std::string& half_width) {
    return text_result("jistosjis", text_result("sjistojis", half_width));
  };
  EXPECT_EQ(full_width("\xB3\xDE"), "\x83\x94");  // vu
  EXPECT_EQ(full_width("\xB6\xDE"), "\x83\x4B");  // ga
  EXPECT_EQ(full_width("\xC2\xDE"), "\x83\x64");  // du
  EXPECT_EQ(full_width("\xC4\xDE"), "\x83\x68");  // do
  EXPECT_EQ(full_width("\xCA\xDE"), "\x83\x6F");  // ba
  EXPECT_EQ(full_width("\xCA\xDF"), "\x83\x70");  // pa
  EXPECT_EQ(full_width("\xCE\xDF"), "\x83\x7C");  // po
  // No combined form: the mark stands alone.
  EXPECT_EQ(full_width("\xB6\xDF"), "\x83\x4A\x81\x4B");  // ka + semi-voiced mark
  EXPECT_EQ(full_width("\xC5\xDE"), "\x83\x69\x81\x4A");  // na + voiced mark
  EXPECT_EQ(full_width("\xDC\xDE"), "\x83\x8F\x81\x4A");  // wa + voiced mark
  EXPECT_EQ(full_width("a\xDE"), "a\x81\x4A");
  // A mark combines with the byte before it only once.
  EXPECT_EQ(full_width("\xB6\xDE\xDE"), "\x83\x4B\x81\x4A");
}

TEST_F(Jcode, SjisToJisWorstCaseFillsTheCapacityExactly) {
  // Alternating half-width katakana and ASCII, odd length, is the longest output per input byte.
  std::string text;
  for (int i = 0; i < 2001; ++i)
    text += i % 2 == 0 ? '\xB1' : 'a';
  std::string out(sjis_to_jis_capacity(text.size()), '\0');
  std::size_t written = sjis_to_jis(reinterpret_cast<const unsigned char*>(text.data()),
                                    text.size(), reinterpret_cast<unsigned char*>(out.data()));
  EXPECT_EQ(written, sjis_to_jis_capacity(text.size()));
  EXPECT_EQ(text_result("sjistojis", text), out);
}

TEST_F(Jcode, JisToSjisFollowsTheEscapes) {
  EXPECT_EQ(text_result("jistosjis", "abc"), "abc");
  EXPECT_EQ(text_result("jistosjis", kToKanji + "\x24\x22\x30\x21" + kToAscii + "\x24\x22"),
            "\x82\xA0\x88\x9F\x24\x22");
  EXPECT_EQ(text_result("jistosjis", "\x1B$@\x24\x22\x1B(J\x24\x22"), "\x82\xA0\x24\x22");
  EXPECT_EQ(text_result("jistosjis", "\x1BK\x24\x22\x1BH\x24\x22"), "\x82\xA0\x24\x22");
  EXPECT_EQ(text_result("jistosjis", kToKanji + "\x24\x22\x1B(H\x24\x22"), "\x82\xA0\x24\x22");
  // Unknown designations: ESC $ x is copied and keeps the state; ESC ( x is copied, kanji off.
  EXPECT_EQ(text_result("jistosjis", kToKanji + "\x1B$A\x24\x22"), "\x1B$A\x82\xA0");
  EXPECT_EQ(text_result("jistosjis", kToKanji + "\x1B(I\x24\x22"), "\x1B(I\x24\x22");
  EXPECT_EQ(text_result("jistosjis", "\x1Bx\x1B\x1B"), "\x1Bx\x1B\x1B");
  // A JIS byte followed by another kind of byte: both copied.
  EXPECT_EQ(text_result("jistosjis", kToKanji + "\x24\n\x24\x22"), "\x24\n\x82\xA0");
  // Bytes of 0x80 and more are copied in either state.
  EXPECT_EQ(text_result("jistosjis", kToKanji + "\x82\xA0" + kToAscii + "\xB1"), "\x82\xA0\xB1");
}

TEST_F(Jcode, JisToSjisHalfWidthKatakanaBySoSiAndSingleShift) {
  EXPECT_EQ(text_result("jistosjis",
                        "a\x0E\x31\x32\x0F"
                        "b"),
            "a\xB1\xB2"
            "b");
  EXPECT_EQ(text_result("jistosjis", "\x0E\x31\x32"), "\xB1\xB2");  // SO runs to the end
  EXPECT_EQ(text_result("jistosjis", "\x1B*I\x1BN\x31\x1B*B\x1BN\x31"), "\xB1\x1BN\x31");
  EXPECT_EQ(text_result("jistosjis", "\x1BN\x31"), "\x1BN\x31");  // kana G2 off
  EXPECT_EQ(text_result("jistosjis", "a\x1B*Xb"), "ab");          // dropped whole
}

TEST_F(Jcode, JisToSjisStopsAtTheEndOfTheText) {
  // Cut sequences: what is there is handled as if the missing byte were any other byte.
  EXPECT_EQ(text_result("jistosjis", "a\x1B"), "a\x1B");
  EXPECT_EQ(text_result("jistosjis", "a\x1B$"), "a\x1B$");
  EXPECT_EQ(text_result("jistosjis", "a\x1B("), "a\x1B(");
  EXPECT_EQ(text_result("jistosjis", "a\x1B*"), "a");
  EXPECT_EQ(text_result("jistosjis", "\x1B*I\x1BN"), "");
  // A lone JIS byte in kanji mode is copied.
  EXPECT_EQ(text_result("jistosjis", kToKanji + "\x24\x22\x24"), "\x82\xA0\x24");
}

TEST_F(Jcode, JisRoundTripKeepsEveryJisCharacterAndAscii) {
  std::string text = all_jis_characters_and_ascii();
  std::string jis = text_result("sjistojis", text);
  for (char byte : jis)
    ASSERT_LT(static_cast<unsigned char>(byte), 0x80);  // 7-bit
  EXPECT_EQ(text_result("jistosjis", jis), text);
}

TEST_F(Jcode, SjisToEucAndBack) {
  EXPECT_EQ(text_result("sjistoeuc", "\x88\x9E"), "\xAF\xFE");
  EXPECT_EQ(text_result("sjistoeuc", "\x88\x9F"), "\xB0\xA1");
  EXPECT_EQ(text_result("euctosjis", "\xAF\xFE"), "\x88\x9E");
  EXPECT_EQ(text_result("euctosjis", "\xB0\xA1"), "\x88\x9F");
  EXPECT_EQ(text_result("sjistoeuc", "abc"), "abc");
  EXPECT_EQ(text_result("euctosjis", "abc"), "abc");
  // Half-width katakana stay single bytes; the EUC kana form 0x8E x stays as it was.
  EXPECT_EQ(text_result("sjistoeuc",
                        "\xB1"
                        "a"),
            "\xB1"
            "a");
  EXPECT_EQ(text_result("euctosjis",
                        "\x8E\xB1"
                        "a"),
            "\x8E\xB1"
            "a");
  // Last bytes: a lone lead byte, a lone EUC byte.
  EXPECT_EQ(text_result("sjistoeuc", "a\x88"), "a\x88");
  EXPECT_EQ(text_result("euctosjis", "a\xB0"), "a\xB0");
  EXPECT_EQ(text_result("euctosjis",
                        "\xB0"
                        "a\xA1"),
            "\xB0"
            "a\xA1");

  std::string text = all_jis_characters_and_ascii();
  EXPECT_EQ(text_result("euctosjis", text_result("sjistoeuc", text)), text);
}

TEST_F(Jcode, HashToSjisDetectsThenConverts) {
  auto from_hash = [this](const std::string& bytes) {
    return text_result("hashtosjis", hash_node(bytes));
  };
  EXPECT_EQ(from_hash(kToKanji + "\x24\x22" + kToAscii + "a"),
            "\x82\xA0"
            "a");
  EXPECT_EQ(from_hash("\xB0\xA1"
                      "a"),
            "\x88\x9F"
            "a");
  EXPECT_EQ(from_hash("\xB1\xB2"), "\x89\x51");  // ambiguous pairs are read as EUC-JP
  EXPECT_EQ(from_hash("\x88\x9F\xB1"), "\x88\x9F\xB1");
  EXPECT_EQ(from_hash("abc"), "abc");
  EXPECT_EQ(from_hash(std::string("ab\0\xB0\xA1", 5)), "ab");  // ends at the first 0 byte
  EXPECT_EQ(from_hash(""), "");
  EXPECT_EQ(text_result("hashtosjis", number_node(7)), "");
}

TEST_F(Jcode, Base64EncodeRfc4648Vectors) {
  const char* const vectors[][2] = {{"", ""},
                                    {"f", "Zg=="},
                                    {"fo", "Zm8="},
                                    {"foo", "Zm9v"},
                                    {"foob", "Zm9vYg=="},
                                    {"fooba", "Zm9vYmE="},
                                    {"foobar", "Zm9vYmFy"}};
  for (const auto& vector : vectors) {
    EXPECT_EQ(text_result("base64encode", vector[0]), vector[1]);
    EXPECT_EQ(text_result("base64decode", vector[1]), vector[0]);
  }
  EXPECT_EQ(text_result("base64encode", "\xFB\xFF\xBF"), "+/+/");
  EXPECT_EQ(text_result("base64encode", number_node(12)), "MTI=");
}

TEST_F(Jcode, Base64EncodeHashTakesZeroBytes) {
  EXPECT_EQ(text_result("base64encodehash", hash_node(std::string("\0\1\2", 3))), "AAEC");
  EXPECT_EQ(text_result("base64encodehash", hash_node(std::string("a\0", 2))), "YQA=");
  EXPECT_EQ(text_result("base64encodehash", hash_node("")), "");
  // The hash is left as it was.
  ValueNode* hash = hash_node("abc");
  ValueNode* result = call("base64encodehash", hash);
  ASSERT_NE(result, CALL_FAILED);
  EXPECT_STREQ(result->value->data.text, "YWJj");
  EXPECT_EQ(hash_bytes(hash), "abc");
  free_node(result);
  free_node(hash);
}

TEST_F(Jcode, Base64DecodeSkipsWhitespaceAndStopsAtPadding) {
  EXPECT_EQ(text_result("base64decode", "YW Jj\r\n"), "abc");
  EXPECT_EQ(text_result("base64decode", "\tY\nW\rJ j"), "abc");
  EXPECT_EQ(text_result("base64decode", "YQ"), "a");
  EXPECT_EQ(text_result("base64decode", "Y"), "");
  EXPECT_EQ(text_result("base64decode", "YWI"), "ab");
  EXPECT_EQ(text_result("base64decode", "YQ==YWJj"), "a");
  EXPECT_EQ(text_result("base64decode", "YW=Jj"), "a");  // "=" stops mid-group
  EXPECT_EQ(text_result("base64decode", "=YWJj"), "");
  // Bytes outside the alphabet count as 0; the string ends at the first decoded 0 byte.
  EXPECT_EQ(text_result("base64decode", "-WJj"), "\x01\x62\x63");
  EXPECT_EQ(text_result("base64decode", "YQ-_"), "a");
  EXPECT_EQ(text_result("base64decode", "AAEC"), "");
}

TEST_F(Jcode, Base64DecodeHashWritesThroughTheVariable) {
  auto decode_into = [this](const char* text, ValueNode* variable) {
    ValueNode* source = text_node(text);
    source->next = reference_to(variable);
    ValueNode* result = call("base64decodehash", source);
    ASSERT_NE(result, CALL_FAILED);
    EXPECT_EQ(result->value->data.number, 0);
    free_node(result);
    free_node(source->next);
    free_node(source);
  };
  ValueNode* variable = hash_node("vwxyz");
  decode_into("AAEC", variable);
  EXPECT_EQ(hash_bytes(variable), std::string("\0\1\2yz", 5));  // elements beyond stay
  // An empty decode sets element 0 to 0, also in a variable without elements.
  ValueNode* empty = make_node();
  decode_into("=", empty);
  EXPECT_EQ(hash_bytes(empty), std::string(1, '\0'));
  free_node(variable);
  free_node(empty);
}

TEST_F(Jcode, MissingArgumentsAreReportedWithoutEffect) {
  const char* const names[] = {"isleadchar",   "getcodetype",     "sjistojis",
                               "jistosjis",    "sjistoeuc",       "euctosjis",
                               "hashtosjis",   "base64decode",    "base64decodehash",
                               "base64encode", "base64encodehash"};
  for (const char* name : names)
    EXPECT_EQ(call(name, nullptr), CALL_FAILED) << name;
  ValueNode* only_text = text_node("AAEC");
  EXPECT_EQ(call("base64decodehash", only_text), CALL_FAILED);
  EXPECT_EQ(only_text->elements, nullptr);
  free_node(only_text);
  auto lines = test_host.error_lines();
  ASSERT_EQ(lines.size(), 12u);
  EXPECT_EQ(lines[0], "### Error: Too few arguments : main.start : isleadchar");
  EXPECT_EQ(lines[11], "### Error: Too few arguments : main.start : base64decodehash");
}
