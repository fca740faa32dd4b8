// The hash built-ins, called from scripts.
#include <gtest/gtest.h>

#include <string>

#include "support/script_runner.h"

namespace {

// Shows a hash as key=value pairs, strings quoted, nested elements in brackets.
constexpr const char* kDump =
    "function dump(hash) {\n"
    "  out = \"\";\n"
    "  for (n = 0; n < gethashcount(hash); n++) {\n"
    "    if (n > 0) out = out + \",\";\n"
    "    if (gethashkey(hash, n) != \"\") out = out + gethashkey(hash, n) + \"=\";\n"
    "    if (istype(hash[n])) out = out + \"'\" + hash[n] + \"'\"; else out = out + hash[n];\n"
    "    if (gethashcount(hash[n]) > 0) out = out + \"(\" + dump(hash[n]) + \")\";\n"
    "  }\n"
    "  return out;\n"
    "}\n";

// Runs `body` as a function of a fresh script (after `globals` at top level) and gives its result.
std::string run(const std::string& body, const std::string& globals = "") {
  std::string text = globals + "\n" + kDump + "function t() {\n" + body + "\n}\n";
  ScriptRunner runner(text.c_str());
  if (!runner.loaded()) return "<load failed>";
  std::string result = runner.call("t");
  // Each report as its message alone: "### Error: MESSAGE : place ...".
  for (const std::string& error : runner.errors()) {
    std::size_t start = error.find("Error: ");
    if (start != std::string::npos)
      result += " | " + error.substr(start + 7, error.find(" : ") - start - 7);
  }
  return result;
}

}  // namespace

TEST(HashBuiltins, CountAndResize) {
  EXPECT_EQ(run("h = {1, 2, 3}; return gethashcount(h);"), "3");
  EXPECT_EQ(run("h = 0; return gethashcount(h);"), "0");
  EXPECT_EQ(run("h = {1, 2, 3}; sethashcount(h, 0); return gethashcount(h);"), "0");
  EXPECT_EQ(run("h = {1, 2, 3}; sethashcount(h, -5); return gethashcount(h);"), "0");
  // New elements copy the variable's own scalar; shrinking keeps the first elements.
  EXPECT_EQ(run("h = \"x\"; sethashcount(h, 3); return dump(h);"), "'x','x','x'");
  EXPECT_EQ(run("h = \"x\"; sethashcount(h, 3); sethashcount(h, 1); return dump(h);"), "'x'");
  EXPECT_EQ(run("h = {a = 1, 2}; h = 5; sethashcount(h, 4); return dump(h);"), "a=1,2,5,5");
  EXPECT_EQ(run("h = {1, 2}; sethashcount(h, 2); return dump(h);"), "1,2");
  EXPECT_EQ(run("h = {1, {7, 8}, 3}; sethashcount(h, 2); return dump(h);"), "1,0(7,8)");
}

TEST(HashBuiltins, AGrowthTooLargeFailsAndChangesNothing) {
  ScriptRunner runner(
      "g = {1, 2};\n"
      "function grow() { sethashcount(g, 2000000000); }\n"
      "function count() { return gethashcount(g); }");
  ASSERT_TRUE(runner.loaded());
  EXPECT_EQ(runner.call("grow"), "<failed>");
  ASSERT_FALSE(runner.errors().empty());
  EXPECT_NE(runner.errors()[0].find("sethashcount: Alloc failed"), std::string::npos)
      << runner.errors()[0];
  EXPECT_EQ(runner.call("count"), "2");
}

TEST(HashBuiltins, KeysByPosition) {
  EXPECT_EQ(run("h = {a = 1, 2}; return gethashkey(h, 0) + \"/\" + gethashkey(h, 1);"), "a/");
  EXPECT_EQ(run("h = {a = 1, b = 2}; return gethashkey(h, 5) + gethashkey(h, -1) + \"|\";"), "|");
  // Unkeyed elements count as positions.
  EXPECT_EQ(run("h = {1, a = 2}; return ishashkey(h, \"a\");"), "1");
  EXPECT_EQ(run("h = {a = 1}; return ishashkey(h, \"A\");"), "-1");
  EXPECT_EQ(run("h = {x = 1, y = 2, x2 = 3}; return ishashkey(h, \"x2\");"), "2");
  EXPECT_EQ(run("h = 0; return ishashkey(h, \"a\");"), "-1");
}

