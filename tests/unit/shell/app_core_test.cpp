// The application core with a fake UI: requests and their results, channels, events with their
// threads and quiet flags, load and reload, connect and disconnect, and the close sequence.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "fake_ui.h"
#include "shell/channels.h"

namespace {

std::intptr_t text_data(const char* text) {
  return reinterpret_cast<std::intptr_t>(text);
}

// The texts of the error reports delivered so far (red lines to the server view).
std::vector<std::string> reports(FakeUi& ui) {
  std::vector<std::string> lines;
  for (const FakeRequest& request : ui.requests()) {
    if (request.request == UM_LINEECHO && request.text.rfind("\x03"
                                                             "04### Error",
                                                             0) == 0)
      lines.push_back(request.text.substr(3));
  }
  return lines;
}

// A connection that only records what the core asks of it.
struct FakeConnection {
  bool connected = false;
  bool send_ok = true;
  int starts = 0;
  int stops = 0;
  std::vector<std::string> sent;
  std::string server;
  std::int32_t port = 0;

  void attach(AppContext* app) {
    app->connection.state = this;
    app->connection.start = [](AppContext* app) {
      auto* self = static_cast<FakeConnection*>(app->connection.state);
      ++self->starts;
      self->server = app->server_name;
      self->port = app->port;
      return true;
    };
    app->connection.stop = [](AppContext* app) {
      auto* self = static_cast<FakeConnection*>(app->connection.state);
      ++self->stops;
      self->connected = false;
    };
    app->connection.is_connected = [](AppContext* app) {
      return static_cast<FakeConnection*>(app->connection.state)->connected;
    };
    app->connection.send_line = [](AppContext* app, const char* text) {
      auto* self = static_cast<FakeConnection*>(app->connection.state);
      self->sent.push_back(text);
      return self->send_ok;
    };
  }
};

}  // namespace

TEST(AppRequests, EchoesGoToTheViewThatTheHandleNames) {
  FakeUi ui("");
  app_start(ui.app());
  ASSERT_TRUE(ui.serve_until_idle());
  std::intptr_t handle = ui.request(UM_CHANNELADD, 0, text_data("#a"));
  ASSERT_GT(handle, 0);
  FakeView* a = ui.view(app_find_channel(ui.app(), static_cast<std::int32_t>(handle))->view);
  EXPECT_EQ(ui.request(UM_LINEECHO, 0, text_data("one")), 0);
  EXPECT_EQ(ui.request(UM_STRECHO, 0, text_data(" more")), 0);
  EXPECT_EQ(ui.request(UM_LINEECHO, handle, text_data("in a")), 0);
  // -1 is whichever view is current: the server view until the channel is made current.
  ui.request(UM_STRECHO, -1, text_data("+cur"));
  ui.request(UM_CHANNELMOVE, 0, handle);
  ui.request(UM_STRECHO, -1, text_data("+cur"));
  EXPECT_EQ(ui.server().text, "\r\none more+cur");
  EXPECT_EQ(a->text, "\r\nin a+cur");
  // A handle that names no channel writes nothing anywhere.
  ui.request(UM_LINEECHO, handle + 1, text_data("lost"));
  ui.request(UM_STRECHO, -2, text_data("lost"));
  EXPECT_EQ(ui.server().text, "\r\none more+cur");
  EXPECT_EQ(a->text, "\r\nin a+cur");
}

TEST(AppRequests, SendingNeedsAConnectionAndAFailedSendIsShown) {
  FakeUi ui("");
  FakeConnection connection;
  connection.attach(ui.app());
  app_start(ui.app());
  ASSERT_TRUE(ui.serve_until_idle());
  EXPECT_EQ(ui.request(UM_STRSEND, 0, text_data("PING")), 0);
  EXPECT_TRUE(connection.sent.empty());
  EXPECT_EQ(ui.server().text, "");
  connection.connected = true;
  ui.request(UM_STRSEND, 0, text_data("PING"));
  EXPECT_EQ(connection.sent, std::vector<std::string>{"PING"});
  EXPECT_EQ(ui.server().text, "");
  connection.send_ok = false;
  ui.request(UM_STRSEND, 0, text_data("PONG"));
  EXPECT_EQ(ui.server().text, std::string("\r\n") + STATUS_SEND_FAILED);
}

