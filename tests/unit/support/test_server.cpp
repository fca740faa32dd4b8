#include "support/test_server.h"

constexpr std::uint32_t LOOPBACK = 0x7F000001;

TestServer::TestServer(Steps steps) {
  listener_.reset(socket_open_tcp());
  std::uint32_t address = 0;
  if (!listener_ || !socket_bind(listener_.get(), LOOPBACK, 0) ||
      !socket_listen(listener_.get(), 4) ||
      !socket_local_address(listener_.get(), &address, &port_)) {
    listener_.reset();
    return;
  }
  SocketHandle listener = listener_.get();
  thread_ = std::thread([listener, steps] {
    // Gives up when no client comes, so that a failing test cannot hang here.
    if (socket_wait(listener, SocketWait::readable, 20000) != 1) return;
    UniqueSocket client(socket_accept(listener));
    if (client) steps(client.get());
  });
}

TestServer::~TestServer() {
  join();
}

void TestServer::join() {
  if (thread_.joinable()) thread_.join();
}

bool TestServer::send_all(SocketHandle client, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    std::int32_t count =
        socket_send(client, bytes.data() + done, static_cast<std::int32_t>(bytes.size() - done), 0);
    if (count <= 0) return false;
    done += static_cast<std::size_t>(count);
  }
  return true;
}

std::string TestServer::receive(SocketHandle client, std::size_t count) {
  std::string bytes;
  char buffer[4096];
  while (bytes.size() < count) {
    if (socket_wait(client, SocketWait::readable, 20000) != 1) break;
    std::int32_t got = socket_recv(client, buffer, sizeof buffer, 0);
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

std::string TestServer::receive_until_closed(SocketHandle client, std::size_t limit) {
  return receive(client, limit);
}

std::uint16_t refusing_port(UniqueSocket* holder) {
  holder->reset(socket_open_tcp());
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  if (*holder && socket_bind(holder->get(), LOOPBACK, 0))
    socket_local_address(holder->get(), &address, &port);
  return port;
}
