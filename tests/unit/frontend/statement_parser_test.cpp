// Statement shapes with their jumps, function registration, directives and parse errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/function_index.h"
#include "engine/value.h"
#include "parse_fixture.h"

namespace {

std::string parsed(const char* text) {
  ParseRun run(text);
  if (run.list() == nullptr && !run.errors().empty()) return "!" + run.errors()[0];
  return run.rendered();
}

// The node `count` steps along `next` from `node`.
const SyntaxNode* step(const SyntaxNode* node, int count) {
  for (int i = 0; i < count && node != nullptr; ++i)
    node = node->next;
  return node;
}

}  // namespace

TEST(StatementParser, WorkedExample) {
  ParseRun run("function add(a, b = 1) { return a + b; } x = add(2);");
  EXPECT_EQ(run.rendered(),
            "Jump>FunctionEnd Function decl:a Comma decl:b 1 Assign "
            "call:add{[a] [b] Add Return Semicolon} FunctionEnd "
            "[x] CallStart 2 call:add Assign Semicolon");
  const SyntaxNode* jump = run.list();
  ASSERT_NE(jump, nullptr);
  EXPECT_EQ(jump->target, step(jump, 8));
  const FunctionEntry* entry = run.module()->functions;
  ASSERT_NE(entry, nullptr);
  EXPECT_STREQ(entry->name, "add");
  EXPECT_EQ(entry->name_hash, name_hash_of("add"));
  EXPECT_EQ(entry->definition, step(jump, 1));
  EXPECT_EQ(entry->next, nullptr);
  // Nothing else is cached by the parser.
  EXPECT_EQ(step(jump, 7)->call_target, nullptr);
  EXPECT_EQ(step(jump, 7)->call_target_kind, 0);
}

TEST(StatementParser, StatementEnds) {
  EXPECT_EQ(parsed("x = 1\ny = 2"), "!### Error: Sentence error : main:(2) : y = 2");
  EXPECT_EQ(parsed("x = 1; y = 2"), "[x] 1 Assign Semicolon [y] 2 Assign");
  EXPECT_EQ(parsed("{ x = 1 }"), "Block{[x] 1 Assign}");
  EXPECT_EQ(parsed("{}"), "Block{}");
  // A next line that can continue the expression does.
  EXPECT_EQ(parsed("x = 1\n-y;"), "[x] 1 [y] Subtract Assign Semicolon");
  EXPECT_EQ(parsed(";"), "Semicolon");
  EXPECT_EQ(parsed(", x;"), "Comma [x] Semicolon");
  EXPECT_EQ(parsed(""), "");
  EXPECT_EQ(parsed("  // nothing\n"), "");
  EXPECT_EQ(parsed("x = 1 :"), "!### Error: Sentence error : main:(1) : x = 1 :");
}

TEST(StatementParser, MisplacedTokensAtStatementStart) {
  for (const char* text : {"}", ")", "]", "else x;", "x; else x;", "{ x; ) }", "while"}) {
    ParseRun run(text);
    EXPECT_EQ(run.list(), nullptr) << text;
    ASSERT_EQ(run.errors().size(), 1u) << text;
    EXPECT_EQ(run.errors()[0].rfind("### Error: Sentence error : main:(1) : ", 0), 0u) << text;
  }
  EXPECT_EQ(parsed("{ x;"), "!### Error: Parenthesis error : main:(1) : { x;");
}

TEST(StatementParser, IfShapes) {
  EXPECT_EQ(parsed("if (a) { }"), "[a] SkipIfTrue Jump>Else Block{} Jump>EndIf Else EndIf");
  EXPECT_EQ(parsed("if (a) x; else y;"),
            "[a] SkipIfTrue Jump>Else [x] Semicolon Jump>EndIf Else [y] Semicolon EndIf");
  EXPECT_EQ(parsed("if (a) {} else {} z;"),
            "[a] SkipIfTrue Jump>Else Block{} Jump>EndIf Else Block{} EndIf [z] Semicolon");
  EXPECT_EQ(parsed("if (a) x = 1 else y;"),
            "!### Error: Sentence error : main:(1) : if (a) x = 1 else y;");
  EXPECT_EQ(parsed("if a x;"), "!### Error: Sentence error : main:(1) : if a x;");
}