TEST(AppRequests, ConnectionStatesShowTheirLinesAndConnectIsFired) {
  FakeUi ui("function connect() { lineecho(0, \"connect ran\"); }\n");
  app_start(ui.app());
  ASSERT_TRUE(ui.serve_until_idle());
  ui.request(UM_CONNSTATE, 1, text_data(nullptr));
  ASSERT_TRUE(ui.serve_until_idle());
  ui.request(UM_CONNSTATE, 2, text_data(nullptr));
  EXPECT_EQ(ui.server().text,
            std::string(STATUS_CONNECTED) + "\r\nconnect ran\r\n" + STATUS_DISCONNECTED);
  // "connect" came from a thread of its own.
  for (const FakeRequest& request : ui.requests()) {
    if (request.text == "connect ran") {
      EXPECT_FALSE(request.from_ui_thread);
    }
  }
}

TEST(AppRequests, LinksGoToTheShellAndUnknownRequestsDoNothing) {
  FakeUi ui("");
  EXPECT_EQ(ui.request(UM_OPENLINK, 0, text_data("http://x/")), 0);
  EXPECT_EQ(ui.request(4242, 7, text_data("x")), 0);
  std::vector<std::string> operations = ui.operations();
  EXPECT_EQ(operations.back(), "link http://x/");
}

TEST(AppChannels, NamesIgnoreLetterCaseAndKeepTheOrderOfMaking) {
  FakeUi ui("");
  AppContext* app = ui.app();
  std::int32_t a = app_channel_add(app, "#Lumo");
  std::int32_t b = app_channel_add(app, "#other");
  EXPECT_EQ(app_channel_add(app, "#LUMO"), a);
  EXPECT_EQ(app_channel_add(app, "#lumo"), a);
  EXPECT_NE(a, b);
  EXPECT_EQ(ui.selector, (std::vector<std::string>{"(Server)", "#Lumo", "#other"}));
  // Only single-byte letters fold: the second byte of a double-byte character is compared exactly
  // ("\x83\x41" and "\x83\x61" are two different characters).
  std::int32_t katakana = app_channel_add(app, "\x83\x41");
  EXPECT_NE(app_channel_add(app, "\x83\x61"), katakana);
  // getcurrentchannel's view of it: the name exactly as given.
  app_channel_move(app, a);
  char* name = app->host.current_channel(&app->host);
  EXPECT_STREQ(name, "#Lumo");
  std::free(name);
}

TEST(AppChannels, NoChannelIsMadeWithoutAView) {
  FakeUi ui("");
  EXPECT_EQ(ui.request(UM_CHANNELADD, 0, text_data("#no view")), 0);
  EXPECT_EQ(ui.app()->channels, nullptr);
  EXPECT_EQ(ui.selector, std::vector<std::string>{"(Server)"});
  // The next channel gets the first handle: none was given out.
  EXPECT_EQ(ui.request(UM_CHANNELADD, 0, text_data("#a")), 1);
}

TEST(AppChannels, MakingCurrentShowsOneViewAndSelectsItsEntry) {
  FakeUi ui("");
  AppContext* app = ui.app();
  std::int32_t a = app_channel_add(app, "#a");
  std::int32_t b = app_channel_add(app, "#b");
  ui.clear_operations();
  app_channel_move(app, b);
  EXPECT_EQ(ui.operations(),
            (std::vector<std::string>{"select 2", "layout ##b", "show ##b 1", "show #(server) 0"}));
  ui.clear_operations();
  app_channel_move(app, a);
  EXPECT_EQ(ui.operations(),
            (std::vector<std::string>{"select 1", "layout ##a", "show ##a 1", "show ##b 0"}));
  // 0 and a handle that names nothing both show the server view.
  ui.clear_operations();
  app_channel_move(app, 99);
  EXPECT_EQ(ui.operations(), (std::vector<std::string>{"select 0", "layout #(server)",
                                                       "show #(server) 1", "show ##a 0"}));
  EXPECT_EQ(app->current_channel, nullptr);
  app_channel_move(app, a);
  app_channel_move(app, 0);
  EXPECT_EQ(app->current_view, &ui.server());
  EXPECT_EQ(ui.selected, 0);
  // Moving to the current view again hides nothing.
  ui.clear_operations();
  app_channel_move(app, 0);
  EXPECT_EQ(ui.operations(),
            (std::vector<std::string>{"select 0", "layout #(server)", "show #(server) 1"}));
}

