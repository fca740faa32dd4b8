// Winsock 1.1 sockets. A SOCKET is a handle-sized number; INVALID_SOCKET is NO_SOCKET.
// winsock2.h must come before windows.h.
#include <winsock2.h>

#include <windows.h>

#include <cstring>

#include "platform/socket.h"

namespace {

SOCKET native_of(SocketHandle socket) {
  return static_cast<SOCKET>(socket);
}

sockaddr_in ipv4_address(std::uint32_t address, std::uint16_t port) {
  sockaddr_in in;
  std::memset(&in, 0, sizeof in);
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  in.sin_addr.s_addr = htonl(address);
  return in;
}

using AddressQuery = int(WSAAPI*)(SOCKET, sockaddr*, int*);

bool query_address(AddressQuery query, SocketHandle socket, std::uint32_t* address,
                   std::uint16_t* port) {
  // Large enough for any family, so that a socket of another family fails on the family test.
  char storage[128];
  std::memset(storage, 0, sizeof storage);
  int length = sizeof storage;
  if (query(native_of(socket), reinterpret_cast<sockaddr*>(storage), &length) != 0) return false;
  const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(storage);
  if (in->sin_family != AF_INET) {
    WSASetLastError(WSAEAFNOSUPPORT);
    return false;
  }
  *address = ntohl(in->sin_addr.s_addr);
  *port = ntohs(in->sin_port);
  return true;
}

// One select on one socket. `except` adds the exception set (a failed connect shows there).
int select_one(SocketHandle socket, bool write, bool except, std::int32_t milliseconds,
               bool* in_except) {
  fd_set main_set;
  fd_set except_set;
  FD_ZERO(&main_set);
  FD_ZERO(&except_set);
  FD_SET(native_of(socket), &main_set);
  if (except) FD_SET(native_of(socket), &except_set);
  timeval limit;
  if (milliseconds < 0) milliseconds = 0;
  limit.tv_sec = milliseconds / 1000;
  limit.tv_usec = (milliseconds % 1000) * 1000;
  int result = ::select(0, write ? nullptr : &main_set, write ? &main_set : nullptr,
                        except ? &except_set : nullptr, &limit);
  if (result == SOCKET_ERROR) return -1;
  if (in_except != nullptr) *in_except = except && FD_ISSET(native_of(socket), &except_set);
  return result > 0 ? 1 : 0;
}

}  // namespace

bool sockets_start() {
  WSADATA data;
  return WSAStartup(MAKEWORD(1, 1), &data) == 0;
}

void sockets_end() {
  WSACleanup();
}

std::int32_t socket_last_error() {
  return WSAGetLastError();
}

SocketHandle socket_open(std::int32_t family, std::int32_t type, std::int32_t protocol) {
  SOCKET socket = ::socket(family, type, protocol);
  if (socket == INVALID_SOCKET) return NO_SOCKET;
  return static_cast<SocketHandle>(socket);
}

bool socket_is_socket(SocketHandle socket) {
  if (socket == NO_SOCKET) {
    WSASetLastError(WSAENOTSOCK);
    return false;
  }
  int type = 0;
  int length = sizeof type;
  return getsockopt(native_of(socket), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type),
                    &length) == 0;
}

bool socket_shutdown(SocketHandle socket) {
  return ::shutdown(native_of(socket), SD_BOTH) == 0;
}

bool socket_close(SocketHandle socket) {
  return ::closesocket(native_of(socket)) == 0;
}