TEST(HashBuiltins, SetKeySelectsByKeyOrPosition) {
  EXPECT_EQ(run("h = {a = 1, 2}; sethashkey(h, 1, \"b\"); return dump(h);"), "a=1,b=2");
  EXPECT_EQ(run("h = {a = 1, 2}; sethashkey(h, \"a\", \"z\"); return dump(h) + ishashkey(h, "
                "\"z\");"),
            "z=1,20");
  // A missing key or position is created first.
  EXPECT_EQ(run("h = {1}; sethashkey(h, \"new\", \"k\"); return dump(h);"), "1,k=0");
  EXPECT_EQ(run("h = {1}; sethashkey(h, 2, \"k\"); return dump(h);"), "1,0,k=0");
  // The empty key selects nothing; a negative position is an index error but not a failure.
  EXPECT_EQ(run("h = {1}; sethashkey(h, \"\", \"k\"); return dump(h);"), "1");
  EXPECT_EQ(run("h = {1}; return sethashkey(h, -1, \"k\") + dump(h);"), "01 | Index error");
  // Without a key the selected element is still created.
  EXPECT_EQ(run("h = {1}; x = sethashkey(h, 2);"), "<failed> | Too few arguments");
  ScriptRunner runner(
      "g = {1};\n"
      "function f() { sethashkey(g, 2); }\n"
      "function n() { return gethashcount(g); }");
  EXPECT_EQ(runner.call("f"), "<failed>");
  EXPECT_EQ(runner.call("n"), "3");
}

TEST(HashBuiltins, InsertCopiesKeyScalarAndElements) {
  EXPECT_EQ(run("h = {1, 2}; hashinsert(h, 0, 9); return dump(h);"), "9,1,2");
  EXPECT_EQ(run("h = {1, 2}; hashinsert(h, -4, 9); return dump(h);"), "9,1,2");
  EXPECT_EQ(run("h = {1, 2}; hashinsert(h, 1, 9); return dump(h);"), "1,9,2");
  EXPECT_EQ(run("h = {1, 2}; hashinsert(h, 99, 9); return dump(h);"), "1,2,9");
  EXPECT_EQ(run("h = {a = 1, b = 2}; hashinsert(h, \"b\", 9); return dump(h);"), "a=1,9,b=2");
  EXPECT_EQ(run("h = {a = 1}; hashinsert(h, \"k\", 9); return dump(h);"), "a=1,9");
  EXPECT_EQ(run("h = 0; hashinsert(h, 0, \"s\"); return dump(h);"), "'s'");
  // Its elements are copied deep.
  EXPECT_EQ(run("h = {1}; v = \"s\"; v[0] = {7, 8}; hashinsert(h, 0, v); v[0][0] = 5; "
                "return dump(h);"),
            "'s'(0(7,8)),1");
  // Inserting a hash into itself copies it before linking.
  EXPECT_EQ(run("h = {1, 2}; hashinsert(h, 0, h); return dump(h);"), "0(1,2),1,2");
  EXPECT_EQ(run("h = {1}; hashinsert(h, 0); return 1;"), "<failed> | Too few arguments");
}

TEST(HashBuiltins, DeleteBySelector) {
  EXPECT_EQ(run("h = {1, 2, 3}; hashdelete(h, -3); return dump(h);"), "2,3");
  EXPECT_EQ(run("h = {1, 2, 3}; hashdelete(h, 2); return dump(h);"), "1,2");
  EXPECT_EQ(run("h = {1, 2, 3}; hashdelete(h, 3); return dump(h);"), "1,2,3");
  EXPECT_EQ(run("h = {a = 1, 2, b = 3}; hashdelete(h, \"b\"); return dump(h);"), "a=1,2");
  EXPECT_EQ(run("h = {a = 1, 2}; hashdelete(h, \"missing\"); return dump(h);"), "a=1,2");
  EXPECT_EQ(run("h = 0; hashdelete(h, 0); return gethashcount(h);"), "0");
  EXPECT_EQ(run("h = {1, {5, 6}}; hashdelete(h, 0); return dump(h);"), "0(5,6)");
}

TEST(HashBuiltins, FindComparesKindAndValue) {
  EXPECT_EQ(run("h = {1, 5, \"5\"}; return hashfind(h, 5);"), "1");
  EXPECT_EQ(run("h = {1, 5, \"5\"}; return hashfind(h, \"5\");"), "2");
  EXPECT_EQ(run("h = {1, 5}; return hashfind(h, \"5\");"), "-1");
  EXPECT_EQ(run("h = {\"abc\", \"ABC\"}; return hashfind(h, \"ABC\");"), "1");
  EXPECT_EQ(run("h = 0; return hashfind(h, 0);"), "-1");
}

