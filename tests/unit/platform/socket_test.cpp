// The platform sockets on the loopback interface: a listener, a connect in steps, data both ways,
// waits and address text.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/socket.h"

namespace {

constexpr std::uint32_t LOOPBACK = 0x7F000001;

class SocketTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(sockets_start()); }
  void TearDown() override { sockets_end(); }

  // A listener on 127.0.0.1 at a port the system chooses.
  UniqueSocket listen_on_loopback(std::uint16_t* port) {
    UniqueSocket listener(socket_open_tcp());
    EXPECT_TRUE(listener);
    EXPECT_TRUE(socket_bind(listener.get(), LOOPBACK, 0));
    EXPECT_TRUE(socket_listen(listener.get(), 4));
    std::uint32_t address = 0;
    EXPECT_TRUE(socket_local_address(listener.get(), &address, port));
    EXPECT_EQ(address, LOOPBACK);
    EXPECT_NE(*port, 0);
    return listener;
  }
};

TEST_F(SocketTest, DottedAddressText) {
  EXPECT_EQ(parse_dotted_address("127.0.0.1"), LOOPBACK);
  EXPECT_EQ(parse_dotted_address("10.1.2.3"), 0x0A010203u);
  EXPECT_EQ(parse_dotted_address("255.255.255.255"), NO_IPV4_ADDRESS);
  EXPECT_EQ(parse_dotted_address("not an address"), NO_IPV4_ADDRESS);
  EXPECT_EQ(parse_dotted_address("1.2.3.256"), NO_IPV4_ADDRESS);
  char text[16];
  format_dotted_address(LOOPBACK, text);
  EXPECT_STREQ(text, "127.0.0.1");
  format_dotted_address(0xFFFFFFFEu, text);
  EXPECT_STREQ(text, "255.255.255.254");
}

TEST_F(SocketTest, ConnectInStepsThenDataBothWays) {
  std::uint16_t port = 0;
  UniqueSocket listener = listen_on_loopback(&port);
  EXPECT_EQ(socket_wait(listener.get(), SocketWait::readable, 0), 0);

  UniqueSocket client(socket_open_tcp());
  ASSERT_TRUE(socket_set_blocking(client.get(), false));
  ConnectState state = socket_connect_start(client.get(), LOOPBACK, port);
  for (int i = 0; i < 50 && state == ConnectState::pending; ++i)
    state = socket_connect_wait(client.get(), 100);
  ASSERT_EQ(state, ConnectState::connected);
  ASSERT_TRUE(socket_set_blocking(client.get(), true));

  ASSERT_EQ(socket_wait(listener.get(), SocketWait::readable, 5000), 1);
  UniqueSocket server(socket_accept(listener.get()));
  ASSERT_TRUE(server);
  EXPECT_TRUE(socket_is_socket(server.get()));
  EXPECT_TRUE(socket_set_keepalive(server.get(), true));

  std::uint32_t address = 0;
  std::uint16_t near_port = 0;
  std::uint16_t far_port = 0;
  ASSERT_TRUE(socket_local_address(client.get(), &address, &near_port));
  ASSERT_TRUE(socket_peer_address(server.get(), &address, &far_port));
  EXPECT_EQ(address, LOOPBACK);
  EXPECT_EQ(near_port, far_port);

  EXPECT_EQ(socket_wait(server.get(), SocketWait::readable, 0), 0);
  EXPECT_EQ(socket_wait(client.get(), SocketWait::writable, 1000), 1);
  EXPECT_EQ(socket_send(client.get(), "ab\0c", 4, 0), 4);
  ASSERT_EQ(socket_wait(server.get(), SocketWait::readable, 5000), 1);
  char buffer[8] = {};
  EXPECT_EQ(socket_recv(server.get(), buffer, 2, SOCKET_FLAG_PEEK), 2);
  EXPECT_EQ(socket_recv(server.get(), buffer, sizeof buffer, 0), 4);
  EXPECT_EQ(std::memcmp(buffer, "ab\0c", 4), 0);

  // The peer's close makes the socket readable with nothing more to read.
  EXPECT_TRUE(socket_shutdown(client.get()));
  client.reset();
  ASSERT_EQ(socket_wait(server.get(), SocketWait::readable, 5000), 1);
  EXPECT_EQ(socket_recv(server.get(), buffer, sizeof buffer, 0), 0);
}

TEST_F(SocketTest, WaitsWorkForLargeDescriptorNumbers) {
  // Numbers past the 1024 slots of a select() set must work too.
  std::vector<UniqueSocket> sockets;
  SocketHandle large = NO_SOCKET;
  for (int i = 0; i < 1200 && large == NO_SOCKET; ++i) {
    UniqueSocket socket(socket_open_tcp());
    if (!socket) break;
    if (socket.get() >= 1100) large = socket.get();
    sockets.push_back(std::move(socket));
  }
  if (large == NO_SOCKET) GTEST_SKIP() << "no socket number reached 1100";
  std::uint16_t port = 0;
  UniqueSocket listener = listen_on_loopback(&port);
  ASSERT_TRUE(socket_connect(large, LOOPBACK, port));
  UniqueSocket server(socket_accept(listener.get()));
  EXPECT_EQ(socket_wait(large, SocketWait::readable, 0), 0);
  EXPECT_EQ(socket_send(server.get(), "x", 1, 0), 1);
  EXPECT_EQ(socket_wait(large, SocketWait::readable, 5000), 1);
  EXPECT_EQ(socket_wait(large, SocketWait::writable, 5000), 1);
}

TEST_F(SocketTest, ConnectToAClosedPortFails) {
  std::uint16_t port = 0;
  { UniqueSocket listener = listen_on_loopback(&port); }
  UniqueSocket client(socket_open_tcp());
  EXPECT_FALSE(socket_connect(client.get(), LOOPBACK, port));

  UniqueSocket stepped(socket_open_tcp());
  ASSERT_TRUE(socket_set_blocking(stepped.get(), false));
  ConnectState state = socket_connect_start(stepped.get(), LOOPBACK, port);
  for (int i = 0; i < 50 && state == ConnectState::pending; ++i)
    state = socket_connect_wait(stepped.get(), 100);
  EXPECT_EQ(state, ConnectState::failed);
}

TEST_F(SocketTest, NumbersThatAreNoSocketAreRefused) {
  EXPECT_FALSE(socket_is_socket(NO_SOCKET));
  EXPECT_FALSE(socket_is_socket(0));  // standard input, or no handle at all
  EXPECT_FALSE(socket_close(0));
  EXPECT_EQ(socket_wait(NO_SOCKET, SocketWait::readable, 0), -1);
  char buffer[4];
  EXPECT_EQ(socket_recv(NO_SOCKET, buffer, sizeof buffer, 0), -1);
  EXPECT_EQ(socket_send(NO_SOCKET, "x", 1, 0), -1);
  UniqueSocket closed(socket_open_tcp());
  SocketHandle number = closed.get();
  closed.reset();
  EXPECT_FALSE(socket_is_socket(number));
}

TEST_F(SocketTest, ResolverKnowsTheLoopbackNames) {
  char name[256];
  ASSERT_TRUE(local_host_name(name, sizeof name));
  EXPECT_NE(name[0], '\0');
  EXPECT_EQ(resolve_host_name("localhost"), LOOPBACK);
  // An empty label: the resolver refuses the name itself and asks no name server, so the test
  // sends nothing off this machine.
  EXPECT_EQ(resolve_host_name("no-such-host..invalid"), NO_IPV4_ADDRESS);
  EXPECT_FALSE(resolve_host_address(LOOPBACK, 23, name, sizeof name));
}

}  // namespace
