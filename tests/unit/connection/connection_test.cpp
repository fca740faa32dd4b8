#include "connection/connection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "platform/thread.h"
#include "support/test_server.h"

namespace {

using Events = std::vector<std::string>;

// Records what the connection shows and delivers, as "line: ", "text: ", "state: " and "recv: "
// entries in order.
class FakePeer {
 public:
  FakePeer() {
    ConnectionPeer peer{};
    peer.context = this;
    peer.show_line = [](void* self, const char* text) { at(self)->add("line: " + shown(text)); };
    peer.show_text = [](void* self, const char* text) { at(self)->add("text: " + shown(text)); };
    peer.state_changed = [](void* self, std::int32_t state) {
      at(self)->add("state: " + std::to_string(state));
    };
    peer.deliver_line = [](void* self, const char* line) {
      FakePeer* fake = at(self);
      fake->add("recv: " + std::string(line));
      std::lock_guard<std::mutex> guard(fake->mutex_);
      if (fake->recv_fails_ == 0) return true;
      --fake->recv_fails_;
      return false;
    };
    peer.server_name = [](void* self) -> const char* {
      FakePeer* fake = at(self);
      return fake->has_name_ ? fake->name_.c_str() : nullptr;
    };
    peer.server_port = [](void* self) { return static_cast<std::int32_t>(at(self)->port_); };
    peer.thread_ending = [](void* self) { ++at(self)->threads_ended; };
    connection_init(&connection, peer);
  }
  ~FakePeer() {
    connection_stop(&connection);
    connection_free(&connection);
  }

  // Changed only while no connection thread runs (or under the engine lock).
  void set_server(const char* name, std::uint16_t port) {
    EngineLockGuard engine;
    has_name_ = name != nullptr;
    name_ = name != nullptr ? name : "";
    port_ = port;
  }
  // The next `count` "recv" calls fail.
  void fail_recv(int count) {
    std::lock_guard<std::mutex> guard(mutex_);
    recv_fails_ = count;
  }

  Events events() {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_;
  }
  // Waits (with a generous deadline against hangs) until an entry equal to `entry` was recorded.
  bool wait_for(const std::string& entry) {
    std::unique_lock<std::mutex> guard(mutex_);
    return changed_.wait_for(guard, std::chrono::seconds(20), [&] {
      for (const std::string& seen : events_)
        if (seen == entry) return true;
      return false;
    });
  }
  // Waits until the connection thread has ended.
  bool wait_idle() {
    for (int i = 0; i < 20000 && connection.running.load(); ++i)
      sleep_milliseconds(1);
    return !connection.running.load();
  }

  Connection connection;
  std::atomic<int> threads_ended{0};

 private:
  static FakePeer* at(void* self) { return static_cast<FakePeer*>(self); }
  // Status texts without their colour code prefix, tagged with the colour.
  static std::string shown(const char* text) {
    std::string bytes(text);
    if (bytes.size() >= 3 && bytes[0] == '\x03')
      return (bytes.compare(1, 2, "03") == 0 ? "green " : "red ") + bytes.substr(3);
    return bytes;
  }
  void add(const std::string& entry) {
    std::lock_guard<std::mutex> guard(mutex_);
    events_.push_back(entry);
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  Events events_;
  bool has_name_ = false;
  std::string name_;
  std::uint16_t port_ = 0;
  int recv_fails_ = 0;
};

class ConnectionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(sockets_start()); }
  static void TearDownTestSuite() { sockets_end(); }

  static std::string plain(const char* status) { return std::string(status + 3); }
  static std::string red(const char* status) { return "red " + plain(status); }

  FakePeer peer_;
};

const std::string RESOLVING = "line: green " + std::string(STATUS_RESOLVING + 3);
const std::string CONNECTING = "text: green " + std::string(STATUS_CONNECTING + 3);

TEST_F(ConnectionTest, LinesAreCutAcrossChunksAndTheServerClosingEndsWithoutError) {
  std::string long_line(RECEIVE_CHUNK * 2 + 100, 'L');
  TestServer server([&](SocketHandle client) {
    TestServer::send_all(client, "abc");
    sleep_milliseconds(50);
    TestServer::send_all(client, "def\r\n");
    peer_.wait_for("recv: abcdef");
    TestServer::send_all(client, "a\r\n\r\nb\n\rc\r");
    peer_.wait_for("recv: c");
    TestServer::send_all(client, long_line);
    sleep_milliseconds(50);
    TestServer::send_all(client, "\r\nlast\r\n");
    peer_.wait_for("recv: last");
    // What follows a NUL in a chunk is ignored; the bytes before it wait for a line break that
    // never comes.
    TestServer::send_all(client, std::string("x\0y\nz\n", 6));
    sleep_milliseconds(50);
    TestServer::send_all(client, std::string("\0w\n", 3));
    sleep_milliseconds(50);
  });
  ASSERT_TRUE(server.listening());
  peer_.set_server("127.0.0.1", server.port());
  ASSERT_TRUE(connection_start(&peer_.connection));
  ASSERT_TRUE(peer_.wait_for("state: 2"));
  ASSERT_TRUE(peer_.wait_idle());
  Events expected{RESOLVING, CONNECTING, "state: 1",           "recv: abcdef", "recv: a",
                  "recv: b", "recv: c",  "recv: " + long_line, "recv: last",   "state: 2"};
  EXPECT_EQ(peer_.events(), expected);
  EXPECT_FALSE(connection_active(&peer_.connection));
}