TEST(HashBuiltins, SortByValue) {
  EXPECT_EQ(run("h = {10, 9, 100}; hashsort(h); return dump(h);"), "9,10,100");
  EXPECT_EQ(run("h = {10, 9, 100}; hashsort(h, 1); return dump(h);"), "100,10,9");
  EXPECT_EQ(run("h = {-1, 3, -20}; hashsort(h); return dump(h);"), "-20,-1,3");
  EXPECT_EQ(run("h = {\"10\", \"9\", \"100\"}; hashsort(h); return dump(h);"), "'10','100','9'");
  // Mixed kinds compare as text; keys and nested elements move with their elements.
  EXPECT_EQ(run("h = {b = \"b\", 2, a = {1}}; hashsort(h); return dump(h);"), "a=0(1),2,b='b'");
  // Locale order puts lower case first on a tie; ignore case folds to the same and stays stable.
  EXPECT_EQ(run("h = {\"B\", \"a\", \"b\"}; hashsort(h); return dump(h);"), "'a','b','B'");
  EXPECT_EQ(run("h = {\"B\", \"a\", \"b\"}; hashsort(h, 0, 1); return dump(h);"), "'a','B','b'");
  EXPECT_EQ(run("h = {\"B\", \"a\", \"b\"}; hashsort(h, 1, 1); return dump(h);"), "'B','b','a'");
  EXPECT_EQ(run("h = {x = 2, y = 1, z = 2, w = 1}; hashsort(h); return dump(h);"),
            "y=1,w=1,x=2,z=2");
  EXPECT_EQ(run("h = 0; return hashsort(h) + gethashcount(h);"), "0");
}

TEST(HashBuiltins, SortByKey) {
  // Script names are lower-cased, so upper-case keys come from strings.
  constexpr const char* kKeys = "h[\"b\"] = 1; h[\"A\"] = 2; h[\"c\"] = 3; h[\"B\"] = 4;";
  EXPECT_EQ(run(std::string(kKeys) + "hashkeysort(h, 0, 1); return dump(h);"), "A=2,b=1,B=4,c=3");
  EXPECT_EQ(run(std::string(kKeys) + "hashkeysort(h, 1, 1); return dump(h);"), "c=3,b=1,B=4,A=2");
  EXPECT_EQ(run(std::string(kKeys) + "hashkeysort(h); return dump(h);"), "A=2,b=1,B=4,c=3");
  // Unkeyed elements sort as the empty key, first, in their order.
  EXPECT_EQ(run("h = {b = 1, 7, a = 2, 8}; hashkeysort(h); return dump(h);"), "7,8,a=2,b=1");
  // Byte-wise folding compares bytes as signed: a two-byte character sorts before ASCII.
  EXPECT_EQ(run("h = {a = 1}; sethashkey(h, 1, \"\\x82\\xa0\"); hashkeysort(h, 0, 1); "
                "return gethashkey(h, 1);"),
            "a");
}

TEST(HashBuiltins, CopyARange) {
  constexpr const char* kThree = "h = {a = 1, 2, c = {3, 4}};";
  EXPECT_EQ(run(std::string(kThree) + "return dump(hashcopy(h, 1));"), "2,c=0(3,4)");
  EXPECT_EQ(run(std::string(kThree) + "return dump(hashcopy(h, 1, 1));"), "2");
  EXPECT_EQ(run(std::string(kThree) + "return dump(hashcopy(h));"), "a=1,2,c=0(3,4)");
  EXPECT_EQ(run(std::string(kThree) + "return dump(hashcopy(h, 2, 5));"), "c=0(3,4)");
  EXPECT_EQ(run(std::string(kThree) + "r = hashcopy(h, 5); return gethashcount(r);"), "0");
  EXPECT_EQ(run(std::string(kThree) + "r = hashcopy(h, -1); return gethashcount(r);"), "0");
  // A count of 0 copies nothing.
  EXPECT_EQ(run(std::string(kThree) + "r = hashcopy(h, 1, 0); return gethashcount(r);"), "0");
  // The copy is deep: changing it leaves the source alone.
  EXPECT_EQ(run(std::string(kThree) + "r = hashcopy(h); r[2][0] = 9; return dump(h);"),
            "a=1,2,c=0(3,4)");
  // The result is a hash: it replaces the target's elements.
  EXPECT_EQ(run(std::string(kThree) + "r = {7, 7, 7, 7}; r = hashcopy(h, 0, 1); return dump(r);"),
            "a=1");
}

