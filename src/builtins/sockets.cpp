#include "builtins/sockets.h"

#include <cstring>
#include <optional>

#include "builtins/args.h"
#include "engine/engine.h"
#include "engine/retire.h"
#include "engine/value.h"
#include "platform/memory.h"
#include "platform/socket.h"

namespace {

// One poll of every wait: long enough to cost nothing, short enough for a stop to end it soon.
constexpr std::int32_t POLL_MILLISECONDS = 1000;

// The status of a built-in that noticed a stop: a failure without a message.
constexpr std::int32_t STOPPED = LUMO_STATUS_FAILED;

SocketHandle socket_of(const ValueNode* argument) {
  return static_cast<SocketHandle>(read_int_arg(argument));
}

// A new socket as the script sees it: a 32-bit number. A handle that does not fit is closed, since
// the script could never name it again.
std::int32_t socket_number(SocketHandle socket) {
  if (socket == NO_SOCKET) return -1;
  if (socket < 0 || socket > INT32_MAX) {
    socket_close(socket);
    return -1;
  }
  return static_cast<std::int32_t>(socket);
}

// Ports are 16 bits on the wire: a larger or negative number keeps its low 16 bits.
std::uint16_t port_of(const ValueNode* argument) {
  return static_cast<std::uint16_t>(read_int_arg(argument));
}

// The first address of a host name, resolved under the engine lock (the platform's resolver may
// share its buffers between threads). An empty name is no host on every platform.
std::uint32_t resolve_locked(const char* name) {
  if (name[0] == '\0') return NO_IPV4_ADDRESS;
  EngineLockGuard guard;
  return resolve_host_name(name);
}

// An address argument: dotted text, else a host name; a number is the address itself.
// NO_IPV4_ADDRESS when there is none (memory running out included).
std::uint32_t address_of(const ValueNode* argument) {
  ScalarSnapshot scalar = read_scalar(argument->value);
  if (!scalar.is_string) return static_cast<std::uint32_t>(scalar.number);
  const char* text = scalar.text != nullptr ? scalar.text : "";
  std::uint32_t address = parse_dotted_address(text);
  return address != NO_IPV4_ADDRESS ? address : resolve_locked(text);
}

// Writes text into an output argument (the caller's variable when it names one).
void assign_text(CallContext* context, const ValueNode* target, char* text) {
  Value source{};
  source.data.text = text;
  source.is_string = 1;
  assign_value(context, target->value, &source);
}

// The waits end in one of these.
enum class Waited { ready, failed, stopped };

// Polls until the socket is ready. After every poll that did not fail a pending stop ends the wait.
// Memory that other threads retire meanwhile may go, as in every long wait.
Waited wait_until(SocketHandle socket, SocketWait what) {
  QuiescentWait waiting;
  for (;;) {
    std::int32_t ready = socket_wait(socket, what, POLL_MILLISECONDS);
    if (ready < 0) return Waited::failed;
    if (stop_requested()) return Waited::stopped;
    if (ready > 0) return Waited::ready;
  }
}

using AddressQuery = bool (*)(SocketHandle, std::uint32_t*, std::uint16_t*);

// getsockname and getpeername: the port, and the address into the optional output argument.
std::int32_t end_address(CallContext* context, ValueNode* arguments, ValueNode* result,
                         char* message, AddressQuery query, const char* name) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  if (!query(socket_of(arguments), &address, &port)) return return_number(result, -1);
  if (const ValueNode* target = nth_argument(arguments, 1)) {
    char text[16];
    format_dotted_address(address, text);
    char* copy = dup_string(text);
    if (copy == nullptr) return alloc_failed(message, name);
    assign_text(context, target, copy);
    release(&copy);
  }
  return return_number(result, port);
}

// Sends all `count` bytes, one poll for writability before each send. The result as the script
// sees it, or STOPPED.
std::int32_t send_all(SocketHandle socket, const unsigned char* bytes, std::int32_t count,
                      std::int32_t flags, ValueNode* result) {
  std::int32_t done = 0;
  QuiescentWait waiting;
  while (done < count) {
    std::int32_t ready = socket_wait(socket, SocketWait::writable, POLL_MILLISECONDS);
    if (ready < 0) return return_number(result, -1);
    if (stop_requested()) return STOPPED;
    if (ready == 0) continue;
    std::int32_t sent = socket_send(socket, bytes + done, count - done, flags);
    if (sent < 0) return return_number(result, -1);
    done += sent;
  }
  return return_number(result, 0);
}

// A receive buffer of `size` bytes and one more, zeroed; null for a negative size or when memory
// runs out.
unsigned char* receive_buffer(std::int32_t size) {
  if (size < 0) return nullptr;
  return static_cast<unsigned char*>(alloc_zeroed(static_cast<std::size_t>(size) + 1));
}

// Owns a block from the engine's allocator.
struct BlockGuard {
  unsigned char* block;
  ~BlockGuard() { release(&block); }
};

}  // namespace

