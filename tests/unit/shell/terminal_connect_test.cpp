// lumo-cli with --connect: a session against a scripted server on 127.0.0.1, as a bot whose input
// has ended, with the close sequence on Ctrl+C and a reload while connected.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "engine/engine.h"
#include "platform/thread.h"
#include "shell/cli/terminal.h"
#include "support/test_server.h"

namespace fs = std::filesystem;

namespace {

// Status texts as the plain output shows them (colour codes removed).
std::string shown(const char* status) {
  return std::string(status + 3);
}
const std::string CONNECTED_LINE =
    shown(STATUS_RESOLVING) + shown(STATUS_CONNECTING) + shown(STATUS_CONNECTED);
const std::string DISCONNECTED = shown(STATUS_DISCONNECTED);

// One lumo-cli session with --connect; the script's "server" and "port" come first.
class ConnectSession {
 public:
  ConnectSession() {
    engine_start();
    sockets_start();
    path_ = fs::temp_directory_path() /
            ("lumo-connect-" + std::to_string(std::random_device{}()) + ".lum");
    out_ = std::tmpfile();
  }
  ~ConnectSession() {
    std::fclose(out_);
    std::error_code ignored;
    fs::remove(path_, ignored);
    sockets_end();
  }

  void write_script(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  static std::string header(const char* server, std::uint16_t port) {
    return std::string("server = \"") + server + "\";\nport = " + std::to_string(port) + ";\n";
  }

  // Runs the session; the input ends at once unless `keep_input` (then only Ctrl+C ends it).
  std::string run(bool keep_input = false) {
    TerminalOptions options;
    options.plain = true;
    options.connect = true;
    Terminal terminal(options, out_);
    if (!keep_input) terminal.push_end();
    terminal_.store(&terminal);
    std::string path = path_.string();
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    terminal.session(path.c_str());
    terminal_.store(nullptr);
    std::string printed;
    std::rewind(out_);
    for (int c; (c = std::fgetc(out_)) != EOF;)
      printed.push_back(static_cast<char>(c));
    return printed;
  }
  // The running session's terminal, for a server thread to interrupt or reload it.
  Terminal* terminal() {
    Terminal* running = nullptr;
    for (int i = 0; i < 20000 && (running = terminal_.load()) == nullptr; ++i)
      sleep_milliseconds(1);
    return running;
  }

 private:
  fs::path path_;
  std::FILE* out_;
  std::atomic<Terminal*> terminal_{nullptr};
};

const char* const EVENTS =
    "function recv(line) { lineecho(0, \"recv \" + line); }\n"
    "function close() { lineecho(0, \"close\"); }\n"
    "function end() { lineecho(0, \"end\"); }\n";
// A "connect" that does nothing, so that only the events a test is about are reported.
const char* const NO_CONNECT = "function connect() {}\n";

}  // namespace

// With its input at an end the session goes on until the server closes; "close" is not called.
TEST(TerminalConnect, BotRunsUntilTheServerClosesAndNoCloseIsCalled) {
  ConnectSession session;
  TestServer server([](SocketHandle client) {
    sleep_milliseconds(100);
    TestServer::send_all(client, "abc");
    sleep_milliseconds(50);
    TestServer::send_all(client, "def\r\nx\r\n\r\ny\n");
    sleep_milliseconds(100);
  });
  session.write_script(ConnectSession::header("127.0.0.1", server.port()) + EVENTS + NO_CONNECT);
  EXPECT_EQ(session.run(),
            CONNECTED_LINE + "\nrecv abcdef\nrecv x\nrecv y\n" + DISCONNECTED + "\nend\n");
}

TEST(TerminalConnect, FailedAttemptsEndTheSessionWithTheirStatusLine) {
  UniqueSocket holder;
  std::uint16_t port = refusing_port(&holder);
  ConnectSession refused;
  refused.write_script(ConnectSession::header("127.0.0.1", port) + EVENTS + NO_CONNECT);
  EXPECT_EQ(refused.run(), shown(STATUS_RESOLVING) + shown(STATUS_CONNECTING) + "\n" +
                               shown(STATUS_CONNECT_FAILED) + "\nend\n");
  ConnectSession unnamed;
  unnamed.write_script(ConnectSession::header("", port) + EVENTS + NO_CONNECT);
  EXPECT_EQ(unnamed.run(),
            shown(STATUS_RESOLVING) + "\n" + shown(STATUS_NO_SERVER_NAME) + "\nend\n");
}

// A script without "recv": each chunk with a complete line gets one report, and the connection
// stays up.
TEST(TerminalConnect, ScriptWithoutRecvIsReportedPerChunk) {
  ConnectSession session;
  TestServer server([](SocketHandle client) {
    TestServer::send_all(client, "a\nb\n");
    sleep_milliseconds(300);
    TestServer::send_all(client, "c\n");
    sleep_milliseconds(100);
  });
  session.write_script(ConnectSession::header("127.0.0.1", server.port()) + NO_CONNECT);
  std::string printed = session.run();
  // An event never reaches the socket built-in of the same name: "recv" is not found, one
  // report per chunk.
  std::size_t reports = 0;
  for (std::size_t at = 0; (at = printed.find("### Error: ", at)) != std::string::npos; ++at)
    ++reports;
  EXPECT_EQ(reports, 2u) << printed;
  std::size_t not_found = 0;
  for (std::size_t at = 0; (at = printed.find("Function not Found", at)) != std::string::npos; ++at)
    ++not_found;
  EXPECT_EQ(not_found, 2u) << printed;
  EXPECT_NE(printed.find(DISCONNECTED), std::string::npos) << printed;
}

// Ctrl+C while connected: "end", then "close" (whose strsend still goes out), then the disconnect.
// A 600-byte line goes out whole, in order, with CR LF.
TEST(TerminalConnect, InterruptWhileConnectedRunsTheCloseSequence) {
  ConnectSession session;
  std::string received;
  TestServer server([&](SocketHandle client) {
    received = TestServer::receive(client, 602 + 7);
    if (Terminal* terminal = session.terminal()) terminal->interrupt();
    received += TestServer::receive_until_closed(client);
  });
  session.write_script(ConnectSession::header("127.0.0.1", server.port()) +
                       "function end() { lineecho(0, \"end\"); }\n"
                       "function connect() {\n"
                       "  s = \"\";\n"
                       "  for (i = 0; i < 60; i++) s = s + \"0123456789\";\n"
                       "  strsend(s);\n"
                       "  strsend(\"ready\");\n"
                       "}\n"
                       "function close() { lineecho(0, \"close\"); strsend(\"QUIT\"); }\n");
  std::string printed = session.run(true);
  server.join();
  std::string long_line;
  for (int i = 0; i < 60; ++i)
    long_line += "0123456789";
  EXPECT_EQ(received, long_line + "\r\nready\r\nQUIT\r\n");
  EXPECT_EQ(printed, CONNECTED_LINE + "\nend\nclose\n" + DISCONNECTED + "\n");
}

// A reload while connected keeps the connection; the next line reaches the new script's "recv".
TEST(TerminalConnect, ReloadWhileConnectedDeliversToTheNewScript) {
  ConnectSession session;
  std::string header;
  TestServer server([&](SocketHandle client) {
    TestServer::send_all(client, "one\r\n");
    if (TestServer::receive(client, 5) != "got\r\n") return;
    session.write_script(header + NO_CONNECT +
                         "function recv(line) { lineecho(0, \"new \" + line); }\n"
                         "strsend(\"reloaded\");\n");
    if (Terminal* terminal = session.terminal()) terminal->reload();
    if (TestServer::receive(client, 10) != "reloaded\r\n") return;
    TestServer::send_all(client, "two\r\n");
    sleep_milliseconds(100);
  });
  header = ConnectSession::header("127.0.0.1", server.port());
  session.write_script(header + NO_CONNECT +
                       "function recv(line) { lineecho(0, \"old \" + line); strsend(\"got\"); }\n");
  EXPECT_EQ(session.run(), CONNECTED_LINE + "\nold one\nnew two\n" + DISCONNECTED + "\n");
}
