// The name tables made at load: which nodes share a slot, and which code has a table of its own.
#include "engine/name_table.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "base/syntax_node.h"
#include "engine/script.h"
#include "support/script_runner.h"

namespace {

struct NameUse {
  const NameTable* table;
  std::int32_t slot;
};

// Every Name and DeclareName node of a list and the lists under it, by name (without "&"), in
// order.
void collect(const SyntaxNode* list, std::map<std::string, std::vector<NameUse>>* uses) {
  for (const SyntaxNode* node = list; node != nullptr; node = node->next) {
    if ((node->kind == NodeKind::Name || node->kind == NodeKind::DeclareName) &&
        node->text != nullptr) {
      const char* name = node->text[0] == '&' ? node->text + 1 : node->text;
      (*uses)[name].push_back({node->name_table, node->name_slot});
    }
    collect(node->body, uses);
  }
}

const NameTable* table_of(Script* module, const char* function) {
  for (FunctionEntry* entry = module->functions; entry != nullptr; entry = entry->next) {
    if (std::string(entry->name) == function) return entry->definition->name_table;
  }
  return nullptr;
}

}  // namespace

TEST(NameTables, TheTopLevelAndEachDefinitionHaveTheirOwn) {
  ScriptRunner runner;
  ASSERT_TRUE(runner.add_module("main",
                                "x = 1; y = x;\n"
                                "function f(&r, x) { r = x; { q = r; } }\n"
                                "function g() { return x; }\n"
                                "argmatch inner(\"^%z%$\", z2) { return z + z2; }\n"
                                "{ z = 2; }\n"));
  Script* module = runner.script_set()->next;
  std::map<std::string, std::vector<NameUse>> uses;
  collect(module->code, &uses);

  const NameTable* top = module->top_names;
  const NameTable* f = table_of(module, "f");
  const NameTable* g = table_of(module, "g");
  const NameTable* inner = table_of(module, "inner");
  ASSERT_NE(top, nullptr);
  ASSERT_NE(f, nullptr);
  ASSERT_NE(g, nullptr);
  ASSERT_NE(inner, nullptr);
  EXPECT_TRUE(top != f && top != g && f != g && g != inner);

  // x: twice at the top level, as f's parameter and in its body, and in g.
  const std::vector<NameUse>& x = uses["x"];
  ASSERT_EQ(x.size(), 5u);
  EXPECT_EQ(x[0].table, top);
  EXPECT_EQ(x[1].table, top);
  EXPECT_EQ(x[0].slot, x[1].slot);
  EXPECT_EQ(x[2].table, f);
  EXPECT_EQ(x[3].table, f);
  EXPECT_EQ(x[2].slot, x[3].slot);
  EXPECT_EQ(x[4].table, g);
  EXPECT_NE(uses["y"][0].slot, x[0].slot);

  // A reference parameter and its uses are one name; a block's names belong to the function.
  for (const NameUse& use : uses["r"]) {
    EXPECT_EQ(use.table, f);
    EXPECT_EQ(use.slot, find_name_slot(f, "r"));
  }
  EXPECT_EQ(uses["r"].size(), 3u);
  EXPECT_EQ(uses["q"][0].table, f);
  // The capture target is no node of the code; the pattern dispatch's other names are its own.
  EXPECT_EQ(uses["z"].size(), 2u);
  EXPECT_EQ(uses["z"][0].table, inner);
  EXPECT_EQ(uses["z"][1].table, top);
  EXPECT_EQ(uses["z2"].size(), 2u);
  EXPECT_EQ(uses["z2"][0].table, inner);

  EXPECT_EQ(f->count, 3);  // r, x, q
  EXPECT_EQ(find_name_slot(f, "z"), -1);
  EXPECT_EQ(find_name_slot(g, "z"), -1);
  EXPECT_EQ(find_name_slot(inner, "z"), uses["z"][0].slot);
  EXPECT_EQ(find_name_slot(top, "r"), -1);
  EXPECT_EQ(find_name_slot(g, "x"), x[4].slot);
}

TEST(NameTables, ManyNamesEachKeepTheirOwnSlot) {
  std::string text;
  for (int n = 0; n < 300; ++n)
    text += "name" + std::to_string(n) + " = " + std::to_string(n) + ";\n";
  text += "name0 = name299;\n";
  ScriptRunner runner;
  ASSERT_TRUE(runner.add_module("main", text.c_str()));
  Script* module = runner.script_set()->next;
  const NameTable* top = module->top_names;
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(top->count, 300);
  std::map<std::string, std::vector<NameUse>> uses;
  collect(module->code, &uses);
  std::vector<bool> taken(300, false);
  for (const auto& [name, list] : uses) {
    std::int32_t slot = find_name_slot(top, name.c_str());
    ASSERT_GE(slot, 0) << name;
    EXPECT_FALSE(taken[static_cast<std::size_t>(slot)]) << name;
    taken[static_cast<std::size_t>(slot)] = true;
    for (const NameUse& use : list)
      EXPECT_EQ(use.slot, slot) << name;
  }
  // The top level's variables, found through the slots as it ran, became its globals.
  ASSERT_TRUE(runner.run());
  EXPECT_EQ(runner.global("name0"), "299");
  EXPECT_EQ(runner.global("name150"), "150");
}

TEST(NameTables, NamesOnlyLiteralsUseHaveSlotsToo) {
  ScriptRunner runner;
  ASSERT_TRUE(runner.add_module("main",
                                "function f(line) {\n"
                                "  \"^%nick%!%h[key]%:100%%%(n + 1)%\" = line;\n"
                                "  return \"\x82%%lit% %(open\";\n"
                                "}\n"
                                "function g() { return \"%%plain%% %unclosed\"; }\n"
                                "function e() { return \"%gh[\\\"k\\\"]%|\\t%tab%\"; }\n"));
  Script* module = runner.script_set()->next;
  const NameTable* f = table_of(module, "f");
  const NameTable* g = table_of(module, "g");
  ASSERT_NE(f, nullptr);
  ASSERT_NE(g, nullptr);
  // Capture targets and parts, with the names inside their indexes and operators; "%%" is a
  // percent sign, but not the byte after a lead byte; a part that does not parse adds nothing.
  for (const char* name : {"line", "nick", "h", "key", "n", "lit"})
    EXPECT_GE(find_name_slot(f, name), 0) << name;
  EXPECT_EQ(find_name_slot(f, "open"), -1);
  EXPECT_EQ(f->count, 6);
  // A part left open runs to the text's end.
  EXPECT_EQ(find_name_slot(g, "plain"), -1);
  EXPECT_GE(find_name_slot(g, "unclosed"), 0);
  EXPECT_EQ(g->count, 1);
  // A literal's parts are read after its escapes: an escaped quote inside an index.
  const NameTable* e = table_of(module, "e");
  ASSERT_NE(e, nullptr);
  EXPECT_GE(find_name_slot(e, "gh"), 0);
  EXPECT_GE(find_name_slot(e, "tab"), 0);
}