bool socket_connect(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  sockaddr_in in = ipv4_address(address, port);
  return ::connect(native_of(socket), reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0;
}

bool socket_set_blocking(SocketHandle socket, bool blocking) {
  u_long non_blocking = blocking ? 0 : 1;
  return ioctlsocket(native_of(socket), FIONBIO, &non_blocking) == 0;
}

ConnectState socket_connect_start(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  sockaddr_in in = ipv4_address(address, port);
  if (::connect(native_of(socket), reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0)
    return ConnectState::connected;
  int error = WSAGetLastError();
  return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS ? ConnectState::pending
                                                            : ConnectState::failed;
}

ConnectState socket_connect_wait(SocketHandle socket, std::int32_t milliseconds) {
  bool failed = false;
  int ready = select_one(socket, true, true, milliseconds, &failed);
  if (ready == 0) return ConnectState::pending;
  if (ready < 0) return ConnectState::failed;
  if (failed) {
    int error = 0;
    int length = sizeof error;
    getsockopt(native_of(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
    WSASetLastError(error != 0 ? error : WSAECONNREFUSED);
    return ConnectState::failed;
  }
  return ConnectState::connected;
}

bool socket_bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  sockaddr_in in = ipv4_address(address, port);
  return ::bind(native_of(socket), reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0;
}

bool socket_listen(SocketHandle socket, std::int32_t backlog) {
  return ::listen(native_of(socket), backlog) == 0;
}

SocketHandle socket_accept(SocketHandle socket) {
  SOCKET accepted = ::accept(native_of(socket), nullptr, nullptr);
  if (accepted == INVALID_SOCKET) return NO_SOCKET;
  return static_cast<SocketHandle>(accepted);
}

std::int32_t socket_send(SocketHandle socket, const void* bytes, std::int32_t size,
                         std::int32_t flags) {
  if (size < 0) size = 0;
  int sent = ::send(native_of(socket), static_cast<const char*>(bytes), size, flags);
  return sent == SOCKET_ERROR ? -1 : sent;
}

std::int32_t socket_recv(SocketHandle socket, void* buffer, std::int32_t size, std::int32_t flags) {
  if (size < 0) size = 0;
  int received = ::recv(native_of(socket), static_cast<char*>(buffer), size, flags);
  return received == SOCKET_ERROR ? -1 : received;
}

bool socket_set_keepalive(SocketHandle socket, bool on) {
  BOOL value = on ? TRUE : FALSE;
  return setsockopt(native_of(socket), SOL_SOCKET, SO_KEEPALIVE,
                    reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

std::int32_t socket_wait(SocketHandle socket, SocketWait what, std::int32_t milliseconds) {
  // Writing also watches the exception set, where a failed connect shows.
  bool write = what == SocketWait::writable;
  return select_one(socket, write, write, milliseconds, nullptr);
}

bool socket_local_address(SocketHandle socket, std::uint32_t* address, std::uint16_t* port) {
  return query_address(::getsockname, socket, address, port);
}

bool socket_peer_address(SocketHandle socket, std::uint32_t* address, std::uint16_t* port) {
  return query_address(::getpeername, socket, address, port);
}

std::uint32_t parse_dotted_address(const char* text) {
  unsigned long address = inet_addr(text);
  if (address == INADDR_NONE) return NO_IPV4_ADDRESS;
  return ntohl(address);
}

bool local_host_name(char* name, std::int32_t size) {
  if (size <= 0) return false;
  if (gethostname(name, size) != 0) return false;
  name[size - 1] = '\0';
  return true;
}

std::uint32_t resolve_host_name(const char* name) {
  hostent* host = gethostbyname(name);
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_length != 4 ||
      host->h_addr_list == nullptr || host->h_addr_list[0] == nullptr)
    return NO_IPV4_ADDRESS;
  std::uint32_t address;
  std::memcpy(&address, host->h_addr_list[0], 4);
  return ntohl(address);
}

bool resolve_host_address(std::uint32_t address, std::int32_t family, char* name,
                          std::int32_t size) {
  if (family != SOCKET_FAMILY_IPV4 || size <= 0) return false;
  std::uint32_t network = htonl(address);
  hostent* host = gethostbyaddr(reinterpret_cast<const char*>(&network), 4, family);
  if (host == nullptr || host->h_name == nullptr) return false;
  std::size_t length = std::strlen(host->h_name);
  if (length >= static_cast<std::size_t>(size)) length = static_cast<std::size_t>(size) - 1;
  std::memcpy(name, host->h_name, length);
  name[length] = '\0';
  return true;
}