TEST(AppChannels, DeletingTheCurrentChannelShowsTheServerView) {
  FakeUi ui("");
  AppContext* app = ui.app();
  std::int32_t a = app_channel_add(app, "#a");
  std::int32_t b = app_channel_add(app, "#b");
  app_channel_move(app, b);
  ui.clear_operations();
  app_channel_delete(app, b);
  EXPECT_EQ(ui.operations(),
            (std::vector<std::string>{"remove 2", "select 0", "layout #(server)",
                                      "show #(server) 1", "show ##b 0", "destroy ##b"}));
  EXPECT_EQ(app->current_channel, nullptr);
  // Deleting another channel leaves the current view as it is.
  app_channel_move(app, a);
  std::int32_t c = app_channel_add(app, "#c");
  ui.clear_operations();
  app_channel_delete(app, c);
  EXPECT_EQ(ui.operations(), (std::vector<std::string>{"remove 2", "destroy ##c"}));
  EXPECT_EQ(app->current_channel, app_find_channel(app, a));
}

TEST(AppChannels, DeletingTheFirstChannelKeepsTheOthers) {
  FakeUi ui("");
  AppContext* app = ui.app();
  std::int32_t a = app_channel_add(app, "#a");
  std::int32_t b = app_channel_add(app, "#b");
  std::int32_t c = app_channel_add(app, "#c");
  app_channel_delete(app, a);
  EXPECT_EQ(ui.selector, (std::vector<std::string>{"(Server)", "#b", "#c"}));
  ASSERT_NE(app->channels, nullptr);
  EXPECT_STREQ(app->channels->name, "#b");
  EXPECT_STREQ(app->channels->next->name, "#c");
  EXPECT_EQ(app->channels->next->next, nullptr);
  app_request(app, UM_LINEECHO, static_cast<std::uintptr_t>(c), text_data("still here"));
  EXPECT_EQ(ui.view(app_find_channel(app, c)->view)->text, "\r\nstill here");
  // The user's switch uses the entries as they are now: entry 1 is #b.
  app_switch_to_entry(app, 1);
  EXPECT_EQ(app->current_channel, app_find_channel(app, b));
  EXPECT_EQ(ui.operations().back(), "focus");
}

TEST(AppChannels, StaleHandlesNeverReachAnotherChannel) {
  FakeUi ui("");
  AppContext* app = ui.app();
  std::int32_t a = app_channel_add(app, "#a");
  app_channel_delete(app, a);
  // The same name again is a new channel with a new handle.
  std::int32_t again = app_channel_add(app, "#a");
  EXPECT_NE(again, a);
  EXPECT_EQ(app_find_channel(app, a), nullptr);
  ui.clear_operations();
  app_channel_delete(app, a);  // nothing
  EXPECT_TRUE(ui.operations().empty());
  app_request(app, UM_STRECHO, static_cast<std::uintptr_t>(a), text_data("stale"));
  EXPECT_EQ(ui.view(app_find_channel(app, again)->view)->text, "");
  EXPECT_EQ(ui.server().text, "");
  app_channel_move(app, again);
  app_channel_move(app, a);  // as for 0
  EXPECT_EQ(app->current_channel, nullptr);
  EXPECT_EQ(ui.selected, 0);
}