TEST(StatementParser, ElseIfChainsNestAfterEachElse) {
  ParseRun run("if (a) x = 1; else if (b) x = 2; else x = 3;");
  EXPECT_EQ(run.rendered(),
            "[a] SkipIfTrue Jump>Else [x] 1 Assign Semicolon Jump>EndIf Else "
            "[b] SkipIfTrue Jump>Else [x] 2 Assign Semicolon Jump>EndIf Else "
            "[x] 3 Assign Semicolon EndIf EndIf");
  const SyntaxNode* first = run.list();
  // The outer if's jumps reach its own Else and the last EndIf; the inner if's the first EndIf.
  EXPECT_EQ(step(first, 2)->target, step(first, 8));
  EXPECT_EQ(step(first, 7)->target, step(first, 23));
  EXPECT_EQ(step(first, 11)->target, step(first, 17));
  EXPECT_EQ(step(first, 16)->target, step(first, 22));
}

TEST(StatementParser, LongElseIfChainsNeedNoRecursion) {
  std::string text = "if (a) x;";
  for (int i = 0; i < 20000; ++i)
    text += " else if (a) x;";
  ParseRun run(text.c_str());
  ASSERT_NE(run.list(), nullptr);
  int end_ifs = 0;
  for (const SyntaxNode* node = run.list(); node != nullptr; node = node->next) {
    if (node->kind == NodeKind::EndIf) ++end_ifs;
  }
  EXPECT_EQ(end_ifs, 20001);
}

TEST(StatementParser, WhileAndDoLoops) {
  ParseRun loop("while (i < 3) i++;");
  EXPECT_EQ(loop.rendered(),
            "LoopTop [i] 3 Less Loop{[i] PostIncrement ApplyPostfix Semicolon} Jump>LoopEnd "
            "Jump>LoopTop LoopEnd");
  const SyntaxNode* top = loop.list();
  EXPECT_EQ(step(top, 5)->target, step(top, 7));
  EXPECT_EQ(step(top, 6)->target, top);

  ParseRun again("do x++; while (x < 3);");
  EXPECT_EQ(again.rendered(),
            "LoopTop Loop{[x] PostIncrement ApplyPostfix Semicolon} DoTest [x] 3 Less SkipIfTrue "
            "Jump>LoopEnd Jump>LoopTop LoopEnd Semicolon");
  top = again.list();
  EXPECT_EQ(step(top, 7)->target, step(top, 9));
  EXPECT_EQ(step(top, 8)->target, top);

  EXPECT_EQ(parsed("do { } while (a)"),
            "LoopTop Loop{Block{}} DoTest [a] SkipIfTrue Jump>LoopEnd Jump>LoopTop LoopEnd");
  EXPECT_EQ(parsed("while ()"), "!### Error: Sentence error : main:(1) : while ()");
  EXPECT_EQ(parsed("do x; y;"), "!### Error: Sentence error : main:(1) : do x; y;");
  EXPECT_EQ(parsed("do x; while (x) y"),
            "!### Error: Sentence error : main:(1) : do x; while (x) y");
}

TEST(StatementParser, ForLoops) {
  ParseRun run("for (i = 0, j = 1; i < 3; i++, j--) x;");
  EXPECT_EQ(run.rendered(),
            "[i] 0 Assign Comma [j] 1 Assign Semicolon LoopTop [i] 3 Less Loop{[x] Semicolon} "
            "Jump>LoopEnd [i] PostIncrement ApplyPostfix Comma [j] PostDecrement ApplyPostfix "
            "Semicolon Jump>LoopTop LoopEnd");
  const SyntaxNode* first = run.list();
  EXPECT_EQ(step(first, 13)->target, step(first, 23));
  EXPECT_EQ(step(first, 22)->target, step(first, 8));

  ParseRun forever("for (;;) s;");
  EXPECT_EQ(forever.rendered(),
            "Semicolon LoopTop Loop{[s] Semicolon} Jump>LoopEnd Semicolon Jump>LoopTop LoopEnd");
  EXPECT_EQ(step(forever.list(), 3)->target, step(forever.list(), 6));

  EXPECT_EQ(parsed("for i;;) x;"), "!### Error: Sentence error : main:(1) : for i;;) x;");
  EXPECT_EQ(parsed("for (i) x;"), "!### Error: Sentence error : main:(1) : for (i) x;");
  EXPECT_EQ(parsed("for (;i) x;"), "!### Error: Sentence error : main:(1) : for (;i) x;");
  EXPECT_EQ(parsed("for (;;i;) x;"), "!### Error: Sentence error : main:(1) : for (;;i;) x;");
  // A failure in the body after the step was parsed frees the step list too (checked by ASan).
  EXPECT_EQ(parsed("for (;;f(i++)) x y"),
            "!### Error: Sentence error : main:(1) : for (;;f(i++)) x y");
}

