// Random programs must show, report and return what they did when their outputs were recorded
// (then checked against the evaluator that ran their code as a tree).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/digest.h"
#include "support/random_script.h"
#include "support/script_runner.h"

namespace {

struct Outcome {
  bool loaded = false;
  std::string result;
  std::vector<std::string> shown;  // every delivery: request and text
};

Outcome run(const std::string& text) {
  Outcome outcome;
  {
    ScriptRunner runner(text.c_str());
    outcome.loaded = runner.loaded();
    if (outcome.loaded) outcome.result = runner.call("main");
    for (const Delivery& delivery : runner.host().deliveries())
      outcome.shown.push_back(std::to_string(delivery.request) + " " + delivery.text);
  }
  return outcome;
}

std::string describe(const Outcome& outcome) {
  std::string text = "result " + outcome.result + "\n";
  for (const std::string& line : outcome.shown)
    text += line + "\n";
  return text;
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
  std::uint32_t failed_runs = 0;
  for (std::uint32_t variant = 1; variant <= programs; ++variant) {
    std::string text = random_script(variant);
    Outcome outcome = run(text);
    ASSERT_TRUE(outcome.loaded) << text;
    if (outcome.result == "<failed>") ++failed_runs;
    std::string transcript = describe(outcome);
    std::uint64_t found =
        transcript.find("Stack overflow") != std::string::npos ? 0 : transcript_digest(transcript);
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
  // The programs must mostly run to their end, or they would check little.
  EXPECT_LT(failed_runs, programs / 4);
  if (record_to != nullptr) {
    std::FILE* file = std::fopen(record_to, "w");
    ASSERT_NE(file, nullptr);
    std::fputs(table.c_str(), file);
    std::fclose(file);
  }
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
