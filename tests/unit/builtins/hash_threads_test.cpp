// Script threads changing one global hash while others walk it. Run under ThreadSanitizer and
// AddressSanitizer: a cell freed under a walker, or a link read without ordering, shows up there.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "builtins/hash.h"
#include "engine/builtin_table.h"
#include "engine/engine.h"
#include "engine/retire.h"
#include "engine/script.h"
#include "engine/value.h"
#include "platform/memory.h"
#include "support/script_runner.h"
#include "support/test_host.h"

namespace {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kPasses = 500;
#else
constexpr int kPasses = 1500;
#endif

// A thread that runs `body(context, i)` kPasses times in a frame of the module.
template <class Body>
std::thread passes_on_a_thread(Script* module, Body body) {
  return std::thread([module, body] {
    CallContext context{};
    context.script = module;
    for (int i = 0; i < kPasses; ++i)
      body(&context, i);
  });
}

// One built-in call made the way the evaluator makes it: inside a counted call, with argument cells
// that either refer to a variable (sharing its Value) or hold a scalar of their own.
class BuiltinCall {
 public:
  explicit BuiltinCall(const char* name) : entry_(find_builtin(name)) {}
  BuiltinCall& ref(ValueNode* variable) {
    ValueNode& cell = add();
    cell.value = variable->value;
    return *this;
  }
  BuiltinCall& number(std::int32_t number) {
    add().value->data.number = number;
    return *this;
  }
  BuiltinCall& text(const char* text) {
    Value* value = add().value;
    value->data.text = const_cast<char*>(text);
    value->is_string = 1;
    return *this;
  }
  // Gives the last argument a name (the key hashinsert gives its copy).
  BuiltinCall& named(const char* name) {
    cells_[count_ - 1].name = const_cast<char*>(name);
    cells_[count_ - 1].name_hash = name_hash_of(name);
    return *this;
  }
  // The status; the result is released at once.
  std::int32_t run(CallContext* context) {
    char message[LUMO_MESSAGE_SIZE] = "";
    ValueNode* result = make_node();
    count_call(1);
    std::int32_t status;
    {
      ScriptCodeScope in_script;
      status = entry_(context, count_ > 0 ? &cells_[0] : nullptr, result, message);
    }
    count_call(-1);
    free_node(result);
    return status;
  }

 private:
  ValueNode& add() {
    ValueNode& cell = cells_[count_];
    values_[count_].owner = &cell;
    cell.value = &values_[count_];
    if (count_ > 0) cells_[count_ - 1].next = &cell;
    ++count_;
    return cell;
  }

  NativeFunction entry_;
  std::array<ValueNode, 4> cells_{};
  std::array<Value, 4> values_{};
  int count_ = 0;
};

}  // namespace

TEST(RetiredCells, OutliveTheCallsThatMayStandOnThem) {
  ValueNode* cell = make_node();
  ASSERT_NE(cell, nullptr);
  ASSERT_TRUE(set_string_value(cell->value, "still here"));
  enter_script_code();
  retire_cell(cell);
  // This thread runs script code and has passed no quiescent point since: the cell must still be
  // readable (the sanitizer would flag a freed one).
  EXPECT_STREQ(cell->value->data.text, "still here");
  EXPECT_EQ(retired_backlog(), 1);
  leave_script_code();  // released now; the leak checker sees that it was
  EXPECT_EQ(retired_backlog(), 0);
}

