#include "connection/connection.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "engine/engine.h"
#include "platform/memory.h"
#include "platform/thread.h"

// The texts in CP932. Each comment gives the text as it reads.
// "### IPアドレス取得中..."
const char* const STATUS_RESOLVING =
    "\x03"
    "03### IP\x83"
    "A\x83"
    "h\x83\x8c\x83"
    "X\x8e\xe6\x93\xbe\x92\x86...";
// "接続中..."
const char* const STATUS_CONNECTING =
    "\x03"
    "03\x90\xda\x91\xb1\x92\x86...";
// "### サーバ名が設定されていません"
const char* const STATUS_NO_SERVER_NAME =
    "\x03"
    "04### \x83"
    "T\x81[\x83"
    "o\x96\xbc\x82\xaa\x90\xdd\x92\xe8\x82\xb3\x82\xea\x82\xc4\x82\xa2\x82\xdc\x82\xb9\x82\xf1";
// "### IPアドレスの取得に失敗しました"
const char* const STATUS_RESOLVE_FAILED =
    "\x03"
    "04### IP\x83"
    "A\x83"
    "h\x83\x8c\x83"
    "X\x82\xcc\x8e\xe6\x93\xbe\x82\xc9\x8e\xb8\x94"
    "s\x82\xb5\x82\xdc\x82\xb5\x82\xbd";
// "### ソケット作成に失敗しました"
const char* const STATUS_SOCKET_FAILED =
    "\x03"
    "04### \x83\x5c\x83"
    "P\x83"
    "b\x83"
    "g\x8d\xec\x90\xac\x82\xc9\x8e\xb8\x94"
    "s\x82\xb5\x82\xdc\x82\xb5\x82\xbd";
// "### 接続に失敗しました"
const char* const STATUS_CONNECT_FAILED =
    "\x03"
    "04### \x90\xda\x91\xb1\x82\xc9\x8e\xb8\x94"
    "s\x82\xb5\x82\xdc\x82\xb5\x82\xbd";
// "### selectに失敗しました"
const char* const STATUS_WAIT_FAILED =
    "\x03"
    "04### select\x82\xc9\x8e\xb8\x94"
    "s\x82\xb5\x82\xdc\x82\xb5\x82\xbd";
// "### 受信に失敗しました"
const char* const STATUS_RECEIVE_FAILED =
    "\x03"
    "04### \x8e\xf3\x90"
    "M\x82\xc9\x8e\xb8\x94"
    "s\x82\xb5\x82\xdc\x82\xb5\x82\xbd";
// "### メモリの確保に失敗しました"
const char* const STATUS_OUT_OF_MEMORY =
    "\x03"
    "04### \x83\x81\x83\x82\x83\x8a\x82\xcc\x8a"
    "m\x95\xdb\x82\xc9\x8e\xb8\x94"
    "s\x82\xb5\x82\xdc\x82\xb5\x82\xbd";

