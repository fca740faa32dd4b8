// The server connection: one TCP connection, run by a connection thread that resolves the server
// name, connects, and hands every received line to the application; and the send path that the UI
// thread uses. The connection knows its application only through the ConnectionPeer record.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "connection/line_splitter.h"
#include "platform/socket.h"

// Status texts, CP932, with their colour codes (green progress, red failures).
extern const char* const STATUS_RESOLVING;       // green, on a new line
extern const char* const STATUS_CONNECTING;      // green, continues the line
extern const char* const STATUS_NO_SERVER_NAME;  // red
extern const char* const STATUS_RESOLVE_FAILED;  // red
extern const char* const STATUS_SOCKET_FAILED;   // red
extern const char* const STATUS_CONNECT_FAILED;  // red
extern const char* const STATUS_WAIT_FAILED;     // red
extern const char* const STATUS_RECEIVE_FAILED;  // red
extern const char* const STATUS_OUT_OF_MEMORY;   // red

// What the connection needs from the application.
struct ConnectionPeer {
  void* context;
  // On the connection thread, each delivered synchronously to the UI thread: a status line on a
  // new line, status text continuing the line, and the state (1 connected, 2 ended by itself or by
  // a disconnect, without an error of its own).
  void (*show_line)(void* context, const char* text);
  void (*show_text)(void* context, const char* text);
  void (*state_changed)(void* context, std::int32_t state);
  // One received line, synchronously on the connection thread ("recv"); false when the call failed.
  bool (*deliver_line)(void* context, const char* line);
  // The server's name (null for none) and port; the connection thread asks for them while it holds
  // the engine lock, under which the application changes them.
  const char* (*server_name)(void* context);
  std::int32_t (*server_port)(void* context);
  // On the UI thread while it waits for the connection thread to end: carries out the requests
  // that other threads are waiting on. May be null.
  void (*serve_pending)(void* context);
  // Last on the connection thread, which ran "recv": frees what that thread keeps for the engine.
  // May be null.
  void (*thread_ending)(void* context);
};

enum class ConnectionState : std::int32_t { idle, resolving, connecting, connected, ending };

struct Connection {
  ConnectionPeer peer;

  std::mutex lock;  // the connection lock: guards the disconnect flag
  bool disconnect;
  // True from the start of a connection thread until it has finished with this record.
  std::atomic<bool> running;
  std::atomic<ConnectionState> state;

  // The socket while connected. Closing it and sending on it both hold socket_lock, so a send never
  // reaches a descriptor that was closed (and perhaps reused) under it.
  std::mutex socket_lock;
  SocketHandle socket;
  // Under socket_lock: the rest of a line that a stalled send left half on the wire. It goes out
  // before the next line, so that no line is joined to a piece of another.
  char* unsent;
  std::size_t unsent_length;

  // Connection thread only: the resolved address (host byte order, 0 unresolved) and the name it
  // was resolved from, so that a changed name is resolved again.
  std::uint32_t server_address;
  char* resolved_name;
  LineSplitter carry;

  // The longest single wait of the thread, and how long a send may make no progress.
  std::int32_t wait_milliseconds;
  std::int32_t send_stall_milliseconds;
};

constexpr std::int32_t CONNECTION_WAIT_MILLISECONDS = 1000;
constexpr std::int32_t SEND_STALL_MILLISECONDS = 10000;
// The most bytes handed to one send.
constexpr std::size_t SEND_PIECE = 254;

// Prepares an idle connection with its peer.
void connection_init(Connection* connection, const ConnectionPeer& peer);
// Releases what an idle connection holds (stop it first).
void connection_free(Connection* connection);

// UI thread. Starts the connection thread; false while one exists or when it cannot be made.
bool connection_start(Connection* connection);
// Asks the connection thread to end and returns once it has, serving requests meanwhile.
void connection_stop(Connection* connection);
// True unless idle: resolving, connecting and connected all count.
bool connection_active(const Connection* connection);
// Sends `text` followed by CR LF in pieces of at most SEND_PIECE bytes. False when not connected,
// when the socket fails, or when no byte could be sent for send_stall_milliseconds. A line that
// stalled after some of its bytes went out is finished first at the next send (which fails, sending
// nothing of its own, while that rest still stalls).
bool connection_send_line(Connection* connection, const char* text);