TEST(AppEvents, ThreadsAndQuietFlagsOfEveryEvent) {
  FakeUi ui(
      "function start() { lineecho(0, \"start\"); }\n"
      "function send(l) { lineecho(0, \"send \" + l); }\n"
      "function recv(l) { lineecho(0, \"recv \" + l); }\n"
      "function close() { lineecho(0, \"close\"); }\n"
      "function end() { lineecho(0, \"end\"); }\n");
  FakeConnection connection;
  connection.attach(ui.app());
  app_start(ui.app());
  ASSERT_TRUE(ui.serve_until_idle());
  app_send_line(ui.app(), "");
  ASSERT_TRUE(ui.serve_until_idle());
  std::atomic<bool> received{false};
  std::thread connection_thread([&] { received = app_recv_line(ui.app(), "PING :x"); });
  ASSERT_TRUE(ui.serve_until([&] { return received.load(); }));
  connection_thread.join();
  connection.connected = true;
  ASSERT_TRUE(app_close(ui.app()));
  std::vector<std::pair<std::string, bool>> seen;
  for (const FakeRequest& request : ui.requests()) {
    if (request.request == UM_LINEECHO) seen.emplace_back(request.text, request.from_ui_thread);
  }
  // start and send on threads of their own, recv on the connection's, close and end on the UI
  // thread.
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, bool>>{{"start", false},
                                                             {"send ", false},
                                                             {"recv PING :x", false},
                                                             {"end", true},
                                                             {"close", true}}));
  EXPECT_EQ(connection.stops, 1);
}

TEST(AppEvents, MissingFunctionsAreReportedUnlessTheEventIsQuiet) {
  FakeUi ui("x = 1;\n");
  FakeConnection connection;
  connection.attach(ui.app());
  app_start(ui.app());  // "start": quiet
  ASSERT_TRUE(ui.serve_until_idle());
  EXPECT_TRUE(reports(ui).empty());
  app_send_line(ui.app(), "hi");
  ASSERT_TRUE(ui.serve_until_idle());
  EXPECT_EQ(reports(ui).size(), 1u);
  app_request(ui.app(), UM_CONNSTATE, 1, 0);  // "connect": reported
  ASSERT_TRUE(ui.serve_until_idle());
  EXPECT_EQ(reports(ui).size(), 2u);
  EXPECT_FALSE(app_recv_line(ui.app(), "line"));  // "recv": reported, and the call failed
  EXPECT_EQ(reports(ui).size(), 3u);
  connection.connected = true;
  EXPECT_TRUE(app_close(ui.app()));  // "end": quiet; "close": reported
  // "send", "connect" and "recv" without a script function reach the socket built-ins of those
  // names, which fail in their own way; "close" names no built-in.
  std::vector<std::string> lines = reports(ui);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[3].rfind("### Error: Function not Found", 0), 0u) << lines[3];
}

TEST(AppClose, EndReturningOneKeepsEverythingOpen) {
  for (const char* answer : {"1", "\"1\""}) {
    FakeUi ui(std::string("function end() { lineecho(0, \"asked\"); return ") + answer + "; }\n");
    FakeConnection connection;
    connection.attach(ui.app());
    app_start(ui.app());
    std::int32_t a = app_channel_add(ui.app(), "#a");
    connection.connected = true;
    ui.clear_operations();
    EXPECT_FALSE(app_close(ui.app())) << answer;
    EXPECT_TRUE(ui.operations().empty());
    EXPECT_EQ(connection.stops, 0);
    EXPECT_NE(app_find_channel(ui.app(), a), nullptr);
    EXPECT_NE(ui.app()->script_set, nullptr);
    EXPECT_EQ(ui.server().text, "\r\nasked");
    connection.connected = false;
  }
}