TEST(HashBuiltins, MergeReplacesEqualKeysInPlace) {
  EXPECT_EQ(run("a = {k = 1, x = 2}; b = {y = 3, k = 4}; return dump(hashmerge(a, b));"),
            "k=4,x=2,y=3");
  EXPECT_EQ(run("a = {1, k = 2}; b = {1, k = {5}}; return dump(hashmerge(a, b));"), "1,k=0(5),1");
  EXPECT_EQ(run("a = {1}; e = 0; return dump(hashmerge(e, a, e));"), "1");
  EXPECT_EQ(run("a = {k = 1}; r = hashmerge(a, a, a); return dump(r);"), "k=1");
  EXPECT_EQ(run("e = 0; r = {5}; r = hashmerge(e); return gethashcount(r);"), "0");
  // The last element replaced keeps the tail in order.
  EXPECT_EQ(run("a = {x = 1, k = 2}; b = {k = 3, 4}; return dump(hashmerge(a, b));"), "x=1,k=3,4");
}

TEST(HashBuiltins, MergeOfLargeHashesKeepsResultAndOrder) {
  // a: k0..k{n-1} = position, then one unnamed "u"; b: k0, k2, .. k{2n-2} = -(half the number).
  // The even keys of a take b's values in place, b's keys past a's come after "u" in b's order.
  // Searching the result for every key would not end within the test's time.
  EXPECT_EQ(run("var a; var b; n = 100000;\n"
                "for (i = 0; i < n; i++) a[\"k\" + i] = i;\n"
                "a[n] = \"u\";\n"
                "for (i = 0; i < n; i++) b[\"k\" + i * 2] = 0 - i;\n"
                "m = hashmerge(a, b);\n"
                "bad = 0;\n"
                "for (p = 0; p < n; p++) {\n"
                "  if (gethashkey(m, p) != \"k\" + p) bad++;\n"
                "  if (p % 2 == 0) { if (m[p] != 0 - p / 2) bad++; } else if (m[p] != p) bad++;\n"
                "}\n"
                "for (p = n + 1; p < gethashcount(m); p++) {\n"
                "  j = n + (p - n - 1) * 2;\n"
                "  if (gethashkey(m, p) != \"k\" + j || m[p] != 0 - j / 2) bad++;\n"
                "}\n"
                "return gethashcount(m) + \",\" + bad + \",\" + m[n] + gethashkey(m, n) + \",\" +\n"
                "  gethashkey(m, gethashcount(m) - 1) + \",\" + gethashcount(hashmerge(m, m, b));"),
            "150001,0,u,k199998,150002");
}

TEST(HashBuiltins, ByteHashes) {
  EXPECT_EQ(run("return dump(stringtohash(\"AB\"));"), "65,66");
  EXPECT_EQ(run("return hashtostring(stringtohash(\"AB\"));"), "AB");
  EXPECT_EQ(run("return dump(stringtohash(\"\"));"), "0");
  EXPECT_EQ(run("return dump(stringtohash(\"\\x82\\xa0\"));"), "130,160");
  EXPECT_EQ(run("return dump(stringtohash(12));"), "49,50");
  // Low 8 bits of numbers, first byte of strings; the text ends at the first 0 byte.
  EXPECT_EQ(run("h = {321, \"BC\", 67, 0, 68}; return hashtostring(h);"), "ABC");
  EXPECT_EQ(run("h = {\"\", 65}; return len(hashtostring(h));"), "0");
  EXPECT_EQ(run("h = 0; return len(hashtostring(h));"), "0");
}

TEST(HashBuiltins, ChangesReachTheVariableThroughItsReference) {
  // A global changed from a function, and an element changed as a hash of its own.
  EXPECT_EQ(
      run("hashinsert(g, 0, 1); hashsort(g); hashdelete(g, 2); return dump(g);", "g = {3, 2, 1};"),
      "1,1,3");
  EXPECT_EQ(run("h[0] = {3, 1, 2}; hashsort(h[0]); sethashcount(h[0], 2); return dump(h);"),
            "0(1,2)");
  // A hash literal as argument: the change goes into a temporary and is discarded.
  EXPECT_EQ(run("return sethashcount({1, 2}, 5) + gethashcount({1, 2});"), "2");
}

TEST(HashBuiltins, TooFewArguments) {
  for (const char* call : {"gethashcount()", "sethashcount(h)", "gethashkey(h)", "ishashkey(h)",
                           "hashdelete(h)", "hashfind(h)", "hashkeysort()", "hashsort()",
                           "hashcopy()", "hashmerge()", "hashtostring()", "stringtohash()"}) {
    std::string body = std::string("h = {1}; x = ") + call + ";";
    EXPECT_EQ(run(body), "<failed> | Too few arguments") << call;
  }
}