namespace {

bool disconnect_asked(Connection* connection) {
  std::lock_guard<std::mutex> guard(connection->lock);
  return connection->disconnect;
}

char* copy_text(const char* text) {
  std::size_t length = std::strlen(text);
  auto* copy = static_cast<char*>(alloc_block(length + 1));
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

// Under the engine lock: resolves the server name unless the address of the same name is known.
// Returns the error text, or null with the address and port set.
const char* resolve(Connection* connection, std::uint16_t* port) {
  EngineLockGuard engine;
  const char* name = connection->peer.server_name(connection->peer.context);
  *port = static_cast<std::uint16_t>(connection->peer.server_port(connection->peer.context));
  if (name == nullptr || name[0] == '\0') {
    connection->server_address = 0;
    return STATUS_NO_SERVER_NAME;
  }
  if (connection->server_address != 0 && connection->resolved_name != nullptr &&
      std::strcmp(connection->resolved_name, name) == 0)
    return nullptr;
  release(&connection->resolved_name);
  // A dotted address first; only a name that is none goes to the resolver.
  std::uint32_t address = parse_dotted_address(name);
  if (address == NO_IPV4_ADDRESS) address = resolve_host_name(name);
  if (address == NO_IPV4_ADDRESS) address = 0;
  connection->server_address = address;
  if (address == 0) return STATUS_RESOLVE_FAILED;
  connection->resolved_name = copy_text(name);
  return nullptr;
}

// Connects the socket in waits of at most a pass each, so that a disconnect asked for meanwhile
// ends the attempt. Returns true when connected; *abandoned tells a disconnect from a failure.
bool connect_socket(Connection* connection, SocketHandle socket, std::uint16_t port,
                    bool* abandoned) {
  *abandoned = false;
  if (!socket_set_blocking(socket, false))
    return socket_connect(socket, connection->server_address, port);
  ConnectState state = socket_connect_start(socket, connection->server_address, port);
  while (state == ConnectState::pending) {
    if (disconnect_asked(connection)) {
      *abandoned = true;
      break;
    }
    state = socket_connect_wait(socket, connection->wait_milliseconds);
  }
  bool blocking = socket_set_blocking(socket, true);
  return state == ConnectState::connected && blocking;
}

bool deliver_line(void* context, const char* line, std::size_t) {
  auto* connection = static_cast<Connection*>(context);
  return connection->peer.deliver_line(connection->peer.context, line);
}

// One pass with readable data. Returns the error text that ends the connection, "" when the server
// closed it, or null to go on.
const char* receive_and_deliver(Connection* connection) {
  char* room = splitter_room(&connection->carry, RECEIVE_CHUNK);
  if (room == nullptr) return STATUS_OUT_OF_MEMORY;
  std::int32_t count =
      socket_recv(connection->socket, room, static_cast<std::int32_t>(RECEIVE_CHUNK), 0);
  if (count < 0) return STATUS_RECEIVE_FAILED;
  if (count == 0) return "";
  splitter_feed(&connection->carry, static_cast<std::size_t>(count), deliver_line, connection);
  return nullptr;
}

// Waits for data in passes of at most wait_milliseconds until the disconnect flag is set or the
// connection ends. Returns the error text, or null.
const char* serve_connection(Connection* connection) {
  while (!disconnect_asked(connection)) {
    std::int32_t ready =
        socket_wait(connection->socket, SocketWait::readable, connection->wait_milliseconds);
    if (ready < 0) return STATUS_WAIT_FAILED;
    if (ready == 0) continue;
    const char* end = receive_and_deliver(connection);
    if (end != nullptr) return end[0] == '\0' ? nullptr : end;
  }
  return nullptr;
}

// Resolves, connects and serves; returns the error text that the connection ends with, or null.
const char* run_connection(Connection* connection) {
  std::uint16_t port = 0;
  const char* error = resolve(connection, &port);
  if (error != nullptr) return error;
  if (disconnect_asked(connection)) return nullptr;
  connection->state.store(ConnectionState::connecting);
  connection->peer.show_text(connection->peer.context, STATUS_CONNECTING);

  UniqueSocket socket(socket_open_tcp());
  if (!socket) {
    connection->server_address = 0;
    return STATUS_SOCKET_FAILED;
  }
  bool abandoned = false;
  if (!connect_socket(connection, socket.get(), port, &abandoned)) {
    if (abandoned) return nullptr;
    connection->server_address = 0;
    return STATUS_CONNECT_FAILED;
  }
  socket_set_keepalive(socket.get(), true);
  {
    std::lock_guard<std::mutex> guard(connection->socket_lock);
    connection->socket = socket.release();
  }
  connection->state.store(ConnectionState::connected);
  connection->peer.state_changed(connection->peer.context, 1);
  return serve_connection(connection);
}

void connection_thread(void* argument) {
  auto* connection = static_cast<Connection*>(argument);
  // What an earlier connection left unfinished is not part of this one.
  splitter_reset(&connection->carry);
  connection->peer.show_line(connection->peer.context, STATUS_RESOLVING);

  const char* error = run_connection(connection);

  connection->state.store(ConnectionState::ending);
  if (error != nullptr) {
    connection->peer.show_line(connection->peer.context, error);
  } else {
    connection->peer.state_changed(connection->peer.context, 2);
  }
  {
    std::lock_guard<std::mutex> guard(connection->socket_lock);
    if (connection->socket != NO_SOCKET) {
      socket_shutdown(connection->socket);
      socket_close(connection->socket);
      connection->socket = NO_SOCKET;
    }
    release(&connection->unsent);  // the next connection starts with whole lines
    connection->unsent_length = 0;
    connection->state.store(ConnectionState::idle);
  }
  if (connection->peer.thread_ending != nullptr)
    connection->peer.thread_ending(connection->peer.context);
  // The last touch of the record: a waiting stop may release it from here on.
  connection->running.store(false);
}

}  // namespace

void connection_init(Connection* connection, const ConnectionPeer& peer) {
  connection->peer = peer;
  connection->disconnect = false;
  connection->running.store(false);
  connection->state.store(ConnectionState::idle);
  connection->socket = NO_SOCKET;
  connection->unsent = nullptr;
  connection->unsent_length = 0;
  connection->server_address = 0;
  connection->resolved_name = nullptr;
  connection->carry = LineSplitter{};
  connection->wait_milliseconds = CONNECTION_WAIT_MILLISECONDS;
  connection->send_stall_milliseconds = SEND_STALL_MILLISECONDS;
}

void connection_free(Connection* connection) {
  release(&connection->resolved_name);
  release(&connection->unsent);
  connection->unsent_length = 0;
  splitter_free(&connection->carry);
  connection->server_address = 0;
}

bool connection_start(Connection* connection) {
  if (connection->running.load() || connection->state.load() != ConnectionState::idle) return false;
  {
    std::lock_guard<std::mutex> guard(connection->lock);
    connection->disconnect = false;
  }
  // Active from here on, so that nobody sees an idle connection while its thread starts.
  connection->running.store(true);
  connection->state.store(ConnectionState::resolving);
  std::uint32_t thread_id = 0;
  if (!start_detached_thread(connection_thread, connection, &thread_id)) {
    connection->state.store(ConnectionState::idle);
    connection->running.store(false);
    return false;
  }
  return true;
}

void connection_stop(Connection* connection) {
  if (!connection->running.load()) return;
  {
    std::lock_guard<std::mutex> guard(connection->lock);
    connection->disconnect = true;
  }
  // The ending thread sends requests of its own, and a "recv" in progress may be waiting on one:
  // keep serving them until the thread is done.
  while (connection->running.load()) {
    if (connection->peer.serve_pending != nullptr)
      connection->peer.serve_pending(connection->peer.context);
    sleep_milliseconds(1);
  }
}

bool connection_active(const Connection* connection) {
  return connection->state.load() != ConnectionState::idle;
}

namespace {

enum class SendOutcome { sent, stalled, failed };

// Sends bytes in pieces while the socket takes them; *done counts the bytes sent. Under
// socket_lock.
SendOutcome send_bytes(Connection* connection, const char* bytes, std::size_t length,
                       std::size_t* done) {
  SocketHandle socket = connection->socket;
  auto stall_limit = std::chrono::milliseconds(connection->send_stall_milliseconds);
  auto wait = std::min<std::int32_t>(connection->send_stall_milliseconds, 1000);
  auto progress = std::chrono::steady_clock::now();
  *done = 0;
  while (*done < length) {
    std::int32_t ready = socket_wait(socket, SocketWait::writable, wait);
    if (ready < 0) return SendOutcome::failed;
    if (ready > 0) {
      std::size_t piece = std::min(length - *done, SEND_PIECE);
      std::int32_t count = socket_send(socket, bytes + *done, static_cast<std::int32_t>(piece), 0);
      if (count < 0) return SendOutcome::failed;
      if (count > 0) progress = std::chrono::steady_clock::now();
      *done += static_cast<std::size_t>(count);
    } else if (std::chrono::steady_clock::now() - progress >= stall_limit) {
      // A peer that stops reading must not hold the UI thread for ever.
      return SendOutcome::stalled;
    }
  }
  return SendOutcome::sent;
}

// Keeps bytes[done..length) as the connection's unsent rest when part of a line is on the wire:
// `begun` says that bytes before these went out already. Without memory the rest is lost.
void keep_unsent(Connection* connection, const char* bytes, std::size_t length, std::size_t done,
                 bool begun) {
  if ((!begun && done == 0) || done >= length) return;
  connection->unsent = static_cast<char*>(alloc_block(length - done));
  if (connection->unsent == nullptr) return;
  std::memcpy(connection->unsent, bytes + done, length - done);
  connection->unsent_length = length - done;
}

}  // namespace

bool connection_send_line(Connection* connection, const char* text) {
  std::size_t length = std::strlen(text);
  auto* line = static_cast<char*>(alloc_block(length + 2));
  if (line == nullptr) return false;
  std::memcpy(line, text, length);
  std::memcpy(line + length, "\r\n", 2);
  length += 2;

  bool sent = false;
  {
    std::lock_guard<std::mutex> guard(connection->socket_lock);
    if (connection->socket != NO_SOCKET) {
      std::size_t done = 0;
      SendOutcome outcome = SendOutcome::sent;
      if (connection->unsent != nullptr) {
        // First the rest of the line that stalled before.
        char* rest = connection->unsent;
        std::size_t rest_length = connection->unsent_length;
        connection->unsent = nullptr;
        connection->unsent_length = 0;
        outcome = send_bytes(connection, rest, rest_length, &done);
        if (outcome == SendOutcome::stalled) keep_unsent(connection, rest, rest_length, done, true);
        release(&rest);
      }
      if (outcome == SendOutcome::sent) {
        outcome = send_bytes(connection, line, length, &done);
        if (outcome == SendOutcome::stalled) keep_unsent(connection, line, length, done, false);
      }
      sent = outcome == SendOutcome::sent;
    }
  }
  release(&line);
  return sent;
}