TEST(StatementParser, SwitchAndLabels) {
  EXPECT_EQ(parsed("switch (c) { case 1: x; default: y; }"),
            "[c] Switch{Case 1 Colon [x] Semicolon Default Colon [y] Semicolon}");
  EXPECT_EQ(parsed("case 1:"), "Case 1 Colon");
  EXPECT_EQ(parsed("switch (c) x;"), "!### Error: Sentence error : main:(1) : switch (c) x;");
  EXPECT_EQ(parsed("case 1;"), "!### Error: Sentence error : main:(1) : case 1;");
}

TEST(StatementParser, JumpStatements) {
  EXPECT_EQ(parsed("resume 1;"), parsed("return 1;"));
  EXPECT_EQ(parsed("return 1;"), "1 Return Semicolon");
  EXPECT_EQ(parsed("break; continue; exit x++;"),
            "Break Semicolon Continue Semicolon [x] PostIncrement ApplyPostfix Exit Semicolon");
  EXPECT_EQ(parsed("{ return }"), "Block{Return}");
}

TEST(StatementParser, VarDeclarations) {
  EXPECT_EQ(parsed("var a, b = 1;"), "decl:a Comma decl:b 1 Assign Semicolon");
  EXPECT_EQ(parsed("var h[], n = i++;"),
            "decl:h \"\" Index Comma decl:n [i] PostIncrement Assign ApplyPostfix Semicolon");
  EXPECT_EQ(parsed("var a b;"), "!### Error: Sentence error : main:(1) : var a b;");
}

TEST(StatementParser, Definitions) {
  EXPECT_EQ(parsed("argmatch g(\"(.*) %n%\", &q) { }"),
            "Jump>FunctionEnd Argmatch pat:\"(.*) %n%\" Comma decl:&q call:g FunctionEnd");
  EXPECT_EQ(parsed("function F() { }"), "Jump>FunctionEnd Function call:f FunctionEnd");
  EXPECT_EQ(parsed("{ function f() { } }"),
            "!### Error: Sentence error : main:(1) : { function f() { } }");
  EXPECT_EQ(parsed("if (a) function f() { }"),
            "!### Error: Sentence error : main:(1) : if (a) function f() { }");
  EXPECT_EQ(parsed("function f { }"), "!### Error: Sentence error : main:(1) : function f { }");
  EXPECT_EQ(parsed("function f() x;"), "!### Error: Sentence error : main:(1) : function f() x;");
  EXPECT_EQ(parsed("argmatch g(x) { }"),
            "!### Error: Argument format error : main:(1) : argmatch g(x) { }");
  EXPECT_EQ(parsed("argmatch g() { }"),
            "!### Error: Argument format error : main:(1) : argmatch g() { }");
}

TEST(StatementParser, DefinitionsOnlyAtTheTopOfAFile) {
  // A text parsed from depth 1 (not a file's top level) may not define functions.
  ParseRun nested("function f() { }", 1);
  EXPECT_EQ(nested.list(), nullptr);
  ASSERT_EQ(nested.errors().size(), 1u);
}

TEST(StatementParser, FunctionEntriesInTextOrder) {
  ParseRun run("function F(){} function g(){ } function f(){}");
  std::string names;
  for (const FunctionEntry* entry = run.module()->functions; entry != nullptr;
       entry = entry->next) {
    names += std::string(entry->name) + " ";
  }
  EXPECT_EQ(names, "f g f ");
  EXPECT_EQ(run.module()->functions->definition->kind, NodeKind::Function);
}

