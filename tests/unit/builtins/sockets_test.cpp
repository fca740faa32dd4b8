// A stop of all script code ends a script that waits in a socket built-in, within about a second:
// recv, select, accept and connect each wait in one-second polls.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "platform/socket.h"
#include "platform/thread.h"
#include "support/script_runner.h"

namespace {

constexpr std::uint32_t LOOPBACK = 0x7F000001;

const char* const kScript = R"(
function in_recv(port) {
  s = socket();
  if (connect(s, "127.0.0.1", port) != 0) return "connect failed";
  error("ready");
  recv(s, v);
  return "recv returned";
}
function in_select(port) {
  s = socket();
  if (connect(s, "127.0.0.1", port) != 0) return "connect failed";
  error("ready");
  select(s, 60);
  return "select returned";
}
function in_accept() {
  l = socket();
  bind(l, "127.0.0.1", 0);
  listen(l, 1);
  error("ready " + getsockport(l));
  accept(l);
  return "accept returned";
}
function in_connect(port) {
  s = socket();
  error("ready");
  connect(s, "127.0.0.1", port);
  return "connect returned";
}
)";

class SocketStop : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sockets_start()); }
  void TearDown() override { sockets_end(); }

  UniqueSocket listen_on_loopback(std::int32_t backlog, std::uint16_t* port) {
    UniqueSocket listener(socket_open_tcp());
    EXPECT_TRUE(socket_bind(listener.get(), LOOPBACK, 0));
    EXPECT_TRUE(socket_listen(listener.get(), backlog));
    std::uint32_t address = 0;
    EXPECT_TRUE(socket_local_address(listener.get(), &address, port));
    return listener;
  }

  // Calls `function` on a script thread; once it has said "ready" and had time to block, stops
  // all scripts. `unblock` runs if the stop has not ended the call after ten seconds, so that a
  // fault fails the test instead of hanging it. Gives the call's result and the stop's duration.
  std::string stop_while_waiting(ScriptRunner& runner, const char* function,
                                 const std::vector<std::string>& arguments,
                                 const std::function<void()>& unblock, double* seconds) {
    std::string result;
    std::thread script([&] { result = runner.call(function, arguments); });
    while (runner.errors().empty())
      sleep_milliseconds(10);
    sleep_milliseconds(300);
    std::atomic<bool> stopped{false};
    std::thread watchdog([&] {
      for (int i = 0; i < 1000 && !stopped.load(); ++i)
        sleep_milliseconds(10);
      if (!stopped.load()) unblock();
    });
    auto begin = std::chrono::steady_clock::now();
    stop_all_scripts(runner.host().host());
    *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    stopped.store(true);
    watchdog.join();
    script.join();
    std::vector<std::string> lines = runner.errors();
    EXPECT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("ready", 0), 0u);
    return result;
  }
};

TEST_F(SocketStop, EndsRecv) {
  ScriptRunner runner(kScript);
  ASSERT_TRUE(runner.loaded());
  std::uint16_t port = 0;
  UniqueSocket listener = listen_on_loopback(1, &port);
  UniqueSocket peer;
  std::thread acceptor([&] { peer.reset(socket_accept(listener.get())); });
  double seconds = 0;
  std::string result = stop_while_waiting(
      runner, "in_recv", {std::to_string(port)}, [&] { peer.reset(); }, &seconds);
  acceptor.join();
  EXPECT_EQ(result, "<failed>");
  EXPECT_LT(seconds, 5.0);
}

TEST_F(SocketStop, EndsSelect) {
  ScriptRunner runner(kScript);
  std::uint16_t port = 0;
  UniqueSocket listener = listen_on_loopback(1, &port);
  UniqueSocket peer;
  std::thread acceptor([&] { peer.reset(socket_accept(listener.get())); });
  double seconds = 0;
  std::string result = stop_while_waiting(
      runner, "in_select", {std::to_string(port)}, [&] { socket_send(peer.get(), "x", 1, 0); },
      &seconds);
  acceptor.join();
  EXPECT_EQ(result, "<failed>");
  EXPECT_LT(seconds, 5.0);
}

TEST_F(SocketStop, EndsAccept) {
  ScriptRunner runner(kScript);
  // The script names its port in its "ready" line.
  auto connect_to_script = [&] {
    std::uint16_t port = static_cast<std::uint16_t>(std::stoi(runner.errors()[0].substr(6)));
    UniqueSocket client(socket_open_tcp());
    socket_connect(client.get(), LOOPBACK, port);
  };
  double seconds = 0;
  std::string result = stop_while_waiting(runner, "in_accept", {}, connect_to_script, &seconds);
  EXPECT_EQ(result, "<failed>");
  EXPECT_LT(seconds, 5.0);
}

TEST_F(SocketStop, EndsConnect) {
  ScriptRunner runner(kScript);
  // A listener whose queue is full and never accepted from: further connects wait.
  std::uint16_t port = 0;
  UniqueSocket listener = listen_on_loopback(0, &port);
  std::vector<UniqueSocket> fillers;
  bool full = false;
  for (int i = 0; i < 16 && !full; ++i) {
    UniqueSocket filler(socket_open_tcp());
    ASSERT_TRUE(socket_set_blocking(filler.get(), false));
    ConnectState state = socket_connect_start(filler.get(), LOOPBACK, port);
    if (state == ConnectState::pending) state = socket_connect_wait(filler.get(), 300);
    full = state == ConnectState::pending;
    fillers.push_back(std::move(filler));
  }
  ASSERT_TRUE(full) << "the listener's queue never filled";
  double seconds = 0;
  std::string result = stop_while_waiting(
      runner, "in_connect", {std::to_string(port)}, [&] { listener.reset(); }, &seconds);
  EXPECT_EQ(result, "<failed>");
  EXPECT_LT(seconds, 5.0);
}

}  // namespace