LUMO_BUILTIN(gethostname) {
  (void)context;
  (void)arguments;
  char name[256] = {};
  if (!local_host_name(name, sizeof name)) name[0] = '\0';
  return return_text(result, dup_string(name), message, "gethostname");
}

LUMO_BUILTIN(gethostbyname) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  char* name = read_string_arg(arguments);
  if (name == nullptr) return alloc_failed(message, "gethostbyname");
  // A dotted address is its own answer, without a lookup.
  if (parse_dotted_address(name) != NO_IPV4_ADDRESS)
    return return_text(result, name, message, "gethostbyname");
  std::uint32_t address = resolve_locked(name);
  release(&name);
  char text[16] = {};
  if (address != NO_IPV4_ADDRESS) format_dotted_address(address, text);
  return return_text(result, dup_string(text), message, "gethostbyname");
}

LUMO_BUILTIN(gethostbyaddr) {
  (void)context;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::uint32_t address = address_of(arguments);
  const ValueNode* family_argument = nth_argument(arguments, 1);
  std::int32_t family = family_argument != nullptr ? read_int_arg(family_argument) : 2;
  char name[256] = {};
  if (address != NO_IPV4_ADDRESS) {
    EngineLockGuard guard;
    if (!resolve_host_address(address, family, name, sizeof name)) name[0] = '\0';
  }
  return return_text(result, dup_string(name), message, "gethostbyaddr");
}

LUMO_BUILTIN(getsockname) {
  return end_address(context, arguments, result, message, socket_local_address, "getsockname");
}

LUMO_BUILTIN(getpeername) {
  return end_address(context, arguments, result, message, socket_peer_address, "getpeername");
}

LUMO_BUILTIN(getsockport) {
  (void)context;
  (void)message;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::uint32_t address = 0;
  std::uint16_t port = 0;
  if (!socket_local_address(socket_of(arguments), &address, &port))
    return return_number(result, -1);
  return return_number(result, port);
}

LUMO_BUILTIN(socket) {
  (void)context;
  (void)message;
  const ValueNode* family = nth_argument(arguments, 0);
  const ValueNode* type = nth_argument(arguments, 1);
  const ValueNode* protocol = nth_argument(arguments, 2);
  SocketHandle socket = socket_open(family != nullptr ? read_int_arg(family) : SOCKET_FAMILY_IPV4,
                                    type != nullptr ? read_int_arg(type) : SOCKET_TYPE_STREAM,
                                    read_int_arg(protocol));
  return return_number(result, socket_number(socket));
}

LUMO_BUILTIN(closesocket) {
  (void)context;
  (void)message;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  SocketHandle socket = socket_of(arguments);
  socket_shutdown(socket);
  socket_close(socket);
  return return_number(result, 0);
}

