// Long hashes are looked up through an index; whatever changes a chain, a lookup must find what a
// walk of the chain would find: the first element with the key, or none.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

// Element counts of the large cases: a tenth under the sanitizers, whose every step is far slower.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kPositions = 100000;
constexpr int kKeys = 40000;
#else
constexpr int kPositions = 1000000;
constexpr int kKeys = 400000;
#endif
const std::string kPositionCount = std::to_string(kPositions);
const std::string kKeyCount = std::to_string(kKeys);
// The sum of i % 1000 for i below kPositions, a multiple of 1000.
const std::string kPositionSum = std::to_string(kPositions / 1000 * 499500);

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

TEST(ElementIndex, AMillionPositionsAreFilledAndReadWithoutWalks) {
  // Walking from the chain's start for every position would not end within the test's time.
  EXPECT_EQ(run("var h; n = " + kPositionCount +
                "; for (i = 0; i < n; i++) h[i] = i;"
                " t = 0; for (i = n - 1; i >= 0; i--) t = t + h[i] % 1000;"
                " k = 0; for (i = 0; i < n; i = i + 1000) k = k + (gethashkey(h, i) == \"\");"
                " return gethashcount(h) + \",\" + t + \",\" + k + \",\" + h[n - 1];"),
            kPositionCount + "," + kPositionSum + "," + std::to_string(kPositions / 1000) + "," +
                std::to_string(kPositions - 1));
  // A position past the end adds the unnamed elements up to it; keyed and positional access see
  // the same cells.
  EXPECT_EQ(run("var h; fill(h, 40, 0); total(h, 40); h[100] = 5; h[\"x\"] = 6; h[41] = 7;"
                " return gethashcount(h) + \",\" + h[100] + \",\" + h[101] + \",\" + h[\"k39\"] +"
                " \",\" + h[39] + \",\" + h[41] + \",\" + gethashkey(h, 101);"),
            "102,5,6,39,39,7,x");
}

TEST(ElementIndex, PositionsFollowChangesOfTheChain) {
  // Deleted and inserted elements shift the positions after them; a whole hash assigned over an
  // indexed one (unnamed cells go without a note of their own) is read afresh, also when it is
  // replaced twice with no lookup in between.
  EXPECT_EQ(run("var h; for (i = 0; i < 100; i++) h[i] = i; x = h[50] + h[60];"
                " hashdelete(h, 10); a = h[50]; hashinsert(h, 20, 1000); b = h[50] + \"/\" + h[20];"
                " return x + \",\" + a + \",\" + b + \",\" + gethashcount(h);"),
            "110,51,50/1000,100");
  EXPECT_EQ(run("var h; var g; var f; for (i = 0; i < 100; i++) { h[i] = i; g[i] = i + 1000;"
                " f[i] = i + 2000; } x = h[70] + h[80]; h = g[]; h = f[]; a = h[70];"
                " for (i = 0; i < 60; i++) h[i] = 0; return x + \",\" + a + \",\" + h[99] + \",\" +"
                " gethashcount(h);"),
            "150,2070,2099,100");
  // A count past a change: sethashcount cuts the chain, then it grows again by position.
  EXPECT_EQ(
      run("var h; for (i = 0; i < 200; i++) h[i] = i; sethashcount(h, 50); a = h[49];"
          " h[120] = 1; return a + \",\" + gethashcount(h) + \",\" + h[60] + \",\" + h[120];"),
      "49,121,0,1");
}

TEST(ElementIndex, KeysWithOneSignatureStayApart) {
  // 400 000 keys share a few hundred signatures; each is found, once, with its own value.
  EXPECT_EQ(run("var h; n = " + kKeyCount +
                "; for (i = 0; i < n; i++) h[\"key\" + i] = i;"
                " t = 0; for (i = n - 1; i >= 0; i--) t = t + (h[\"key\" + i] == i);"
                " return gethashcount(h) + \",\" + t + \",\" + ishashkey(h, \"key\" + (n - 1));"),
            kKeyCount + "," + kKeyCount + "," + std::to_string(kKeys - 1));
  // "ab" and "c^" have the same signature, "Key" and "key" differ only in case: four keys.
  EXPECT_EQ(run("var h; fill(h, 64, 0); total(h, 64); h[\"ab\"] = 1; h[\"c^\"] = 2;"
                " h[\"Key\"] = 3; h[\"key\"] = 4; total(h, 64);"
                " return h[\"ab\"] + \",\" + h[\"c^\"] + \",\" + h[\"Key\"] + \",\" + h[\"key\"] +"
                " \",\" + gethashcount(h);"),
            "1,2,3,4,68");
}

TEST(ElementIndex, GlobalHashesAreIndexedToo) {
  // Globals are shared once the top level has run; their chains are indexed as well.
  ScriptRunner runner(
      "g = 0; k = 0;\n"
      "function positions(n) { n = int(n); for (i = 0; i < n; i++) g[i] = i;"
      " t = 0; for (i = n - 1; i >= 0; i--) t = t + g[i] % 1000; return gethashcount(g) + \",\" + "
      "t; }\n"
      "function keys(n) { n = int(n); for (i = 0; i < n; i++) k[\"key\" + i] = i;"
      " t = 0; for (i = n - 1; i >= 0; i--) t = t + (k[\"key\" + i] == i);"
      " hashdelete(k, \"key7\"); hashinsert(k, 0, 5); sethashkey(k, \"key8\", \"x\");"
      " hashkeysort(k, 1); return gethashcount(k) + \",\" + t + \",\" + k[\"key\" + (n - 1)] + "
      "\",\" +"
      " k[\"x\"] + \",\" + gethashkey(k, 0) + \",\" + ishashkey(k, \"key7\") + \",\" +"
      " ishashkey(k, \"key8\") + \",\" + gethashcount(k); }\n");
  ASSERT_TRUE(runner.loaded());
  // The sanitizers' locks are slow: the globals take a tenth of the elements again.
  EXPECT_EQ(runner.call("positions", {std::to_string(kPositions / 10)}),
            std::to_string(kPositions / 10) + "," + std::to_string(kPositions / 10000 * 499500));
  EXPECT_EQ(runner.call("keys", {std::to_string(kKeys / 10)}),
            std::to_string(kKeys / 10) + "," + std::to_string(kKeys / 10) + "," +
                std::to_string(kKeys / 10 - 1) + ",8,x,-1,-1," + std::to_string(kKeys / 10));
  EXPECT_EQ(runner.errors(), std::vector<std::string>{});
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
