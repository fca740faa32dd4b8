// TCP/IPv4 sockets of the platform: Winsock on Windows, BSD sockets elsewhere. Addresses are IPv4
// addresses in host byte order (0x7F000001 is 127.0.0.1) and ports are plain numbers; the
// implementations convert both to network byte order.
#pragma once

#include <cstdint>

// A platform socket descriptor as a number. NO_SOCKET stands for "no socket" on every platform.
using SocketHandle = std::intptr_t;
constexpr SocketHandle NO_SOCKET = -1;

// The value that stands for "no address": an unparsable or unresolvable text, and also the
// broadcast address 255.255.255.255 written as text.
constexpr std::uint32_t NO_IPV4_ADDRESS = 0xFFFFFFFFu;

// Family, type and flag numbers as scripts write them (the same on every platform).
constexpr std::int32_t SOCKET_FAMILY_IPV4 = 2;
constexpr std::int32_t SOCKET_TYPE_STREAM = 1;
constexpr std::int32_t SOCKET_FLAG_OUT_OF_BAND = 1;
constexpr std::int32_t SOCKET_FLAG_PEEK = 2;

// Starts and ends the socket library (Winsock 1.1 on Windows; nothing to do elsewhere). Every
// successful start is matched by one end.
bool sockets_start();
void sockets_end();

// The platform's code of the last failed socket call on this thread (WSAGetLastError or errno).
std::int32_t socket_last_error();

// A new socket; family, type and protocol as above (2, 1, 0 give a TCP socket). NO_SOCKET on
// failure. Sockets never raise a signal when the peer has gone.
SocketHandle socket_open(std::int32_t family, std::int32_t type, std::int32_t protocol);
// A new TCP/IPv4 socket, or NO_SOCKET.
inline SocketHandle socket_open_tcp() {
  return socket_open(SOCKET_FAMILY_IPV4, SOCKET_TYPE_STREAM, 0);
}
// Whether `socket` is an open socket (and not some other kind of descriptor or handle).
bool socket_is_socket(SocketHandle socket);

// Shuts both directions down; false when the platform refuses.
bool socket_shutdown(SocketHandle socket);
// Closes the socket; false when the platform refuses (not a socket, already closed).
bool socket_close(SocketHandle socket);

// Connects, blocking until the platform gives up. True when connected.
bool socket_connect(SocketHandle socket, std::uint32_t address, std::uint16_t port);

// A connect in steps, so that the caller can give up between waits: switch the socket to
// non-blocking mode, start, wait as often as needed, then switch back to blocking mode (also
// after a failure or when giving up).
enum class ConnectState { connected, pending, failed };
bool socket_set_blocking(SocketHandle socket, bool blocking);
ConnectState socket_connect_start(SocketHandle socket, std::uint32_t address, std::uint16_t port);
// Waits at most `milliseconds` for a started connect to end.
ConnectState socket_connect_wait(SocketHandle socket, std::int32_t milliseconds);

bool socket_bind(SocketHandle socket, std::uint32_t address, std::uint16_t port);
bool socket_listen(SocketHandle socket, std::int32_t backlog);
// The accepted connection, or NO_SOCKET. Blocks while none is waiting (wait for readable first).
SocketHandle socket_accept(SocketHandle socket);

// One send or receive: the byte count (send may take fewer than `size`), 0 from a receive when
// the peer closed, -1 on failure. Flags as above, passed through.
std::int32_t socket_send(SocketHandle socket, const void* bytes, std::int32_t size,
                         std::int32_t flags);
std::int32_t socket_recv(SocketHandle socket, void* buffer, std::int32_t size, std::int32_t flags);

bool socket_set_keepalive(SocketHandle socket, bool on);

// Waits at most `milliseconds` (0: just look) until the socket is readable (data, a waiting
// connection, the peer's close or an error to collect) or writable. 1 ready, 0 time-out, -1 failure
// (for instance not a socket). Works for any descriptor number.
enum class SocketWait { readable, writable };
std::int32_t socket_wait(SocketHandle socket, SocketWait what, std::int32_t milliseconds);

// The near or far end of a connected or bound IPv4 socket. False when the platform refuses or the
// socket is not IPv4; the outputs are then left alone.
bool socket_local_address(SocketHandle socket, std::uint32_t* address, std::uint16_t* port);
bool socket_peer_address(SocketHandle socket, std::uint32_t* address, std::uint16_t* port);

// Dotted IPv4 text ("127.0.0.1", also the short and octal/hex forms the platform accepts) to an
// address; NO_IPV4_ADDRESS when the text is not one.
std::uint32_t parse_dotted_address(const char* text);
// The dotted text of an address into `text` (at least 16 bytes).
void format_dotted_address(std::uint32_t address, char* text);

// The resolver. These calls may use buffers that the platform shares per process: callers that can
// run on several threads at once hold a lock around them.
// The local host's name into `name` (of `size` bytes, NUL-terminated); false on failure.
bool local_host_name(char* name, std::int32_t size);
// The first IPv4 address of a host name, or NO_IPV4_ADDRESS.
std::uint32_t resolve_host_name(const char* name);
// The host name of an address of `family` (2 for IPv4) into `name`; false when there is none.
bool resolve_host_address(std::uint32_t address, std::int32_t family, char* name,
                          std::int32_t size);

// Closes the socket it holds when it goes out of scope.
class UniqueSocket {
 public:
  UniqueSocket() = default;
  explicit UniqueSocket(SocketHandle socket) : socket_(socket) {}
  ~UniqueSocket() { reset(); }
  UniqueSocket(const UniqueSocket&) = delete;
  UniqueSocket& operator=(const UniqueSocket&) = delete;
  UniqueSocket(UniqueSocket&& other) noexcept : socket_(other.release()) {}
  UniqueSocket& operator=(UniqueSocket&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  SocketHandle get() const { return socket_; }
  explicit operator bool() const { return socket_ != NO_SOCKET; }
  // Gives the socket up without closing it.
  SocketHandle release() {
    SocketHandle socket = socket_;
    socket_ = NO_SOCKET;
    return socket;
  }
  // Closes the held socket (if any) and holds `socket` instead.
  void reset(SocketHandle socket = NO_SOCKET) {
    if (socket_ != NO_SOCKET) socket_close(socket_);
    socket_ = socket;
  }

 private:
  SocketHandle socket_ = NO_SOCKET;
};