TEST_F(ConnectionTest, FailingRecvDropsTheRestOfTheChunkAndTheConnectionGoesOn) {
  TestServer server([&](SocketHandle client) {
    TestServer::send_all(client, "one\ntwo\nthree");
    peer_.wait_for("recv: one");
    TestServer::send_all(client, "four\nfive\n");
    sleep_milliseconds(100);
  });
  peer_.set_server("127.0.0.1", server.port());
  peer_.fail_recv(1);
  ASSERT_TRUE(connection_start(&peer_.connection));
  ASSERT_TRUE(peer_.wait_for("state: 2"));
  Events expected{RESOLVING,    CONNECTING,   "state: 1", "recv: one",
                  "recv: four", "recv: five", "state: 2"};
  EXPECT_EQ(peer_.events(), expected);
}

TEST_F(ConnectionTest, EmptyOrMissingServerNameFailsAndALaterConnectTriesAgain) {
  peer_.set_server("", 1);
  ASSERT_TRUE(connection_start(&peer_.connection));
  ASSERT_TRUE(peer_.wait_idle());
  peer_.set_server(nullptr, 1);
  ASSERT_TRUE(connection_start(&peer_.connection));
  ASSERT_TRUE(peer_.wait_idle());
  std::string no_name = "line: " + red(STATUS_NO_SERVER_NAME);
  EXPECT_EQ(peer_.events(), (Events{RESOLVING, no_name, RESOLVING, no_name}));
  // Each connection thread gives the engine its thread's leftovers back before it ends.
  EXPECT_EQ(peer_.threads_ended.load(), 2);

  TestServer server([](SocketHandle client) { TestServer::send_all(client, "hello\r\n"); });
  peer_.set_server("127.0.0.1", server.port());
  ASSERT_TRUE(connection_start(&peer_.connection));
  EXPECT_TRUE(peer_.wait_for("recv: hello"));
  EXPECT_TRUE(peer_.wait_idle());
  EXPECT_EQ(peer_.threads_ended.load(), 3);
}

TEST_F(ConnectionTest, UnresolvableNameAndRefusedConnectionShowTheirFailures) {
  // The empty label makes the resolver refuse the name without asking a name server.
  peer_.set_server("no-such-host..invalid", 1);
  ASSERT_TRUE(connection_start(&peer_.connection));
  ASSERT_TRUE(peer_.wait_idle());
  EXPECT_EQ(peer_.events(), (Events{RESOLVING, "line: " + red(STATUS_RESOLVE_FAILED)}));
  EXPECT_EQ(peer_.connection.server_address, 0u);

  UniqueSocket holder;
  std::uint16_t port = refusing_port(&holder);
  ASSERT_NE(port, 0);
  peer_.set_server("127.0.0.1", port);
  ASSERT_TRUE(connection_start(&peer_.connection));
  ASSERT_TRUE(peer_.wait_idle());
  Events events = peer_.events();
  ASSERT_EQ(events.size(), 5u);
  EXPECT_EQ(events[2], RESOLVING);
  EXPECT_EQ(events[3], CONNECTING);
  EXPECT_EQ(events[4], "line: " + red(STATUS_CONNECT_FAILED));
  // A failed attempt forgets the address.
  EXPECT_EQ(peer_.connection.server_address, 0u);
}

// The address of a name is kept between connections, but a changed name is resolved again.
TEST_F(ConnectionTest, ChangedServerNameIsResolvedAgain) {
  TestServer server([](SocketHandle) {});
  peer_.set_server("127.0.0.1", server.port());
  ASSERT_TRUE(connection_start(&peer_.connection));
  ASSERT_TRUE(peer_.wait_for("state: 2"));
  ASSERT_TRUE(peer_.wait_idle());
  EXPECT_EQ(peer_.connection.server_address, 0x7F000001u);
  peer_.set_server("no-such-host..invalid", server.port());
  ASSERT_TRUE(connection_start(&peer_.connection));
  ASSERT_TRUE(peer_.wait_idle());
  EXPECT_EQ(peer_.events().back(), "line: " + red(STATUS_RESOLVE_FAILED));
}