LUMO_BUILTIN(connect) {
  (void)context;
  (void)message;
  const ValueNode* address_argument = nth_argument(arguments, 1);
  if (address_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::uint32_t address = address_of(address_argument);
  if (address == NO_IPV4_ADDRESS) return return_number(result, -1);
  const ValueNode* port_argument = nth_argument(arguments, 2);
  if (port_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  SocketHandle socket = socket_of(arguments);
  if (!socket_is_socket(socket)) return return_number(result, -1);
  // The connect runs in steps with one-second waits, so that a stop ends it; the socket is back in
  // blocking mode whatever the outcome.
  if (!socket_set_blocking(socket, false)) return return_number(result, -1);
  ConnectState state = socket_connect_start(socket, address, port_of(port_argument));
  bool stopped = false;
  while (state == ConnectState::pending) {
    state = socket_connect_wait(socket, POLL_MILLISECONDS);
    if (state != ConnectState::failed && stop_requested()) {
      stopped = true;
      break;
    }
  }
  socket_set_blocking(socket, true);
  if (stopped) return STOPPED;
  return return_number(result, state == ConnectState::connected ? 0 : -1);
}

LUMO_BUILTIN(bind) {
  (void)context;
  (void)message;
  const ValueNode* address_argument = nth_argument(arguments, 1);
  if (address_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::uint32_t address = address_of(address_argument);
  if (address == NO_IPV4_ADDRESS) return return_number(result, -1);
  const ValueNode* port_argument = nth_argument(arguments, 2);
  if (port_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  bool bound = socket_bind(socket_of(arguments), address, port_of(port_argument));
  return return_number(result, bound ? 0 : -1);
}

LUMO_BUILTIN(listen) {
  (void)context;
  (void)message;
  const ValueNode* backlog = nth_argument(arguments, 1);
  if (backlog == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  bool listening = socket_listen(socket_of(arguments), read_int_arg(backlog));
  return return_number(result, listening ? 0 : -1);
}

LUMO_BUILTIN(accept) {
  (void)context;
  (void)message;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  SocketHandle socket = socket_of(arguments);
  if (!socket_is_socket(socket)) return return_number(result, -1);
  switch (wait_until(socket, SocketWait::readable)) {
    case Waited::failed:
      return return_number(result, -1);
    case Waited::stopped:
      return STOPPED;
    case Waited::ready:
      break;
  }
  return return_number(result, socket_number(socket_accept(socket)));
}

LUMO_BUILTIN(select) {
  (void)context;
  (void)message;
  const ValueNode* seconds_argument = nth_argument(arguments, 1);
  if (seconds_argument == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t seconds = read_int_arg(seconds_argument);
  if (seconds <= 0) return return_number(result, 0);
  SocketHandle socket = socket_of(arguments);
  // Any other descriptor (a file is always "readable" to poll) is refused.
  if (!socket_is_socket(socket)) return return_number(result, -1);
  QuiescentWait waiting;
  for (std::int32_t i = 0; i < seconds; ++i) {
    std::int32_t ready = socket_wait(socket, SocketWait::readable, POLL_MILLISECONDS);
    if (ready < 0) return return_number(result, -1);
    if (stop_requested()) return STOPPED;
    if (ready > 0) return return_number(result, 1);
  }
  return return_number(result, 0);
}

namespace {

// recv and recvhash: waits for data and receives at most the asked size (256 when not given) into
// `buffer`. Returns the bytes received (0 or less: none) in *received, or a status to end the
// built-in with.
std::optional<std::int32_t> receive(ValueNode* arguments, ValueNode* result, char* message,
                                    const char* name, BlockGuard* buffer, std::int32_t* received) {
  const ValueNode* size_argument = nth_argument(arguments, 2);
  std::int32_t size = size_argument != nullptr ? read_int_arg(size_argument) : 256;
  std::int32_t flags = read_int_arg(nth_argument(arguments, 3));
  SocketHandle socket = socket_of(arguments);
  if (size < 0) return alloc_failed(message, name);
  if (!socket_is_socket(socket)) return return_number(result, -1);
  switch (wait_until(socket, SocketWait::readable)) {
    case Waited::failed:
      return return_number(result, -1);
    case Waited::stopped:
      return STOPPED;
    case Waited::ready:
      break;
  }
  buffer->block = receive_buffer(size);
  if (buffer->block == nullptr) return alloc_failed(message, name);
  *received = socket_recv(socket, buffer->block, size, flags);
  return std::nullopt;
}

}  // namespace

LUMO_BUILTIN(recv) {
  const ValueNode* target = nth_argument(arguments, 1);
  if (target == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  BlockGuard buffer{nullptr};
  std::int32_t received = 0;
  if (auto status = receive(arguments, result, message, "recv", &buffer, &received)) return *status;
  // The text ends at the first 0 byte; after a failed or empty receive it is "".
  if (received <= 0) buffer.block[0] = 0;
  char* text = dup_string(reinterpret_cast<char*>(buffer.block));
  if (text == nullptr) return alloc_failed(message, "recv");
  assign_text(context, target, text);
  release(&text);
  return return_number(result, received);
}

LUMO_BUILTIN(recvhash) {
  const ValueNode* target = nth_argument(arguments, 1);
  if (target == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  BlockGuard buffer{nullptr};
  std::int32_t received = 0;
  if (auto status = receive(arguments, result, message, "RecvHash", &buffer, &received))
    return *status;
  if (received > 0 && !store_bytes_in_hash(context, target->value->owner, buffer.block, received))
    return alloc_failed(message, "RecvHash");
  return return_number(result, received);
}

LUMO_BUILTIN(send) {
  (void)context;
  const ValueNode* data = nth_argument(arguments, 1);
  if (data == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  const ValueNode* count_argument = nth_argument(arguments, 2);
  std::int32_t flags = read_int_arg(nth_argument(arguments, 3));
  char* text = read_string_arg(data);
  if (text == nullptr) return alloc_failed(message, "send");
  BlockGuard bytes{reinterpret_cast<unsigned char*>(text)};
  std::int32_t count = static_cast<std::int32_t>(std::strlen(text));
  std::int32_t limit = read_int_arg(count_argument);
  if (limit > 0 && limit <= count) count = limit;
  if (count == 0) return return_number(result, 0);
  return send_all(socket_of(arguments), bytes.block, count, flags, result);
}

LUMO_BUILTIN(sendhash) {
  (void)context;
  const ValueNode* hash = nth_argument(arguments, 1);
  if (hash == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  const ValueNode* count_argument = nth_argument(arguments, 2);
  std::int32_t flags = read_int_arg(nth_argument(arguments, 3));
  // An empty hash sends nothing and calls nothing.
  if (hash->elements == nullptr) return return_number(result, 0);
  std::int32_t count = 0;
  BlockGuard bytes{read_bytes_from_hash(hash, &count)};
  if (bytes.block == nullptr) return alloc_failed(message, "SendHash");
  std::int32_t limit = read_int_arg(count_argument);
  if (limit > 0 && limit <= count) count = limit;
  if (count == 0) return return_number(result, 0);
  return send_all(socket_of(arguments), bytes.block, count, flags, result);
}