TEST(SharedHashThreads, BuiltinsChangeAndWalkOneGlobalHash) {
  ScriptFixture scripts;
  Script* module = scripts.add_module("main");
  ValueNode* g = scripts.add_global(module, "g", 0);
  ValueNode* out = scripts.add_global(module, "out", 0);
  g->value->shared = 1;
  out->value->shared = 1;
  auto run = [module](auto body) { return passes_on_a_thread(module, body); };
  std::vector<std::thread> threads;
  threads.push_back(run([&](CallContext* c, int i) {
    BuiltinCall("_sfunc_hashsort").ref(g).number(i % 2).run(c);
    BuiltinCall("_sfunc_hashkeysort").ref(g).number(0).number(1).run(c);
  }));
  threads.push_back(run([&](CallContext* c, int i) {
    BuiltinCall("_sfunc_hashdelete").ref(g).number(i % 7).run(c);
    BuiltinCall("_sfunc_hashdelete").ref(g).text("k1").run(c);
  }));
  threads.push_back(run([&](CallContext* c, int i) {
    BuiltinCall("_sfunc_hashinsert").ref(g).number(i % 9).text("v").run(c);
    BuiltinCall("_sfunc_hashinsert").ref(g).text("k2").ref(out).run(c);
    Value key{};
    key.data.text = const_cast<char*>(i % 2 != 0 ? "k1" : "k2");
    key.is_string = 1;
    ScriptCodeScope in_script;
    if (ValueNode* cell = element_by_key(c, g, &key); cell != nullptr) {
      Value number{};
      number.data.number = i;
      assign_value(c, cell->value, &number);
    }
  }));
  threads.push_back(run([&](CallContext* c, int i) {
    BuiltinCall("_sfunc_sethashcount").ref(g).number(i % 10 == 0 ? 0 : 20 - i % 12).run(c);
    BuiltinCall("_sfunc_regmatch").text("(v)([0-9])").text("av7").ref(out).run(c);
  }));
  threads.push_back(run([&](CallContext* c, int) {
    BuiltinCall("_sfunc_hashmerge").ref(g).ref(g).run(c);
    BuiltinCall("_sfunc_hashcopy").ref(g).number(1).number(5).run(c);
    BuiltinCall("_sfunc_regmatchall").text("[0-9]").text("a1b2").ref(out).run(c);
  }));
  for (int walker = 0; walker < 2; ++walker) {
    threads.push_back(run([&](CallContext* c, int) {
      BuiltinCall("_sfunc_gethashcount").ref(g).run(c);
      BuiltinCall("_sfunc_hashfind").ref(g).text("v").run(c);
      BuiltinCall("_sfunc_ishashkey").ref(g).text("k2").run(c);
      BuiltinCall("_sfunc_gethashkey").ref(g).number(2).run(c);
      BuiltinCall("_sfunc_hashtostring").ref(g).run(c);
      BuiltinCall("_sfunc_hashcopy").ref(out).run(c);
      ScriptCodeScope in_script;
      if (ValueNode* first = element_by_position(c, g, 0); first != nullptr) {
        char* text = text_of_value(first->value);
        release(&text);
      }
    }));
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(active_calls(), 0);
  // The chain ends, and its length is what the built-in counts.
  std::int32_t length = 0;
  for (ValueNode* cell = g->elements; cell != nullptr && length <= 100000; cell = cell->next)
    ++length;
  CallContext context{};
  context.script = module;
  ValueNode* result = make_node();
  char message[LUMO_MESSAGE_SIZE] = "";
  ValueNode argument{};
  argument.value = g->value;
  builtin_gethashcount(&context, &argument, result, message);
  EXPECT_EQ(result->value->data.number, length);
  free_node(result);
}

// The same through scripts: the evaluator's own indexing, hash assignment and walks take part.
TEST(SharedHashThreads, ScriptsChangeAndWalkOneGlobalHash) {
  ScriptRunner runner(
      "g = {5, 3, 8, \"x\", 1};\n"
      "function count(n) { return int(n); }\n"
      "out = 0;\n"
      "function sorter(n) { for (i = 0; i < count(n); i++) { hashsort(g, i % 2); hashkeysort(g, 0, "
      "1); } "
      "}\n"
      "function deleter(n) { for (i = 0; i < count(n); i++) { hashdelete(g, i % 7); hashdelete(g, "
      "\"k\" "
      "+ i % 5); } }\n"
      "function inserter(n) { for (i = 0; i < count(n); i++) { hashinsert(g, i % 9, \"v\" + i); "
      "g[\"k\" + i % 5] = i; v = {i, {i}}; hashinsert(g, \"k1\", v); } }\n"
      "function resizer(n) { for (i = 0; i < count(n); i++) { if (gethashcount(g) > 30) "
      "sethashcount(g, "
      "i % 12); if (i % 10 == 0) sethashcount(g, 0); regmatch(\"(v)([0-9])\", \"av7\", out); } "
      "}\n"
      "function merger(n) { for (i = 0; i < count(n); i++) { r = hashmerge(g, g); c = hashcopy(g, "
      "1, 5); "
      "regmatchall(\"[0-9]\", \"a1b2\", out); } }\n"
      "function walker(n) { total = 0; for (i = 0; i < count(n); i++) {\n"
      "  c = hashcopy(g); for (j = 0; j < gethashcount(c); j++) total = total + len(c[j]);\n"
      "  total = total + hashfind(g, 3) + ishashkey(g, \"k2\") + len(hashtostring(g));\n"
      "  total = total + len(g[0]) + len(g[\"k3\"]) + len(gethashkey(g, 2)) + len(out[1]); }\n"
      "  return total; }\n"
      "function check() { c = hashcopy(g); ok = gethashcount(c) == gethashcount(g);\n"
      "  for (j = 0; j < gethashcount(g); j++) ok = ok && hashfind(g, g[j]) <= j;\n"
      "  return ok; }\n");
  ASSERT_TRUE(runner.loaded());
  const std::string passes = std::to_string(kPasses / 10);
  std::vector<std::thread> threads;
  for (const char* name :
       {"sorter", "deleter", "inserter", "resizer", "merger", "walker", "walker"})
    threads.emplace_back([&, name] { runner.call(name, {passes}); });
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(runner.errors(), std::vector<std::string>{});
  EXPECT_EQ(active_calls(), 0);
  // The chain is whole and every element is where a walk finds it.
  EXPECT_EQ(runner.call("check"), "1");
}

// A global hash long enough to be looked up through each thread's index, while other threads
// relink, rename, insert, delete and append: every lookup of a key finds its one element.
TEST(SharedHashThreads, LookupsOfALongGlobalHashFindTheirElements) {
  ScriptFixture scripts;
  Script* module = scripts.add_module("main");
  ValueNode* g = scripts.add_global(module, "g", 0);
  g->value->shared = 1;
  constexpr int kStable = 200;
  auto element = [&](CallContext* context, const std::string& key) {
    Value name{};
    name.data.text = const_cast<char*>(key.c_str());
    name.is_string = 1;
    return element_by_key(context, g, &name);
  };
  {
    CallContext context{};
    context.script = module;
    ScriptCodeScope in_script;
    for (int j = 0; j < kStable; ++j) {
      Value number{};
      number.data.number = j;
      assign_value(&context, element(&context, "s" + std::to_string(j))->value, &number);
    }
  }
  std::atomic<int> wrong{0};
  auto run = [module](auto body) { return passes_on_a_thread(module, body); };
  std::vector<std::thread> threads;
  threads.push_back(run([&](CallContext* c, int i) {
    BuiltinCall("_sfunc_hashkeysort").ref(g).number(i % 2).run(c);
    BuiltinCall("_sfunc_hashsort").ref(g).number(0).run(c);
  }));
  threads.push_back(run([&](CallContext* c, int i) {
    BuiltinCall("_sfunc_hashinsert").ref(g).number(20 + i % 50).text("v").named("t").run(c);
    BuiltinCall("_sfunc_sethashkey").ref(g).text("t").text("r").run(c);
    BuiltinCall("_sfunc_hashdelete").ref(g).text("r").run(c);
  }));
  threads.push_back(run([&](CallContext* c, int i) {
    ScriptCodeScope in_script;
    element(c, "u" + std::to_string(i % 50));
    element_by_position(c, g, 260 + i % 20);
  }));
  for (int reader = 0; reader < 2; ++reader) {
    threads.push_back(run([&](CallContext* c, int i) {
      BuiltinCall("_sfunc_gethashcount").ref(g).run(c);
      BuiltinCall("_sfunc_gethashkey").ref(g).number(150).run(c);
      ScriptCodeScope in_script;
      for (int j = (i * 7) % kStable, n = 0; n < kStable; j = (j + 1) % kStable, ++n) {
        ValueNode* cell = element(c, "s" + std::to_string(j));
        if (cell == nullptr || number_of_value(cell->value) != j) ++wrong;
      }
      if (element_by_position(c, g, 100 + i % 100) == nullptr) ++wrong;
    }));
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(active_calls(), 0);
  // Each key is there once.
  int stable = 0;
  for (ValueNode* cell = g->elements; cell != nullptr; cell = cell->next)
    stable += cell->name != nullptr && cell->name[0] == 's' ? 1 : 0;
  EXPECT_EQ(stable, kStable);
}
