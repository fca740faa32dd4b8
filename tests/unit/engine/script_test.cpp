#include "engine/script.h"

#include <gtest/gtest.h>

#include "platform/memory.h"
#include "support/test_host.h"

TEST(Scopes, LocalsThenOwnGlobals) {
  TestHost test_host;
  ScriptFixture scripts(test_host.host());
  Script* a = scripts.add_module("a");
  scripts.add_global(a, "x", 1);
  CallContext frame = make_frame(a, "f");

  ValueNode* global = find_variable(&frame, "x");
  ASSERT_NE(global, nullptr);
  EXPECT_EQ(global->value->data.number, 1);

  ValueNode* local = declare_variable(&frame, "x", nullptr);
  ASSERT_NE(local, nullptr);
  EXPECT_EQ(find_variable(&frame, "x"), local);  // locals hide globals
  EXPECT_EQ(find_local(&frame, "x"), local);
  release_frame(&frame);
  EXPECT_EQ(find_local(&frame, "x"), nullptr);
  EXPECT_EQ(find_variable(&frame, "x"), global);
  EXPECT_TRUE(test_host.error_lines().empty());
}

TEST(Scopes, DeclarationOverlapInOneFrame) {
  TestHost test_host;
  ScriptFixture scripts(test_host.host());
  Script* main_module = scripts.add_module("main", "var x;\nvar x;\n");
  CallContext frame = make_frame(main_module, "main");
  ASSERT_NE(declare_variable(&frame, "&x", main_module->text), nullptr);  // "&" is dropped
  EXPECT_EQ(declare_variable(&frame, "x", main_module->text + 7), nullptr);
  ASSERT_EQ(test_host.error_lines().size(), 1u);
  EXPECT_EQ(test_host.error_lines()[0],
            "### Error: x :Declaration overlaps : main.main:(2) : var x;");
  release_frame(&frame);
}

TEST(Scopes, QualifiedNamesReachOtherModules) {
  TestHost test_host;
  ScriptFixture scripts(test_host.host());
  Script* a = scripts.add_module("a");
  Script* b = scripts.add_module("Bee");
  scripts.add_global(a, "v", 1);
  scripts.add_global(b, "v", 2);
  CallContext frame = make_frame(a, "start");

  EXPECT_EQ(find_script(a, "bee.v"), b);  // module names ignore ASCII case
  EXPECT_EQ(find_script(a, "BEE.v"), b);
  EXPECT_EQ(find_script(a, "v"), nullptr);
  EXPECT_EQ(find_script(a, "be.v"), nullptr);

  ValueNode* bv = find_variable(&frame, "bee.v");
  ASSERT_NE(bv, nullptr);
  EXPECT_EQ(bv->value->data.number, 2);
  EXPECT_EQ(find_variable(&frame, "v")->value->data.number, 1);
  EXPECT_EQ(find_global(&frame, "bee.w"), nullptr);  // module exists, no such global: no report
  EXPECT_TRUE(test_host.error_lines().empty());

  // A local declared under the dotted name hides the qualified global.
  ValueNode* dotted = declare_variable(&frame, "bee.v", nullptr);
  EXPECT_EQ(find_variable(&frame, "bee.v"), dotted);

  bool failed = false;
  EXPECT_EQ(find_variable(&frame, "c.v", &failed), nullptr);
  EXPECT_TRUE(failed);
  ASSERT_EQ(test_host.error_lines().size(), 1u);
  EXPECT_EQ(test_host.error_lines()[0], "### Error: Script not Found : a.start : c.v");
  release_frame(&frame);
}

TEST(Scopes, OnlyTheFirstDotSplits) {
  ScriptFixture scripts;
  Script* a = scripts.add_module("a");
  Script* b = scripts.add_module("b");
  scripts.add_global(b, "x.y", 7);
  CallContext frame = make_frame(a, "f");
  ValueNode* found = find_variable(&frame, "b.x.y");
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->value->data.number, 7);
}

TEST(Scopes, SetVariableAssignsOrAppends) {
  ScriptFixture scripts;
  Script* a = scripts.add_module("a");
  CallContext frame = make_frame(a, "f");
  ValueNode* arg = declare_variable(&frame, "arg", nullptr);
  Value text{};
  text.data.text = const_cast<char*>("one");
  text.is_string = 1;
  EXPECT_EQ(set_variable(&frame, "arg", &text), 1);
  EXPECT_STREQ(arg->value->data.text, "one");  // found in the frame
  EXPECT_EQ(frame.locals, arg);
  EXPECT_EQ(set_variable(&frame, "fresh", &text), 1);
  ASSERT_NE(frame.locals->next, nullptr);
  EXPECT_STREQ(frame.locals->next->name, "fresh");
  EXPECT_STREQ(frame.locals->next->value->data.text, "one");
  EXPECT_NE(frame.locals->next->value->data.text, text.data.text);
  release_frame(&frame);
  EXPECT_EQ(frame.function_name, nullptr);
}

TEST(Scopes, MarkSharedReachesEveryLevel) {
  ValueNode* chain = make_node();
  chain->next = make_node();
  chain->next->elements = make_node();
  chain->next->elements->elements = make_node();
  mark_shared(chain);
  EXPECT_EQ(chain->value->shared, 1);
  EXPECT_EQ(chain->next->value->shared, 1);
  EXPECT_EQ(chain->next->elements->value->shared, 1);
  EXPECT_EQ(chain->next->elements->elements->value->shared, 1);
  free_chain(chain);
}

TEST(Scopes, ReleasingAScriptSetFreesModulesFunctionsAndGlobals) {
  // Run under the sanitizers, this shows every record of a full set is released exactly once.
  Script* set = create_script_set(1);
  ASSERT_NE(set, nullptr);
  EXPECT_EQ(set->root, set);
  EXPECT_EQ(set->is_explicit, 1);
  for (const char* name : {"one", "two", "three"}) {
    Script* module = alloc_record<Script>();
    module->name = dup_string(name);
    module->text = dup_string("text");
    module->root = set;
    auto* entry = alloc_record<FunctionEntry>();
    entry->name = dup_string("f");
    module->functions = entry;
    module->globals = make_node();
    module->next = set->next;
    set->next = module;
  }
  release_script_set(&set);
  EXPECT_EQ(set, nullptr);
  release_script_set(&set);
}
