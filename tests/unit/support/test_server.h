// A scripted server for connection tests: listens on 127.0.0.1 at an ephemeral port, accepts one
// client on a thread of its own and runs the test's steps against it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "platform/socket.h"

class TestServer {
 public:
  using Steps = std::function<void(SocketHandle client)>;

  // Listens at once; the steps run once a client has connected, then the client is closed.
  explicit TestServer(Steps steps);
  ~TestServer();

  std::uint16_t port() const { return port_; }
  bool listening() const { return static_cast<bool>(listener_); }
  // Waits until the steps have run and the client is closed.
  void join();

  // Helpers for steps.
  static bool send_all(SocketHandle client, const std::string& bytes);
  // Reads until `count` bytes have arrived or the peer closes; returns what arrived.
  static std::string receive(SocketHandle client, std::size_t count);
  // Reads until the peer closes (or `limit` bytes).
  static std::string receive_until_closed(SocketHandle client, std::size_t limit = 1 << 20);

 private:
  UniqueSocket listener_;
  std::uint16_t port_ = 0;
  std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens: `holder` keeps it bound (and refusing) while it lives.
std::uint16_t refusing_port(UniqueSocket* holder);