// What an earlier connection left without a line break does not begin the next one's first line.
TEST_F(ConnectionTest, NewConnectionStartsWithoutTheOldCarry) {
  {
    TestServer first([](SocketHandle client) { TestServer::send_all(client, "partial"); });
    peer_.set_server("127.0.0.1", first.port());
    ASSERT_TRUE(connection_start(&peer_.connection));
    ASSERT_TRUE(peer_.wait_for("state: 2"));
    ASSERT_TRUE(peer_.wait_idle());
  }
  TestServer second([](SocketHandle client) { TestServer::send_all(client, "next\r\n"); });
  peer_.set_server("127.0.0.1", second.port());
  ASSERT_TRUE(connection_start(&peer_.connection));
  ASSERT_TRUE(peer_.wait_for("recv: next"));
  ASSERT_TRUE(peer_.wait_idle());
  for (const std::string& event : peer_.events())
    EXPECT_EQ(event.find("partial"), std::string::npos) << event;
}

TEST_F(ConnectionTest, LongSendArrivesInOrderWithLineEnd) {
  std::string text;
  for (int i = 0; i < 600; ++i)
    text.push_back(static_cast<char>('0' + i % 10));
  std::string received;
  TestServer server([&](SocketHandle client) { received = TestServer::receive(client, 602 + 4); });
  peer_.set_server("127.0.0.1", server.port());
  EXPECT_FALSE(connection_send_line(&peer_.connection, "not yet"));
  ASSERT_TRUE(connection_start(&peer_.connection));
  ASSERT_TRUE(peer_.wait_for("state: 1"));
  EXPECT_TRUE(connection_send_line(&peer_.connection, text.c_str()));
  EXPECT_TRUE(connection_send_line(&peer_.connection, "ab"));
  server.join();
  EXPECT_EQ(received, text + "\r\nab\r\n");
  connection_stop(&peer_.connection);
}

TEST_F(ConnectionTest, DisconnectWhileIdleEndsTheConnection) {
  std::string rest;
  TestServer server([&](SocketHandle client) { rest = TestServer::receive_until_closed(client); });
  peer_.set_server("127.0.0.1", server.port());
  ASSERT_TRUE(connection_start(&peer_.connection));
  ASSERT_TRUE(peer_.wait_for("state: 1"));
  EXPECT_TRUE(connection_active(&peer_.connection));
  EXPECT_FALSE(connection_start(&peer_.connection));
  connection_stop(&peer_.connection);
  EXPECT_FALSE(peer_.connection.running.load());
  EXPECT_FALSE(connection_active(&peer_.connection));
  EXPECT_EQ(peer_.events().back(), "state: 2");
  server.join();
  EXPECT_EQ(rest, "");
  // Stopping again, or sending, without a connection does nothing.
  connection_stop(&peer_.connection);
  EXPECT_FALSE(connection_send_line(&peer_.connection, "gone"));
}

TEST_F(ConnectionTest, SendToAServerThatStopsReadingFailsAndLaterLinesStayWhole) {
  peer_.connection.send_stall_milliseconds = 300;
  bool release_server = false;
  std::mutex mutex;
  std::condition_variable released;
  std::string received;
  TestServer server([&](SocketHandle client) {
    {
      std::unique_lock<std::mutex> guard(mutex);
      released.wait(guard, [&] { return release_server; });
    }
    received = TestServer::receive_until_closed(client, 1u << 30);
  });
  peer_.set_server("127.0.0.1", server.port());
  ASSERT_TRUE(connection_start(&peer_.connection));
  ASSERT_TRUE(peer_.wait_for("state: 1"));
  std::string text(64 * 1024, 'x');
  bool failed = false;
  for (int i = 0; i < 4096 && !failed; ++i)
    failed = !connection_send_line(&peer_.connection, text.c_str());
  EXPECT_TRUE(failed);
  // The connection stays up after a failed send.
  EXPECT_TRUE(connection_active(&peer_.connection));
  {
    std::lock_guard<std::mutex> guard(mutex);
    release_server = true;
  }
  released.notify_all();
  // The server reads again: the line cut short by the stall is finished before the next one.
  EXPECT_TRUE(connection_send_line(&peer_.connection, "next"));
  connection_stop(&peer_.connection);
  server.join();
  std::size_t start = 0;
  std::size_t lines = 0;
  for (std::size_t end; (end = received.find("\r\n", start)) != std::string::npos;
       start = end + 2, ++lines) {
    std::string line = received.substr(start, end - start);
    ASSERT_TRUE(line == text || line == "next")
        << "line " << lines << " has " << line.size() << " bytes";
  }
  EXPECT_EQ(start, received.size());
  EXPECT_EQ(received.substr(received.size() - 6), "next\r\n");
}

}  // namespace
