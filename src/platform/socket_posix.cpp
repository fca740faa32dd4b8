// BSD sockets. Descriptors are plain file descriptors; waits use poll(), so descriptors above
// FD_SETSIZE work as well as small ones.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/socket.h"

namespace {

#ifdef MSG_NOSIGNAL
constexpr int NO_SIGNAL = MSG_NOSIGNAL;
#else
constexpr int NO_SIGNAL = 0;
#endif

// The descriptor of a handle, or -1 for numbers that cannot be one.
int descriptor_of(SocketHandle socket) {
  if (socket < 0 || socket > INT_MAX) return -1;
  return static_cast<int>(socket);
}

sockaddr_in ipv4_address(std::uint32_t address, std::uint16_t port) {
  sockaddr_in in;
  std::memset(&in, 0, sizeof in);
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  in.sin_addr.s_addr = htonl(address);
  return in;
}

using AddressQuery = int (*)(int, sockaddr*, socklen_t*);

bool query_address(AddressQuery query, SocketHandle socket, std::uint32_t* address,
                   std::uint16_t* port) {
  int fd = descriptor_of(socket);
  if (fd < 0) {
    errno = EBADF;
    return false;
  }
  sockaddr_storage storage;
  socklen_t length = sizeof storage;
  if (query(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) return false;
  if (storage.ss_family != AF_INET) {
    errno = EAFNOSUPPORT;
    return false;
  }
  const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(&storage);
  *address = ntohl(in->sin_addr.s_addr);
  *port = ntohs(in->sin_port);
  return true;
}

}  // namespace

bool sockets_start() {
  return true;
}

void sockets_end() {}

std::int32_t socket_last_error() {
  return errno;
}

SocketHandle socket_open(std::int32_t family, std::int32_t type, std::int32_t protocol) {
  // Scripts write the Windows numbers; the ones that differ here are mapped.
  int native_family = family == SOCKET_FAMILY_IPV4 ? AF_INET : family == 23 ? AF_INET6 : family;
  int native_type = type;
  if (type == 1) native_type = SOCK_STREAM;
  if (type == 2) native_type = SOCK_DGRAM;
  if (type == 3) native_type = SOCK_RAW;
  int fd = ::socket(native_family, native_type | SOCK_CLOEXEC, protocol);
  if (fd < 0) return NO_SOCKET;
#ifdef SO_NOSIGPIPE
  int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif
  return fd;
}

bool socket_is_socket(SocketHandle socket) {
  int fd = descriptor_of(socket);
  struct stat status;
  if (fd < 0 || fstat(fd, &status) != 0) {
    errno = EBADF;
    return false;
  }
  if (!S_ISSOCK(status.st_mode)) {
    errno = ENOTSOCK;
    return false;
  }
  return true;
}

bool socket_shutdown(SocketHandle socket) {
  return ::shutdown(descriptor_of(socket), SHUT_RDWR) == 0;
}

bool socket_close(SocketHandle socket) {
  // Only sockets: a script's wrong number must not close a file or the terminal.
  if (!socket_is_socket(socket)) return false;
  return ::close(descriptor_of(socket)) == 0;
}

bool socket_connect(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  sockaddr_in in = ipv4_address(address, port);
  int result;
  do {
    result = ::connect(descriptor_of(socket), reinterpret_cast<const sockaddr*>(&in), sizeof in);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool socket_set_blocking(SocketHandle socket, bool blocking) {
  // The mode is the open file's: never change it on something that is not a socket.
  if (!socket_is_socket(socket)) return false;
  int fd = descriptor_of(socket);
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  flags = blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK);
  return fcntl(fd, F_SETFL, flags) == 0;
}

ConnectState socket_connect_start(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  sockaddr_in in = ipv4_address(address, port);
  if (::connect(descriptor_of(socket), reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0)
    return ConnectState::connected;
  return errno == EINPROGRESS || errno == EINTR ? ConnectState::pending : ConnectState::failed;
}

ConnectState socket_connect_wait(SocketHandle socket, std::int32_t milliseconds) {
  std::int32_t ready = socket_wait(socket, SocketWait::writable, milliseconds);
  if (ready == 0) return ConnectState::pending;
  if (ready < 0) return ConnectState::failed;
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(descriptor_of(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0)
    return ConnectState::failed;
  if (error != 0) {
    errno = error;
    return ConnectState::failed;
  }
  return ConnectState::connected;
}

bool socket_bind(SocketHandle socket, std::uint32_t address, std::uint16_t port) {
  sockaddr_in in = ipv4_address(address, port);
  return ::bind(descriptor_of(socket), reinterpret_cast<const sockaddr*>(&in), sizeof in) == 0;
}

bool socket_listen(SocketHandle socket, std::int32_t backlog) {
  return ::listen(descriptor_of(socket), backlog) == 0;
}

SocketHandle socket_accept(SocketHandle socket) {
  int fd;
  do {
    fd = ::accept4(descriptor_of(socket), nullptr, nullptr, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? NO_SOCKET : fd;
}

std::int32_t socket_send(SocketHandle socket, const void* bytes, std::int32_t size,
                         std::int32_t flags) {
  if (size < 0) size = 0;
  ssize_t sent;
  do {
    sent = ::send(descriptor_of(socket), bytes, static_cast<size_t>(size), flags | NO_SIGNAL);
  } while (sent < 0 && errno == EINTR);
  return sent < 0 ? -1 : static_cast<std::int32_t>(sent);
}

std::int32_t socket_recv(SocketHandle socket, void* buffer, std::int32_t size, std::int32_t flags) {
  if (size < 0) size = 0;
  ssize_t received;
  do {
    received = ::recv(descriptor_of(socket), buffer, static_cast<size_t>(size), flags);
  } while (received < 0 && errno == EINTR);
  return received < 0 ? -1 : static_cast<std::int32_t>(received);
}

bool socket_set_keepalive(SocketHandle socket, bool on) {
  int value = on ? 1 : 0;
  return setsockopt(descriptor_of(socket), SOL_SOCKET, SO_KEEPALIVE, &value, sizeof value) == 0;
}

std::int32_t socket_wait(SocketHandle socket, SocketWait what, std::int32_t milliseconds) {
  int fd = descriptor_of(socket);
  if (fd < 0) {
    errno = EBADF;
    return -1;
  }
  pollfd entry;
  entry.fd = fd;
  entry.events = what == SocketWait::readable ? POLLIN : POLLOUT;
  entry.revents = 0;
  int result = ::poll(&entry, 1, milliseconds < 0 ? 0 : milliseconds);
  if (result < 0) return errno == EINTR ? 0 : -1;
  if (result == 0) return 0;
  if (entry.revents & POLLNVAL) {
    errno = EBADF;
    return -1;
  }
  // A closed peer or a pending error counts as ready, as select() reports it: the next call
  // collects the result.
  return 1;
}

bool socket_local_address(SocketHandle socket, std::uint32_t* address, std::uint16_t* port) {
  std::uint32_t near_address = 0;
  std::uint16_t near_port = 0;
  if (!query_address(::getsockname, socket, &near_address, &near_port)) return false;
  // An unbound socket has no near end (Winsock says so; BSD answers 0.0.0.0:0).
  if (near_address == 0 && near_port == 0) {
    errno = EINVAL;
    return false;
  }
  *address = near_address;
  *port = near_port;
  return true;
}

bool socket_peer_address(SocketHandle socket, std::uint32_t* address, std::uint16_t* port) {
  return query_address(::getpeername, socket, address, port);
}

std::uint32_t parse_dotted_address(const char* text) {
  in_addr_t address = inet_addr(text);
  if (address == INADDR_NONE) return NO_IPV4_ADDRESS;
  return ntohl(address);
}

bool local_host_name(char* name, std::int32_t size) {
  if (size <= 0) return false;
  if (gethostname(name, static_cast<size_t>(size)) != 0) return false;
  name[size - 1] = '\0';
  return true;
}

std::uint32_t resolve_host_name(const char* name) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) return NO_IPV4_ADDRESS;
  std::uint32_t address = NO_IPV4_ADDRESS;
  for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family == AF_INET) {
      address = ntohl(reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr);
      break;
    }
  }
  freeaddrinfo(found);
  return address;
}

bool resolve_host_address(std::uint32_t address, std::int32_t family, char* name,
                          std::int32_t size) {
  if (family != SOCKET_FAMILY_IPV4 || size <= 0) return false;
  sockaddr_in in = ipv4_address(address, 0);
  return getnameinfo(reinterpret_cast<const sockaddr*>(&in), sizeof in, name,
                     static_cast<socklen_t>(size), nullptr, 0, NI_NAMEREQD) == 0;
}
