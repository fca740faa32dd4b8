#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "platform/memory.h"
#include "platform/thread.h"
#include "regex/match.h"
#include "regex/pattern.h"

namespace {

const char* const NO_MATCH = "(no match)";

// Owns a compiled pattern for one test.
struct Pattern {
  explicit Pattern(const char* text) : compiled(compile_pattern(text)) {}
  ~Pattern() { free_pattern(&compiled); }
  CompiledPattern* compiled;
};

std::string span_text(const GroupSpan& span) {
  if (span.start == nullptr || span.end == nullptr) return "(unset)";
  return std::string(span.start, span.end);
}

// Group `group` of the first match, or NO_MATCH.
std::string find(const char* pattern, const char* subject, int group = 0, int ignore_case = 0) {
  Pattern p(pattern);
  GroupSpan* groups = nullptr;
  std::int32_t slots = find_first_match(p.compiled, subject, ignore_case, &groups);
  if (slots == 0) return NO_MATCH;
  std::string text = group < slots ? span_text(groups[group]) : "(no such group)";
  release(&groups);
  return text;
}

// Offset of the first match in the subject, or -1.
long match_offset(const char* pattern, const char* subject) {
  Pattern p(pattern);
  GroupSpan* groups = nullptr;
  if (find_first_match(p.compiled, subject, 0, &groups) == 0) return -1;
  long offset = groups[0].start - subject;
  release(&groups);
  return offset;
}

// Runs the search with a capture table and returns "name=text;" for every capture in order.
std::string captures(const char* pattern, const char* subject) {
  Pattern p(pattern);
  std::int32_t size = capture_slot_count(p.compiled);
  CaptureSlot table[64] = {};
  EXPECT_LE(size, 64);
  std::int32_t count = list_captures(p.compiled, table);
  MatchState state = {};
  state.pattern = p.compiled;
  state.captures = table;
  const char* start = nullptr;
  if (search_pattern(&state, subject, &start) == nullptr) return NO_MATCH;
  std::string out;
  for (std::int32_t i = 0; i < count; ++i) {
    const char* name = table[i].name + 1;
    out += std::string(name, static_cast<const char*>(std::strchr(name, '%')));
    out += "=";
    out += table[i].start != nullptr && table[i].end != nullptr
               ? std::string(table[i].start, table[i].end)
               : std::string("(unset)");
    out += ";";
  }
  return out;
}

TEST(RegexTokens, AlternativesAreTriedLeftToRight) {
  EXPECT_EQ(find("a|b|c", "c"), "c");
  EXPECT_EQ(find("a|ab", "ab"), "a");
  EXPECT_EQ(find("ab|a", "ab"), "ab");
  EXPECT_EQ(find("x(a|ab|abc)", "xabc", 1), "a");
  EXPECT_EQ(find("(|a)b", "ab"), "ab");
}

TEST(RegexTokens, UnbalancedParenthesesHaveFixedReadings) {
  EXPECT_EQ(find("ab)cd", "xab"), "ab");   // the rest after a stray ")" is ignored
  EXPECT_EQ(find("(ab", "xab", 1), "ab");  // an open group runs to the end
  EXPECT_EQ(find("((a)", "a", 2), "a");
  EXPECT_EQ(find("a|)b", "ab"), "a");  // "a" or empty; the "b" after ")" is ignored
  EXPECT_EQ(find("a|)b", "xa"), "");
}

TEST(RegexTokens, BoundedRepetitionCopiesTheAtom) {
  EXPECT_EQ(find("a}", "aaa"), "aaa");  // stray "}" with no braces before: like "*"
  EXPECT_EQ(find("a}", "b"), "");
  EXPECT_EQ(find("a{0}", "aaa"), "aaa");
  EXPECT_EQ(find("a{}", "aa"), "aa");
  EXPECT_EQ(find("a{2}", "aaa"), "aa");
  EXPECT_EQ(find("a{2}", "a"), NO_MATCH);
  EXPECT_EQ(find("a{2,}", "aaaa"), "aaaa");
  EXPECT_EQ(find("a{2,}", "a"), NO_MATCH);
  EXPECT_EQ(find("a{1,3}", "aaaa"), "aaa");
  EXPECT_EQ(find("a{,2}", "aaa"), "aa");
  EXPECT_EQ(find("a{3,1}", "aaaa"), "aaa");  // max below min: exactly min copies
  EXPECT_EQ(find("a{3,1}", "aa"), NO_MATCH);
  EXPECT_EQ(find("a{ 2 x}", "aaa"), "aa");   // other bytes inside the braces are skipped
  EXPECT_EQ(find("(a){2}", "xaa", 1), "a");  // copies keep the group number
  EXPECT_EQ(find("a{2}}", "aaaa"), "aa");    // a second quantifier has no atom: it adds nothing
}

TEST(RegexTokens, LazyQuantifiersPreferFewer) {
  EXPECT_EQ(find("a{1,3}?", "aaaa"), "a");
  EXPECT_EQ(find("a{0,2}?b", "aab"), "aab");
  EXPECT_EQ(find("a{0,2}?", "aa"), "");
  EXPECT_EQ(find("a{2,}?", "aaaa"), "aa");
  EXPECT_EQ(find("a+?", "aaa"), "a");
  EXPECT_EQ(find("a??", "a"), "");
  EXPECT_EQ(find("a?", "a"), "a");
  EXPECT_EQ(find("a*?", "aaa"), "");
  EXPECT_EQ(find("a}?", "aaa"), "");  // stray "}?" with bounds 0,0: lazy "*"
}

TEST(RegexTokens, QuantifierWithoutAtomMatchesEmpty) {
  EXPECT_EQ(find("*a", "ba"), "a");
  EXPECT_EQ(find("a**", "aa"), "aa");
  EXPECT_EQ(find("+", "xyz"), "");
}

TEST(RegexTokens, UnterminatedConstructsEndThePattern) {
  EXPECT_EQ(find("ab[cd", "xabz"), "ab");
  EXPECT_EQ(find("ab{2", "xab"), "ab");
  EXPECT_EQ(find("ab%x", "xabz"), "ab");
  EXPECT_EQ(find("ab[c\\", "xab"), "ab");
}

TEST(RegexEscapes, SingleByteEscapesAreLiterals) {
  EXPECT_EQ(find("\\x41", "zA"), "A");
  EXPECT_EQ(find("\\x4g", "\x04g"), "\x04g");  // one hex digit is enough
  EXPECT_EQ(find("\\x414", "A4"), "A4");       // at most two digits
  EXPECT_EQ(find("a\\.b", "axb a.b"), "a.b");
  EXPECT_EQ(find("\\\\", "a\\b"), "\\");
  EXPECT_EQ(find("\\n\\R\\t", "x\n\r\ty"), "\n\r\t");
  EXPECT_EQ(find("\\*\\q", "a*q"), "*q");
  EXPECT_EQ(find("%%", "50%"), "%");
  EXPECT_EQ(find("a%%b", "a%b"), "a%b");
}

TEST(RegexEscapes, ClassEscapes) {
  EXPECT_EQ(find("\\d+", "ab123c"), "123");
  EXPECT_EQ(find("\\D+", "12ab3"), "ab");
  EXPECT_EQ(find("\\s+", "a \t\r\nb"), " \t\r\n");
  EXPECT_EQ(find("\\S+", "  ab c"), "ab");
  EXPECT_EQ(find("\\w+", "--a_1Z--"), "a_1Z");
  EXPECT_EQ(find("\\W+", "ab-+c"), "-+");
}

TEST(RegexEscapes, TrailingBackslashAndBareHexEscape) {
  EXPECT_EQ(find("a\\", "xa\\"), "a\\");  // a trailing backslash stands for itself
  EXPECT_EQ(find("a\\", "a"), NO_MATCH);
  EXPECT_EQ(find("a\\x", "a"), NO_MATCH);  // "\x" alone is a class that matches nothing
  EXPECT_EQ(find("a\\x", "ax"), NO_MATCH);
  EXPECT_EQ(find("a\\xg", "ag"), NO_MATCH);
  EXPECT_EQ(find("a\\x|b", "ab"), "b");
}

TEST(RegexClasses, BracketForms) {
  EXPECT_EQ(find("[]a]", "x]"), "]");
  EXPECT_EQ(find("[]a]", "xa"), "a");
  EXPECT_EQ(find("[^]a]", "]ab"), "b");
  EXPECT_EQ(find("[a-c\\d]+", "xb5cz"), "b5c");
  EXPECT_EQ(find("[^a-c]", "abcd"), "d");
  EXPECT_EQ(find("[\\x41-\\x43]", "xB"), "B");
  EXPECT_EQ(find("[\\n]", "a\nb"), "\n");
  EXPECT_EQ(find("[\\]]", "a]"), "]");
  EXPECT_EQ(find("[\\x00a]", "xa"), "a");  // NUL is dropped, not the end of the members
  EXPECT_EQ(find("[\\\\]", "a\\"), "\\");
  EXPECT_EQ(find("[a-]", "-"), "-");
  EXPECT_EQ(find("[\\D]", "1x"), "x");
  EXPECT_EQ(find("a]", "a"), NO_MATCH);    // a stray "]" is the (empty) class read last
  EXPECT_EQ(find("[b]a]", "bab"), "bab");  // ... or the class read before it
  EXPECT_EQ(find("[b]a]", "ab"), NO_MATCH);
}

TEST(RegexClasses, OverlongMemberTextKeepsWholeMembers) {
  std::string many_b(300, 'b');
  std::string pattern = "[" + many_b + "a]";
  EXPECT_EQ(find(pattern.c_str(), "a"), NO_MATCH);  // "a" is past the 255 bytes
  EXPECT_EQ(find(pattern.c_str(), "ab"), "b");
  // A range cut by the limit is dropped whole, never kept as its first end.
  std::string cut = "[" + std::string(253, 'b') + "x-z]";
  EXPECT_EQ(find(cut.c_str(), "x"), NO_MATCH);
  EXPECT_EQ(find(cut.c_str(), "-"), NO_MATCH);
  std::string fits = "[" + std::string(252, 'b') + "x-z]";
  EXPECT_EQ(find(fits.c_str(), "y"), "y");
}

TEST(RegexClasses, ClassMatchesReadsMembers) {
  EXPECT_EQ(class_matches("a-c", "b"), 1);
  EXPECT_EQ(class_matches("^a-c", "b"), 0);
  EXPECT_EQ(class_matches("\\d", "7"), 1);
  EXPECT_EQ(class_matches("\\D", "7"), 0);
  EXPECT_EQ(class_matches("^\\D", "7"), 1);
  EXPECT_EQ(class_matches("\\\\", "\\"), 1);
  EXPECT_EQ(class_matches("\\x", "x"), 0);
  EXPECT_EQ(class_matches("a-", "-"), 1);
  EXPECT_EQ(class_matches("", "a"), 0);
  EXPECT_EQ(class_matches("^", "a"), 1);
}

TEST(RegexAnchors, LineStartAndEnd) {
  EXPECT_EQ(find("x^y", "xy"), NO_MATCH);
  EXPECT_EQ(find("a$b", "ab"), NO_MATCH);
  EXPECT_EQ(find("a$b", "a\nb"), NO_MATCH);
  EXPECT_EQ(find("^a|^b", "cb"), NO_MATCH);
  EXPECT_EQ(match_offset("^a|^b", "c\nb"), 2);
  EXPECT_EQ(match_offset("^b", "a\nb"), 2);
  EXPECT_EQ(find("^b", "ab"), NO_MATCH);
  EXPECT_EQ(match_offset("^b", "a\r\n\r\nb"), 5);
  EXPECT_EQ(match_offset("a$", "a\nb"), 0);
  EXPECT_EQ(match_offset("a$", "ab\r\na"), 4);
  EXPECT_EQ(find("a.b$", "a\nb"), NO_MATCH);  // never consumes CR or LF when line-end anchored
  EXPECT_EQ(find("a.*$", "ab\r\ncd"), "ab");
  EXPECT_EQ(find("a.*", "ab\r\ncd"), "ab\r\ncd");
  EXPECT_EQ(match_offset("^$", "\n"), 0);       // an empty first line
  EXPECT_EQ(match_offset("^$", "a\n\nb"), -1);  // every CR/LF run is skipped as a whole
}

TEST(RegexSearch, EmptyMatchesAndStartPositions) {
  EXPECT_EQ(find("a*", "b"), "");
  EXPECT_EQ(match_offset("a*", "b"), 0);
  EXPECT_EQ(find("a*", ""), NO_MATCH);
  EXPECT_EQ(find("", ""), NO_MATCH);
  EXPECT_EQ(find("", "x"), "");
  EXPECT_EQ(find("(a|ab)c", "abc"), "abc");
  EXPECT_EQ(find("a.*b", "aXbYb"), "aXbYb");
  EXPECT_EQ(find("a.*?b", "aXbYb"), "aXb");
  EXPECT_EQ(match_offset("needle", "hay needle"), 4);
  GroupSpan sentinel = {};
  GroupSpan* groups = &sentinel;
  EXPECT_EQ(find_first_match(nullptr, "abc", 0, &groups), 0);
  EXPECT_EQ(groups, nullptr);
}

// A pattern that can begin with one byte only is searched for that byte, whatever its value.
TEST(RegexSearch, OneFirstByteAnywhereInTheByteRange) {
  EXPECT_EQ(match_offset("\x01x", "ab\x01y\x01x"), 4);
  EXPECT_EQ(match_offset("zq", "zzzq"), 2);
  EXPECT_EQ(match_offset("\x7f", "a\x7f"), 1);
  EXPECT_EQ(match_offset("\x80", "a\x80"), 1);
  EXPECT_EQ(match_offset("\xff\xff", "\xff-\xff\xff"), 2);
  EXPECT_EQ(find("\xff", "none here"), NO_MATCH);
  EXPECT_EQ(find("\xfe(a)",
                 "\xfe\xfe"
                 "a",
                 1),
            "a");
}

TEST(RegexSearch, IgnoreCaseOnlyForSingleByteLiterals) {
  EXPECT_EQ(find("A", "xa", 0, 1), "a");
  EXPECT_EQ(find("abC", "xABc", 0, 1), "ABc");
  EXPECT_EQ(find("A", "a", 0, 0), NO_MATCH);
  EXPECT_EQ(find("[A]", "a", 0, 1), NO_MATCH);
  EXPECT_EQ(find("[a-z]+", "ABC", 0, 1), NO_MATCH);
  EXPECT_EQ(find("\\x5b", "{", 0, 1), NO_MATCH);
  // Bytes every match must contain are looked for case-blind when case is ignored.
  EXPECT_EQ(find("q!z", "Q!Z", 0, 1), "Q!Z");
  EXPECT_EQ(find("q!z", "q?z", 0, 1), NO_MATCH);  // only A-Z fold, not the bytes next to them
}

TEST(RegexGroups, PositionsFromAbandonedPathsStay) {
  EXPECT_EQ(find("(a)b|ac", "ac"), "ac");
  EXPECT_EQ(find("(a)b|ac", "ac", 1), "a");
  EXPECT_EQ(find("(a)(x)?", "cab", 2), "(unset)");
  EXPECT_EQ(find("(a)(x)?", "cab", 1), "a");
  // The failed attempt at position 0 is forgotten: groups are cleared before each start.
  EXPECT_EQ(find("(a)c|b", "ab", 1), "(unset)");
  // Pairs that abandoned paths left incomplete or crossed (start 2, end 1) describe no text.
  Pattern crossed("((a)x)*");
  GroupSpan* groups = nullptr;
  const char* subject = "axb";
  ASSERT_EQ(find_first_match(crossed.compiled, subject, 0, &groups), 3);
  EXPECT_EQ(groups[1].start, subject + 2);
  EXPECT_EQ(groups[2].start, nullptr);
  EXPECT_EQ(groups[2].end, nullptr);
  release(&groups);
  // (x) at 0 failed, then y matched: the group keeps what the failed path wrote.
  EXPECT_EQ(find("(x)z|xy", "xy", 1), "x");
}

TEST(RegexDoubleByte, CharactersAreNeverSplit) {
  const char* kanji = "\x88\x9F";  // one double-byte character
  EXPECT_EQ(find(".", kanji), kanji);
  EXPECT_EQ(find("a.b",
                 "a\x88\x9F"
                 "b"),
            "a\x88\x9F"
            "b");
  EXPECT_EQ(find("[a-z]", "\x88\x9F"), NO_MATCH);
  EXPECT_EQ(find("\x88\x9F", "x\x88\x9F"), "\x88\x9F");
  EXPECT_EQ(find("\x88\x9F", "\x88\xA0\x9F"), NO_MATCH);
  // Start positions do step into characters one byte at a time.
  EXPECT_EQ(find("\x9F", "\x88\x9F"), "\x9F");
  EXPECT_EQ(find("\x9F\x88", "\x88\x9F\x88\x41"), "\x9F\x88");
  // 0x5C as a trail byte is part of the character, not an escape.
  EXPECT_EQ(find("\x95\x5C+", "\x95\x5C\x95\x5C"), "\x95\x5C\x95\x5C");
  EXPECT_EQ(find("[\x95\x5C]", "a\x95\x5C"), "\x95\x5C");
  EXPECT_EQ(find("\\\x95\x5C", "\x95\x5C"), "\x95\x5C");  // an escaped character is kept whole
}

TEST(RegexDoubleByte, RangesCompareBothBytesSeparately) {
  const char* range = "[\x88\x9F-\x89\x40]";  // first bytes 88..89, second bytes 9F..40: empty
  EXPECT_EQ(find(range, "\x88\xA0"), NO_MATCH);
  const char* wide = "[\x88\x40-\x89\x9F]";
  EXPECT_EQ(find(wide, "\x88\x9F"), "\x88\x9F");
  EXPECT_EQ(find(wide, "\x89\x40"), "\x89\x40");
  // Between the ends in code order, but the second byte is outside 40..9F.
  EXPECT_EQ(find(wide, "\x88\xA0"), NO_MATCH);
  EXPECT_EQ(find(wide, "\x88"), NO_MATCH);  // a lone lead byte is a single-byte character
  EXPECT_EQ(class_matches("^\x88\x9F", "\x88\x9F"), 0);
  EXPECT_EQ(class_matches("^\x88\x9F", "\x88\xA0"), 1);
  EXPECT_EQ(find("[\\D]", "\x88\x9F"), "\x88\x9F");
  EXPECT_EQ(find("[\\d]", "\x88\x9F"), NO_MATCH);
}

TEST(RegexDoubleByte, LeadByteBeforeNulIsOneByte) {
  EXPECT_EQ(find(".", "\x88"), "\x88");
  EXPECT_EQ(find("a.", "a\x88"), "a\x88");
  EXPECT_EQ(find(".*", "ab\x88"), "ab\x88");
  EXPECT_EQ(find("\\x88", "\x88"), "\x88");
  EXPECT_EQ(find("\x88", "a\x88"), "\x88");
  EXPECT_EQ(class_matches("\x88", "\x88"), 1);
  EXPECT_EQ(find("[\\x88]", "\x88\x9F"), "\x88\x9F");  // single-byte members see the first byte
}

TEST(RegexEmptyIteration, AnIterationThatConsumedNothingEndsTheRepetition) {
  EXPECT_EQ(find("(a*)*", "b"), "");
  EXPECT_EQ(find("(a*)*", "b", 1), "");
  EXPECT_EQ(find("(a*)*", "aab"), "aa");
  EXPECT_EQ(find("(a*)*", "aab", 1), "");  // the empty last iteration wrote the group
  EXPECT_EQ(find("(|a)*", "a"), "");       // the empty alternative is taken first, once
  EXPECT_EQ(find("(|a)*b", "ab"), "ab");   // backtracking still reaches "a"
  EXPECT_EQ(find("(a|)*b", "aab"), "aab");
  EXPECT_EQ(find("(a*)+b", "aab"), "aab");
  EXPECT_EQ(find("(a*)*?b", "aab"), "aab");
  EXPECT_EQ(find("((a*)*)*c", "aac"), "aac");
  EXPECT_EQ(find("(a?)*?x", "aax"), "aax");
  EXPECT_EQ(find("(^)*a", "a"), "a");
  EXPECT_EQ(find("(a{0,2})*b", "aaaab"), "aaaab");
}

TEST(RegexCaptures, CaptureVariables) {
  EXPECT_EQ(captures("(\\d+)%n%", "ab 123 c"), "n=123;");
  EXPECT_EQ(captures("%a%,%b%", "x,y,z"), "a=x;b=y,z;");
  EXPECT_EQ(captures("%nick%!%user%@%host%", ":nk!us@h.example PRIVMSG"),
            "nick=:nk;user=us;host=h.example PRIVMSG;");
  EXPECT_EQ(captures("x%a%", "xyz"), "a=yz;");     // the last thing in the pattern: greedy
  EXPECT_EQ(captures("x%a%(z)", "xyzz"), "a=y;");  // more text follows: lazy
  EXPECT_EQ(captures("a%v%|b", "b"), "v=(unset);");
  EXPECT_EQ(captures("%a%x", "y"), NO_MATCH);
  // A capture after a quantified group stands for any text, not the group.
  EXPECT_EQ(captures("(\\d)+%n%", "12ab"), "n=ab;");
  // Copies made by a bounded repetition share one entry.
  EXPECT_EQ(captures("((\\d)%d%){2}", "x12"), "d=2;");
}

TEST(RegexCaptures, TableHasRoomAndNamesPointIntoThePattern) {
  const char* text = "%a%-%b%-%c%-%d%";
  Pattern p(text);
  CaptureSlot table[32] = {};
  ASSERT_GE(capture_slot_count(p.compiled), 4);
  ASSERT_EQ(list_captures(p.compiled, table), 4);
  EXPECT_EQ(table[0].name, text);
  EXPECT_EQ(table[3].name, text + 12);
  // The names are kept with the automaton: a table left from a search is listed afresh.
  for (CaptureSlot& slot : table)
    slot = {text + 1, text, text + 2};
  std::int32_t slots = capture_slot_count(p.compiled);
  ASSERT_EQ(list_captures(p.compiled, table), 4);
  EXPECT_EQ(table[1].name, text + 4);
  for (std::int32_t i = 0; i < slots; ++i) {
    EXPECT_EQ(table[i].start, nullptr);
    EXPECT_EQ(table[i].end, nullptr);
    if (i >= 4) {
      EXPECT_EQ(table[i].name, nullptr);
    }
  }
}

TEST(RegexCaptures, MatchAtWithoutListingUsesFirstFreeEntries) {
  const char* text = "%b%=%a%;";
  Pattern p(text);
  CaptureSlot table[16] = {};
  MatchState state = {};
  state.pattern = p.compiled;
  state.captures = table;
  const char* subject = "k=v;";
  EXPECT_EQ(match_at(&state, p.compiled->start_state, subject), subject + 4);
  EXPECT_EQ(table[0].name, text);  // first written first
  EXPECT_EQ(std::string(table[0].start, table[0].end), "k");
  EXPECT_EQ(table[1].name, text + 4);
  EXPECT_EQ(std::string(table[1].start, table[1].end), "v");
}

TEST(RegexCompile, AutomatonShape) {
  Pattern literal("abc");
  ASSERT_NE(literal.compiled, nullptr);
  EXPECT_EQ(literal.compiled->state_count, 4);  // 2 + one per concatenation
  EXPECT_EQ(literal.compiled->group_slots, 1);
  Pattern star("(a)*");
  EXPECT_EQ(star.compiled->state_count, 2 + 2 + 2);
  EXPECT_EQ(star.compiled->group_slots, 2);
  Pattern anchored("^a$");
  EXPECT_EQ(anchored.compiled->line_start, 1);
  EXPECT_EQ(anchored.compiled->line_end, 1);
  Pattern inner("x^y$z");
  EXPECT_EQ(inner.compiled->line_start, 0);
  EXPECT_EQ(inner.compiled->line_end, 0);
}

TEST(RegexCompile, HostilePatternsAreTooComplexInsteadOfExhaustingMemory) {
  auto problem_of = [](const char* text) {
    PatternProblem problem = PATTERN_OK;
    CompiledPattern* compiled = compile_pattern(text, &problem);
    bool made = compiled != nullptr;
    free_pattern(&compiled);
    return made ? PATTERN_OK : problem;
  };
  EXPECT_EQ(problem_of("a{999999999999}"), PATTERN_TOO_COMPLEX);
  EXPECT_EQ(problem_of("(a{1000}){3000}"), PATTERN_TOO_COMPLEX);
  // Running out of room among the required copies, then copying again for the open end.
  EXPECT_EQ(problem_of("(a{1000}){3000,}"), PATTERN_TOO_COMPLEX);
  EXPECT_EQ(problem_of("x(a{1000}){1000,3000}?"), PATTERN_TOO_COMPLEX);
  EXPECT_EQ(problem_of(std::string(100000, '(').c_str()), PATTERN_TOO_COMPLEX);
  EXPECT_EQ(problem_of("(a{1000}){100,200}?"), PATTERN_OK);
  Pattern fine("a{3000}");
  ASSERT_NE(fine.compiled, nullptr);
  std::string subject(3000, 'a');
  GroupSpan* groups = nullptr;
  EXPECT_EQ(find_first_match(fine.compiled, subject.c_str(), 0, &groups), 1);
  release(&groups);
  std::string long_literal(100000, 'q');  // long sequences are walked without deep recursion
  Pattern flat(long_literal.c_str());
  ASSERT_NE(flat.compiled, nullptr);
  EXPECT_EQ(find(long_literal.c_str(), long_literal.c_str()).size(), long_literal.size());
}

TEST(RegexLongSubjects, TenMegabytesDoNotExhaustTheStack) {
  std::string subject(10 * 1024 * 1024, 'a');
  subject.back() = 'b';
  Pattern greedy("a.*b");
  GroupSpan* groups = nullptr;
  ASSERT_EQ(find_first_match(greedy.compiled, subject.c_str(), 0, &groups), 1);
  EXPECT_EQ(groups[0].end - groups[0].start, static_cast<long>(subject.size()));
  release(&groups);

  std::string pairs;
  pairs.reserve(10 * 1024 * 1024 + 1);
  while (pairs.size() < 10 * 1024 * 1024)
    pairs += "ab";
  pairs += "c";
  Pattern alternation("(ab|a)*c");
  ASSERT_EQ(find_first_match(alternation.compiled, pairs.c_str(), 0, &groups), 2);
  EXPECT_EQ(groups[0].end - groups[0].start, static_cast<long>(pairs.size()));
  // The failed last iteration started the group again at "c": an abandoned path's write.
  EXPECT_EQ(groups[1].start, groups[0].end - 1);
  EXPECT_EQ(groups[1].end, groups[0].end - 1);
  release(&groups);

  // Double-byte text goes through the general path of a repetition.
  std::string wide;
  wide.reserve(4 * 1024 * 1024 + 2);
  while (wide.size() < 4 * 1024 * 1024)
    wide += "\x88\x9F";
  Pattern any("^.*$");
  ASSERT_EQ(find_first_match(any.compiled, wide.c_str(), 0, &groups), 1);
  EXPECT_EQ(groups[0].end - groups[0].start, static_cast<long>(wide.size()));
  release(&groups);
}

TEST(RegexConcurrency, OnePatternServesSeveralSearchesAtOnce) {
  Pattern p("^:(\\S+) PRIVMSG (\\S+) :(.*)$");
  const char* line = ":nick!u@h PRIVMSG #c :hello there";
  std::atomic<int> wrong{0};
  std::thread workers[4];
  for (std::thread& worker : workers) {
    worker = std::thread([&] {
      for (int i = 0; i < 2000; ++i) {
        GroupSpan* groups = nullptr;
        if (find_first_match(p.compiled, line, 0, &groups) != 4 ||
            span_text(groups[3]) != "hello there") {
          ++wrong;
        }
        release(&groups);
      }
    });
  }
  for (std::thread& worker : workers)
    worker.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(RegexStop, StopEndsACatastrophicBacktrack) {
  std::string subject(64, 'a');  // (a*)*b backtracks through 2^63 paths here
  Pattern p("(a*)*b");
  std::atomic<int> result{-1};
  std::atomic<bool> started{false};
  std::thread worker([&] {
    count_call(1);
    started = true;
    GroupSpan* groups = nullptr;
    result = find_first_match(p.compiled, subject.c_str(), 0, &groups);
    release(&groups);
    count_call(-1);
  });
  while (!started)
    yield_processor();
  sleep_milliseconds(50);
  stop_all_scripts();  // returns once the search has given up
  worker.join();
  EXPECT_EQ(result.load(), 0);
  // The flag is clear again: the same pattern still matches normally.
  EXPECT_EQ(find("(a*)*b", "aab"), "aab");
}

}  // namespace
