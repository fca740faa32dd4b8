// Long hashes are looked up through an index; whatever changes a chain, a lookup must find what a
// walk of the chain would find: the first element with the key, or none.
#include <gtest/gtest.h>

#include <string>

#include "engine/element_index.h"
#include "engine/value.h"
#include "support/script_runner.h"

namespace {

// Fills h with k0..k{n-1} = base + i.
const char* const kFill =
    "function fill(&h, n, base) { for (i = 0; i < n; i++) { h[\"k\" + i] = base + i; } }\n"
    // The sum of h[k0..k{n-1}] (a missing key adds an empty element, which counts 0).
    "function total(&h, n) { t = 0; for (i = 0; i < n; i++) { t = t + h[\"k\" + i]; } return t; "
    "}\n";

std::string run(const std::string& body) {
  std::string script = std::string(kFill) + "function test() { " + body + " }";
  ScriptRunner runner(script.c_str());
  if (!runner.loaded()) return "<not loaded>";
  std::string result = runner.call("test");
  for (const std::string& line : runner.errors())
    result += "\n" + line;
  return result;
}

}  // namespace

TEST(ElementIndex, LookupsFindWhatAWalkFinds) {
  // Plain inserts and lookups, repeated, then keys appended after the index was made (h[5] is the
  // element at position 5, which exists).
  EXPECT_EQ(run("var h; fill(h, 200, 0); a = total(h, 200); b = total(h, 200);"
                " h[\"late\"] = 7; h[5] = 1; h[\"later\"] = 8;"
                " return a + \",\" + b + \",\" + h[\"late\"] + \",\" + h[\"later\"] + \",\" +"
                " gethashcount(h);"),
            "19900,19900,7,8,202");
  // A key missing from a long hash is added at its end, once.
  EXPECT_EQ(run("var h; fill(h, 100, 0); total(h, 100); x = h[\"new\"]; h[\"new\"] = 3;"
                " return gethashcount(h) + \",\" + h[\"new\"] + \",\" + ishashkey(h, \"new\");"),
            "101,3,100");
}

TEST(ElementIndex, ChangesThroughBuiltinsAreSeen) {
  // Deleted, renamed, inserted and sorted elements, each after the index was in use.
  EXPECT_EQ(run("var h; fill(h, 100, 0); total(h, 100); hashdelete(h, \"k10\");"
                " n = gethashcount(h); v = h[\"k10\"];"
                " return n + \",\" + gethashcount(h) + \",\" + ishashkey(h, \"k10\");"),
            "99,100,99");
  EXPECT_EQ(run("var h; fill(h, 100, 0); total(h, 100); sethashkey(h, \"k20\", \"renamed\");"
                " return h[\"renamed\"] + \",\" + ishashkey(h, \"k20\") + \",\" +"
                " h[\"k21\"];"),
            "20,-1,21");
  EXPECT_EQ(run("var h; fill(h, 100, 0); total(h, 100); hashinsert(h, 0, 5);"
                " hashkeysort(h, 1); return total(h, 100) + \",\" + gethashcount(h);"),
            "4950,101");
}

TEST(ElementIndex, ReplacedAndJoinedChainsAreSeen) {
  // A whole hash assigned over an indexed one; a joined hash keeps the first of two equal keys.
  EXPECT_EQ(run("var h; var g; fill(h, 100, 0); fill(g, 100, 1000); total(h, 100);"
                " h = g[]; return total(h, 100);"),
            "104950");
  EXPECT_EQ(run("var h; var g; fill(h, 100, 0); fill(g, 100, 1000); j = h[] + g[];"
                " return total(j, 100) + \",\" + gethashcount(j);"),
            "4950,200");
}

TEST(ElementIndex, AHashMadeAgainAtTheSameAddressIsNotMistaken) {
  // Each call's local hash is freed when the call returns; the next one may reuse its cells.
  EXPECT_EQ(run("s = \"\"; for (r = 0; r < 5; r++) { s = s + sum_of(r * 1000) + \";\"; }"
                " return s;\n}\n"
                "function sum_of(base) { var h; fill(h, 64, base); return total(h, 64);"),
            "2016;66016;130016;194016;258016;");
}

TEST(ElementIndex, TheChainEpochSetsIndexesAside) {
  // A chain relinked by hand, as an extension may do, is seen once the epoch changes.
  ValueNode* container = make_node();
  ASSERT_NE(container, nullptr);
  ValueNode** tail = &container->elements;
  for (int i = 0; i < 64; ++i) {
    ValueNode* cell = make_node();
    ASSERT_NE(cell, nullptr);
    std::string key = "e" + std::to_string(i);
    cell->name = dup_string(key.c_str());
    cell->name_hash = name_hash_of(cell->name);
    cell->value->data.number = i;
    *tail = cell;
    tail = &cell->next;
  }
  Value key{};
  key.is_string = 1;
  key.data.text = const_cast<char*>("e40");
  ValueNode* found = nullptr;
  for (int i = 0; i < 8; ++i)
    found = element_by_key(nullptr, container, &key);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->value->data.number, 40);
  // Put a second "e40" after e20, past the first cells a lookup walks: it is now the first one.
  ValueNode* e20 = container->elements;
  for (int i = 0; i < 20; ++i)
    e20 = e20->next;
  ValueNode* twin = make_node();
  ASSERT_NE(twin, nullptr);
  twin->name = dup_string("e40");
  twin->name_hash = found->name_hash;
  twin->value->data.number = 400;
  twin->next = e20->next;
  e20->next = twin;
  note_chains_changed();
  EXPECT_EQ(element_by_key(nullptr, container, &key), twin);
  free_node(container);
}
