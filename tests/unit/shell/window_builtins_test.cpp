// The window built-ins: message boxes without windows, what they do without a host or while a stop
// is in progress, and getcurrentchannel racing channel changes on the UI thread.
#include "builtins/window.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "engine/builtin_table.h"
#include "engine/engine.h"
#include "engine/script.h"
#include "fake_ui.h"
#include "support/script_runner.h"

TEST(MessageBox, EnterPressesTheDefaultButtonOfTheStylesSet) {
  EXPECT_EQ(messagebox_default_button(0), IDOK);
  EXPECT_EQ(messagebox_default_button(1), IDOK);
  EXPECT_EQ(messagebox_default_button(1 | 0x100), IDCANCEL);
  EXPECT_EQ(messagebox_default_button(2 | 0x200), IDIGNORE);
  EXPECT_EQ(messagebox_default_button(3 | 0x100), IDNO);
  EXPECT_EQ(messagebox_default_button(3 | 0x200), IDCANCEL);
  EXPECT_EQ(messagebox_default_button(4), IDYES);
  EXPECT_EQ(messagebox_default_button(5 | 0x100), IDCANCEL);
  EXPECT_EQ(messagebox_default_button(6 | 0x100), IDTRYAGAIN);
  // A default button the set does not have is its first; icon bits change nothing.
  EXPECT_EQ(messagebox_default_button(4 | 0x200), IDYES);
  EXPECT_EQ(messagebox_default_button(0 | 0x100), IDOK);
  EXPECT_EQ(messagebox_default_button(4 | 0x100 | 0x30), IDNO);
  // A style without a button set: no box, 0.
  EXPECT_EQ(messagebox_default_button(7), 0);
}

TEST(MessageBox, WithoutWindowsTheCaptionAndTextMakeOneLine) {
  std::FILE* stream = std::tmpfile();
  EXPECT_EQ(messagebox_without_windows(stream, "text", "caption", 4 | 0x100), IDNO);
  EXPECT_EQ(messagebox_without_windows(stream, "only text", nullptr, 0), IDOK);
  std::rewind(stream);
  std::string written;
  for (int c; (c = std::fgetc(stream)) != EOF;)
    written.push_back(static_cast<char>(c));
  std::fclose(stream);
  EXPECT_EQ(written, "caption: text\nonly text\n");
}

TEST(WindowBuiltins, ResultsWithoutAHost) {
  ScriptRunner runner("x = 1;");
  runner.script_set()->host = nullptr;
  runner.script_set()->next->host = nullptr;
  // The built-ins that need the window fail without a message; getcurrentchannel gives "".
  for (const char* call : {"strecho(0, \"x\")", "lineecho(0, \"x\")", "strsend(\"x\")",
                           "channeladd(\"#a\")", "channelmove(1)", "channeldelete(1)"})
    EXPECT_EQ(runner.eval(call), "<failed>") << call;
  EXPECT_EQ(runner.eval("getcurrentchannel()"), "");
  EXPECT_EQ(runner.eval("messagebox(0, \"asked\", \"lumo\", 1)"), "1");
}

TEST(WindowBuiltins, TooFewArgumentsAreReported) {
  ScriptRunner runner("x = 1;");
  for (const char* call : {"strecho(0)", "lineecho(0)", "strsend()", "channeladd()",
                           "channelmove()", "channeldelete()", "messagebox(0)"})
    EXPECT_EQ(runner.eval(call), "<failed>") << call;
  std::vector<std::string> errors;
  for (const std::string& line : runner.errors()) {
    if (line.rfind("### Error", 0) == 0) errors.push_back(line);
  }
  ASSERT_EQ(errors.size(), 7u);
  for (const std::string& line : errors)
    EXPECT_EQ(line.rfind("### Error: Too few arguments", 0), 0u) << line;
}

TEST(WindowBuiltins, NothingIsDeliveredWhileAStopIsInProgress) {
  engine_start();
  TestHost host;
  ScriptFixture scripts(host.host());
  Script* module = scripts.add_module("main");
  CallContext frame{};
  frame.script = module;
  // A call that stays active keeps the stop in progress until it ends.
  count_call(1);
  std::thread stopper([] { stop_all_scripts(nullptr); });
  while (stop_requested() == 0)
    std::this_thread::yield();
  ValueNode* handle = make_node();
  ValueNode* text = make_node();
  set_string_value(text->value, "x");
  handle->next = text;
  for (const char* name : {"_sfunc_strecho", "_sfunc_lineecho", "_sfunc_channeladd",
                           "_sfunc_strsend", "_sfunc_getcurrentchannel", "_sfunc_messagebox"}) {
    NativeFunction entry = find_builtin(name);
    ValueNode* arguments =
        std::string(name) == "_sfunc_channeladd" || std::string(name) == "_sfunc_strsend" ? text
                                                                                          : handle;
    EXPECT_EQ(call_native(&frame, entry, name, arguments), CALL_FAILED) << name;
  }
  count_call(-1);
  stopper.join();
  EXPECT_TRUE(host.deliveries().empty());
  free_chain(handle);
  release_frame(&frame);
}

TEST(WindowBuiltins, GetCurrentChannelRacesChannelChanges) {
  // Each reader counts names that are neither "" nor a whole channel name, and reports at its end.
  FakeUi ui(
      "function reader(n) {\n"
      "  bad = 0;\n"
      "  for (i = 0; i < 3000; i++) { c = getcurrentchannel();\n"
      "    if (c != \"\" && !(c =~ \"^#ch[0-9]+$\")) bad++; }\n"
      "  lineecho(0, \"bad \" + bad);\n"
      "}\n"
      "function start() { for (t = 0; t < 4; t++) &reader(t); }\n");
  AppContext* app = ui.app();
  app_start(app);
  // The UI thread makes, switches to and deletes channels while the readers run.
  int round = 0;
  ASSERT_TRUE(ui.serve_until([&] {
    std::string name = "#ch" + std::to_string(round++);
    std::int32_t handle = app_channel_add(app, name.c_str());
    app_channel_move(app, handle);
    if (round % 3 == 0) app_channel_move(app, 0);
    app_channel_delete(app, handle);
    return active_calls() == 0 && app->running_events.load() == 0;
  }));
  EXPECT_EQ(ui.server().text, "\r\nbad 0\r\nbad 0\r\nbad 0\r\nbad 0");
  EXPECT_GT(round, 1);
}