TEST(AppClose, OtherAnswersCloseAndReleaseEverythingLastEntryFirst) {
  for (const char* end : {"function end() { return 2; }", "function end() { return \"x\"; }",
                          "function end() { }", ""}) {
    FakeUi ui(end);
    app_start(ui.app());
    app_channel_add(ui.app(), "#a");
    app_channel_add(ui.app(), "#b");
    ui.clear_operations();
    EXPECT_TRUE(app_close(ui.app())) << end;
    EXPECT_EQ(ui.operations(), (std::vector<std::string>{"remove 2", "remove 1", "remove 0",
                                                         "destroy ##a", "destroy ##b"}));
    EXPECT_EQ(ui.app()->script_set, nullptr);
    EXPECT_EQ(ui.app()->channels, nullptr);
  }
}

TEST(AppLoad, ReloadKeepsTheChannelsAndDoesNotStartAgain) {
  FakeUi ui(
      "function start() { lineecho(0, \"start\"); }\n"
      "lineecho(0, \"top 1\");\n");
  AppContext* app = ui.app();
  app_start(app);
  ASSERT_TRUE(ui.serve_until_idle());
  std::int32_t a = app_channel_add(app, "#a");
  app_channel_move(app, a);
  ui.write_main("lineecho(0, \"top 2\"); function recv(l) { lineecho(0, \"new \" + l); }\n");
  app_load(app);
  ASSERT_TRUE(ui.serve_until_idle());
  EXPECT_EQ(ui.server().text, "\r\ntop 1\r\nstart\r\ntop 2");
  EXPECT_EQ(app->current_channel, app_find_channel(app, a));
  EXPECT_EQ(ui.selector, (std::vector<std::string>{"(Server)", "#a"}));
  // The next received line goes to the new script.
  std::thread connection([&] { app_recv_line(app, "x"); });
  ASSERT_TRUE(ui.serve_until([&] { return ui.server().text.ends_with("new x"); }));
  connection.join();
}

TEST(AppLoad, InterruptStopsAScriptThatNeverEnds) {
  FakeUi ui("function start() { lineecho(0, \"spin\"); while (1) { } }\n");
  app_start(ui.app());
  ASSERT_TRUE(ui.serve_until([&] { return ui.server().text == "\r\nspin"; }));
  app_interrupt(ui.app());
  EXPECT_EQ(active_calls(), 0);
  EXPECT_TRUE(ui.serve_until_idle());
  EXPECT_TRUE(reports(ui).empty());
}

TEST(AppCommands, ConnectReadsServerAndPortAndDisconnectCallsClose) {
  FakeUi ui(
      "server = \"127.0.0.1\"; port = \"6667\";\n"
      "function close() { lineecho(0, \"close\"); }\n");
  FakeConnection connection;
  connection.attach(ui.app());
  app_start(ui.app());
  app_disconnect(ui.app());  // not connected: no "close"
  EXPECT_EQ(connection.stops, 0);
  app_connect(ui.app());
  EXPECT_EQ(connection.starts, 1);
  EXPECT_EQ(connection.server, "127.0.0.1");
  EXPECT_EQ(connection.port, 6667);
  connection.connected = true;
  app_disconnect(ui.app());
  EXPECT_EQ(connection.stops, 1);
  EXPECT_EQ(ui.server().text, "\r\nclose");
}

TEST(AppCommands, ConnectWithoutServerOrPortDoesNothing) {
  for (const char* globals : {"port = 1;", "server = \"h\";"}) {
    FakeUi ui(globals);
    FakeConnection connection;
    connection.attach(ui.app());
    app_start(ui.app());
    app_connect(ui.app());
    EXPECT_EQ(connection.starts, 0) << globals;
    EXPECT_EQ(ui.app()->server_name, nullptr);
  }
}

TEST(AppCommands, ClearEmptiesOnlyTheCurrentView) {
  FakeUi ui("");
  AppContext* app = ui.app();
  std::int32_t a = app_channel_add(app, "#a");
  app_request(app, UM_LINEECHO, 0, text_data("server"));
  app_request(app, UM_LINEECHO, static_cast<std::uintptr_t>(a), text_data("a"));
  app_channel_move(app, a);
  app_clear_current_view(app);
  EXPECT_EQ(ui.view(app_find_channel(app, a)->view)->text, "");
  EXPECT_EQ(ui.server().text, "\r\nserver");
}