TEST(StatementParser, FunctionTableFindsWhatTheListHolds) {
  // Enough names to grow the table many times; every tenth is defined twice, in another case.
  std::string text;
  for (int i = 0; i < 5000; ++i)
    text += "function f" + std::to_string(i) + "(){}\n";
  for (int i = 0; i < 5000; i += 10)
    text += "function F" + std::to_string(i) + "(x){}\n";
  ParseRun run(text.c_str());
  ASSERT_NE(run.list(), nullptr);
  Script* module = run.module();
  EXPECT_EQ(module->function_index.count, 5000u);
  for (const FunctionEntry* entry = module->functions; entry != nullptr; entry = entry->next) {
    // The first definition of each name, as a walk of the list in definition order finds it.
    const FunctionEntry* first = module->functions;
    while (std::strcmp(first->name, entry->name) != 0)
      first = first->next;
    ASSERT_EQ(find_function(module, entry->name), first) << entry->name;
  }
  // Names are stored lower-case and looked up as given.
  EXPECT_EQ(find_function(module, "F1"), nullptr);
  EXPECT_EQ(find_function(module, "f5000"), nullptr);
  EXPECT_EQ(find_function(module, ""), nullptr);
  EXPECT_EQ(find_function(module, "f"), nullptr);
}

TEST(StatementParser, FailedParseFreesListAndFunctions) {
  ParseRun run("function f() { } function g() { x y }");
  EXPECT_EQ(run.list(), nullptr);
  EXPECT_EQ(run.module()->functions, nullptr);
  EXPECT_EQ(find_function(run.module(), "f"), nullptr);
  EXPECT_EQ(run.module()->function_index.capacity, 0u);
  EXPECT_EQ(run.errors(),
            std::vector<std::string>{
                "### Error: Sentence error : main:(1) : function f() { } function g() { x y }"});
}

TEST(StatementParser, StatementNestingIsBounded) {
  const std::size_t deep = 100000;
  std::string braces = std::string(deep, '{') + std::string(deep, '}');
  std::string ifs;
  for (std::size_t i = 0; i < deep; ++i)
    ifs += "if (1) ";
  ifs += "x;";
  std::string loops;
  for (std::size_t i = 0; i < deep; ++i)
    loops += "while (1) do ";
  for (const std::string* text : {&braces, &ifs, &loops}) {
    ParseRun run(text->c_str());
    EXPECT_EQ(run.list(), nullptr);
    ASSERT_EQ(run.errors().size(), 1u);
    EXPECT_EQ(run.errors()[0].rfind("### Error: Sentence error : main:(1) : ", 0), 0u);
  }
  std::string fifty = std::string(50, '{') + "x = (((1)));" + std::string(50, '}');
  EXPECT_NE(ParseRun(fifty.c_str()).list(), nullptr);
}

TEST(Directives, OptionExplicit) {
  ParseRun run("#option(explicit)\nx = 1;");
  EXPECT_EQ(run.rendered(), "[x] 1 Assign Semicolon");
  EXPECT_EQ(run.module()->is_explicit, 1);
  for (const char* text :
       {"# Option( \"Explicit\" )", "#optionX(EXPLICIT)", "{ #option(explicit) }"}) {
    ParseRun other(text);
    EXPECT_TRUE(other.errors().empty()) << text;
    EXPECT_EQ(other.module()->is_explicit, 1) << text;
  }
  // Other arguments are ignored; trailing blanks are part of the argument.
  for (const char* text : {"#option(strict)", "#option(explicit )", "#option()"}) {
    ParseRun other(text);
    EXPECT_TRUE(other.errors().empty()) << text;
    EXPECT_EQ(other.module()->is_explicit, 0) << text;
  }
}

TEST(Directives, MalformedDirectives) {
  EXPECT_EQ(parsed("x;\n#option"), "!### Error: Sentence error : main:(2) : #option");
  EXPECT_EQ(parsed("#option(explicit"),
            "!### Error: Parenthesis error : main:(1) : #option(explicit");
  EXPECT_EQ(parsed("#frobnicate(x)"), "!### Error: Sentence error : main:(1) : #frobnicate(x)");
  EXPECT_EQ(parsed("#option(\"a)"), "!### Error: Parenthesis error : main:(1) : #option(\"a)");
  EXPECT_EQ(parsed("#"), "!### Error: Sentence error : main:(1) : #");
  // The directive ends at its ")"; what follows is scanned as a new statement.
  EXPECT_EQ(parsed("#option(x) y z"), "!### Error: Sentence error : main:(1) : #option(x) y z");
}

TEST(Directives, FailedLoadsDoNotStopTheParse) {
  EXPECT_EQ(parsed("#import(\"nothing-matches-*.lum\") x = 1;"), "[x] 1 Assign Semicolon");
  EXPECT_EQ(parsed("#Library(nosuch_extension.dll) x = 1;"), "[x] 1 Assign Semicolon");
}
