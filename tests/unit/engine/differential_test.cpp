// The same programs must run alike through the general evaluator alone and as they normally run
// (compiled bodies and top levels): the same lines shown, the same reports and the same result.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/random_script.h"
#include "support/script_runner.h"

namespace {

struct Outcome {
  bool loaded = false;
  std::string result;
  std::vector<std::string> shown;  // every delivery: request and text

  bool operator==(const Outcome&) const = default;
};

Outcome run(const std::string& text, bool general_only) {
  bool saved = GeneralEvaluationOnly;
  GeneralEvaluationOnly = general_only;
  Outcome outcome;
  {
    ScriptRunner runner(text.c_str());
    outcome.loaded = runner.loaded();
    if (outcome.loaded) outcome.result = runner.call("main");
    for (const Delivery& delivery : runner.host().deliveries())
      outcome.shown.push_back(std::to_string(delivery.request) + " " + delivery.text);
  }
  GeneralEvaluationOnly = saved;
  return outcome;
}

std::string describe(const Outcome& outcome) {
  std::string text = "result " + outcome.result + "\n";
  for (const std::string& line : outcome.shown)
    text += line + "\n";
  return text;
}

// FNV-1a over a transcript: small enough to keep one per program in the source.
std::uint64_t digest(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  return hash;
}

// What the random programs 1 to 400 showed and returned when they were recorded, 0 for a program
// whose outcome depends on the native stack (it ran out of call depth).
constexpr std::uint64_t kRecorded[] = {
#include "random_program_outputs.inc"
};

}  // namespace

TEST(Differential, RandomProgramsGiveTheirRecordedOutputs) {
  // LUMO_RECORD_OUTPUTS=file writes the table anew, for a changed generator or language.
  const char* record_to = std::getenv("LUMO_RECORD_OUTPUTS");
  std::string table;
  const std::uint32_t programs = sizeof kRecorded / sizeof kRecorded[0];
  for (std::uint32_t variant = 1; variant <= programs; ++variant) {
    std::string text = random_script(variant);
    std::string transcript = describe(run(text, false));
    std::uint64_t found =
        transcript.find("Stack overflow") != std::string::npos ? 0 : digest(transcript);
    if (record_to != nullptr) {
      char line[32];
      std::snprintf(line, sizeof line, "0x%016llxull,\n", static_cast<unsigned long long>(found));
      table += line;
      continue;
    }
    if (kRecorded[variant - 1] == 0) continue;
    EXPECT_EQ(found, kRecorded[variant - 1]) << "program " << variant << ":\n"
                                             << text << "\n"
                                             << transcript;
  }
  if (record_to != nullptr) {
    std::FILE* file = std::fopen(record_to, "w");
    ASSERT_NE(file, nullptr);
    std::fputs(table.c_str(), file);
    std::fclose(file);
  }
}

TEST(Differential, RandomProgramsRunAlikeWithAndWithoutShortcuts) {
  // LUMO_DIFFERENTIAL_PROGRAMS=n runs n programs instead, for a longer search.
  const char* count_text = std::getenv("LUMO_DIFFERENTIAL_PROGRAMS");
  const std::uint32_t programs =
      count_text != nullptr ? std::strtoul(count_text, nullptr, 10) : 400;
  int failed_runs = 0;
  for (std::uint32_t variant = 1; variant <= programs; ++variant) {
    std::string text = random_script(variant);
    Outcome general = run(text, true);
    Outcome shortcuts = run(text, false);
    ASSERT_TRUE(general.loaded) << text;
    if (general.result == "<failed>") ++failed_runs;
    ASSERT_EQ(describe(general), describe(shortcuts)) << "program " << variant << ":\n" << text;
  }
  // The programs must mostly run to their end, or they would compare little.
  EXPECT_LT(failed_runs, static_cast<int>(programs / 4));
}

TEST(Differential, TheGeneratorMakesVariedPrograms) {
  // Every kind of statement and call the comparison relies on turns up within a few programs.
  std::string all;
  for (std::uint32_t variant = 1; variant <= 40; ++variant)
    all += random_script(variant);
  for (const char* part :
       {"for (",       "while (",       "do {",         "switch (",     "break;",
        "continue;",   "var v",         "num0(",        "num2(",        "bump(",
        "%p%",         "h[(",           "lineecho",     " / ",          " << ",
        "keep0(",      "instr(",        "case \"ab\"",  "h[\"x\"]",     "plain0(",
        "dflt0(",      "case (",        "break 1;",     "gethashkey({", "{, ",
        "{w = ",       "%h[1]%(x",      "if (\"%p%b\"", "(%h[(",        "\"^%v",
        "++)%|%bump(", "%keep0(c)%",    "%h[bump(",     " = h[(",       "case (c = bump(",
        " & 3]\n",     " + 1\n",        " + 1 } if (",  " a = 7; }",    "var .v",
        "var &v",      "}[1]%|%{bump(", "}[1] & 3:\n",  "dflt1(",       "pat1(\"<\" + "}) {
    EXPECT_NE(all.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(random_script(7), random_script(7));
}
