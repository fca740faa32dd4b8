#include "engine/error_report.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "support/test_host.h"

namespace {

const char kText[] =
    "function start() {\n"
    "  x = 1;\n"
    "\t \tf(x);\r\n"
    "}\n";

struct ErrorReport : testing::Test {
  TestHost test_host;
  ScriptFixture scripts{test_host.host()};
  Script* main_module = scripts.add_module("main", kText);
  const char* text = main_module->text;

  std::string only_line() {
    auto lines = test_host.error_lines();
    EXPECT_EQ(lines.size(), 1u);
    return lines.empty() ? "" : lines[0];
  }
};

}  // namespace

TEST_F(ErrorReport, PositionInTheModuleQuotesLineNumberAndSourceLine) {
  CallContext frame = make_frame(main_module, "start");
  report_error(&frame, "Divide by ZERO", text + std::string(kText).find("f(x)") + 2, 0);
  // Leading blanks and tabs are skipped; the line ends before CR.
  EXPECT_EQ(only_line(), "### Error: Divide by ZERO : main.start:(3) : f(x);");
  auto deliveries = test_host.deliveries();
  ASSERT_EQ(deliveries.size(), 1u);
  EXPECT_EQ(deliveries[0].request, UM_LINEECHO);
  EXPECT_EQ(deliveries[0].word, 0u);  // the server view
  EXPECT_EQ(deliveries[0].text.substr(0, 3),
            "\x03"
            "04");
}

TEST_F(ErrorReport, TheFirstLineAndTheTerminatingNulArePositionsToo) {
  CallContext frame = make_frame(main_module, "start");
  report_error(&frame, "Sentence error", text, 0);
  report_error(&frame, "Sentence error", text + std::strlen(text), 0);
  auto lines = test_host.error_lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "### Error: Sentence error : main.start:(1) : function start() {");
  // At the end, the last LF starts the line and nothing follows it.
  EXPECT_EQ(lines[1], "### Error: Sentence error : main.start:(5) : ");
}

TEST_F(ErrorReport, OtherDetailIsQuotedAsText) {
  CallContext frame = make_frame(main_module, "start");
  report_error(&frame, "Function not Found", "nosuch", 0);
  EXPECT_EQ(only_line(), "### Error: Function not Found : main.start : nosuch");
}

TEST_F(ErrorReport, NoDetail) {
  CallContext frame = make_frame(main_module, "main");
  report_error(&frame, "Alloc failed", nullptr, 0);
  EXPECT_EQ(only_line(), "### Error: Alloc failed : main.main");
}

TEST_F(ErrorReport, TraceLineOfTheCallingFunction) {
  CallContext frame = make_frame(main_module, "start");
  report_error(&frame, nullptr, text + std::string(kText).find("x = 1"), 1);
  EXPECT_EQ(only_line(), "        at main.start:(2) : x = 1;");
}

TEST_F(ErrorReport, AFrameWithoutFunctionNameNamesTheModuleOnly) {
  CallContext thread_frame = make_frame(main_module, nullptr);
  report_error(&thread_frame, "Function not Found", "start", 0);
  EXPECT_EQ(only_line(), "### Error: Function not Found : main : start");
}

TEST_F(ErrorReport, NothingWithoutContextOrHostOrDuringAStop) {
  report_error(nullptr, "Alloc failed", nullptr, 0);
  ScriptFixture hostless;
  Script* silent = hostless.add_module("silent");
  CallContext frame = make_frame(silent, "f");
  report_error(&frame, "Alloc failed", nullptr, 0);  // dropped, no crash
  EXPECT_TRUE(test_host.error_lines().empty());

  // While a stop is in progress (simulated by an active call that the stop waits for), reports and
  // the built-in `error` stay silent.
  count_call(1);
  std::thread stopper([] { stop_all_scripts(); });
  while (!stop_requested())
    std::this_thread::yield();
  CallContext main_frame = make_frame(main_module, "start");
  report_error(&main_frame, "Alloc failed", nullptr, 0);
  count_call(-1);
  stopper.join();
  EXPECT_TRUE(test_host.error_lines().empty());
}

TEST_F(ErrorReport, FormatsWithoutDelivering) {
  CallContext frame = make_frame(main_module, "start");
  char* line = format_error_line(&frame, "Too few arguments", "len", 0);
  EXPECT_STREQ(line, "### Error: Too few arguments : main.start : len");
  release(&line);
  EXPECT_EQ(format_error_line(nullptr, "x", nullptr, 0), nullptr);
  EXPECT_TRUE(test_host.error_lines().empty());
}
