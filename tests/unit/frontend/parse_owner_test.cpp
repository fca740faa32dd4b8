// The parser's side of its owner, with no engine behind it: what the callbacks receive, and what
// the parser makes of their answers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frontend/parse_owner.h"
#include "frontend/statement_parser.h"
#include "parse_fixture.h"

namespace {

// Records each callback as a line, positions as offsets into the parsed text.
struct Recorder {
  explicit Recorder(const char* parsed, bool refusing = false) : text(parsed), refuse(refusing) {}
  const char* text;
  bool refuse;  // definitions are refused and directives fail
  std::vector<std::string> calls;
  std::vector<SyntaxNode*> definitions;

  static Recorder* of(void* data) { return static_cast<Recorder*>(data); }
  void note(const std::string& call, const char* position) {
    calls.push_back(call + " @" + std::to_string(position - text));
  }
  static void report(void* data, const char* message, const char* position) {
    of(data)->note(message, position);
  }
  static bool define(void* data, const char* name, SyntaxNode* definition) {
    of(data)->note(std::string(name) + " " + kind_name(definition->kind), definition->source);
    of(data)->definitions.push_back(definition);
    return !of(data)->refuse;
  }
  static const char* directive(void* data, const char* position) {
    of(data)->note("directive", position);
    return of(data)->refuse ? nullptr : std::strchr(position, ')') + 1;
  }
  SyntaxNode* parse(bool* failed) {
    const ParseOwner owner{this, 0, report, define, directive};
    return parse_script_text(&owner, text, 0, failed);
  }
};

}  // namespace

TEST(ParseOwner, DefinitionsAndDirectivesArriveInTextOrder) {
  Recorder recorder("function F(a) { }\n#option(x) argmatch g(\"p\") { } x = (1;)");
  bool failed = false;
  EXPECT_EQ(recorder.parse(&failed), nullptr);
  EXPECT_TRUE(failed);
  EXPECT_EQ(recorder.calls, (std::vector<std::string>{"f Function @0", "directive @19",
                                                      "g Argmatch @29", "Sentence error @55"}));
}

TEST(ParseOwner, DefinitionsAreTheirHeadingNodes) {
  Recorder recorder("function f() { } y = 1;");
  bool failed = true;
  SyntaxNode* list = recorder.parse(&failed);
  EXPECT_FALSE(failed);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(recorder.definitions.size(), 1u);
  EXPECT_EQ(list->next, recorder.definitions[0]);  // after the Jump over the body
  free_syntax_node(&list);
}

TEST(ParseOwner, RefusalsEndTheParse) {
  Recorder defining("function f(a) { } function g() { }", true);
  bool failed = false;
  EXPECT_EQ(defining.parse(&failed), nullptr);
  EXPECT_TRUE(failed);
  EXPECT_EQ(defining.calls, (std::vector<std::string>{"f Function @0", "Alloc failed @10"}));
  // A failed directive was the owner's to report.
  Recorder directing("#library(x) function f() { }", true);
  EXPECT_EQ(directing.parse(&failed), nullptr);
  EXPECT_EQ(directing.calls, std::vector<std::string>{"directive @1"});
}
