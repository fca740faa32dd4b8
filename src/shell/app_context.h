// The application core: the AppContext that ties the main window, the server view, the channels,
// the connection and the main script together; the requests that other threads send to the UI
// thread; the events; load, reload, interrupt, connect, disconnect and close.
//
// Every app_* operation below runs on the UI thread unless it says otherwise. Front ends (the Win32
// window, lumo-cli, the tests' fake UI) supply the window operations and the host's deliver and
// serve_pending, and route the requests they receive to app_request. A window front end: app_init
// with its server view (then host.window, host.message_box), app_start; requests 1124-2025 and
// 33268 to app_request; the selector's close-up to app_switch_to_entry; the commands to
// app_connect, app_disconnect, app_load (reload), app_interrupt, app_send_line and
// app_clear_current_view; WM_CLOSE to app_close, destroying the window when it returns true.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

#include "engine/host.h"
#include "shell/window_ops.h"

struct AppContext;
struct Script;

// A named conversation target with a view of its own.
struct Channel {
  char* name;       // owned; as given to channeladd
  ViewHandle view;  // owned by the channel; destroyed with it
  Channel* next;
  std::int32_t handle;  // what scripts hold; never reused while the program runs
};

// What the core needs from the server connection; filled by the connection module. All null: the
// program has no connection, and the connect command only reads "server" and "port".
struct ConnectionHooks {
  void* state;  // the connection's own record
  // Starts the connection thread for app->server_name and app->port; does nothing (false) while a
  // connection thread exists.
  bool (*start)(AppContext* app);
  // Asks the connection thread to end and waits for it, serving requests meanwhile.
  void (*stop)(AppContext* app);
  // True while the socket state is not "no connection" (resolving and connecting count).
  bool (*is_connected)(AppContext* app);
  // Sends text followed by CR LF; false when the send fails (also while still connecting).
  bool (*send_line)(AppContext* app, const char* text);
};

struct AppContext {
  Host host;  // first: the ScriptSet's host is this record's address
  WindowOps* ops;
  ViewHandle server_view;

  ConnectionHooks connection;
  // Taken from "server" and "port" by the connect command. The name is replaced under the engine
  // lock; the connection thread reads it under the same lock.
  char* server_name;
  std::int32_t port;

  Channel* channels;  // in the order they were made
  // Handle h names handles[h - 1], null once deleted; handles are never given out twice.
  Channel** handles;
  std::int32_t handle_count;
  std::int32_t handle_capacity;
  // The selector's entries by index; entry 0 is server_item.
  SelectorItem** selector;
  std::int32_t selector_count;
  std::int32_t selector_capacity;
  SelectorItem server_item;
  // Changed only on the UI thread, under the engine lock. Null current channel: the server view.
  Channel* current_channel;
  ViewHandle current_view;

  Script* script_set;  // null before the first load and after close
  char* directory;     // the main script's folder, with its backslash
  char* main_file;     // the main script's file name
  // False from the start of a load until its top-level code has run; "recv" waits meanwhile.
  std::atomic<bool> scripts_ready;

  // Event threads started by the core that have not ended yet, and an optional notice when one
  // ends (called on the ending thread).
  std::atomic<std::int32_t> running_events;
  void (*event_finished)(AppContext* app);
};
// The host record is the context's address: hooks and requests get back from one to the other.
static_assert(std::is_standard_layout_v<AppContext>);

inline AppContext* app_of_host(Host* host) {
  return reinterpret_cast<AppContext*>(host);
}

// Status texts of the core, CP932, with their colour codes.
extern const char* const STATUS_CONNECTED;     // green "connected", continues the line
extern const char* const STATUS_DISCONNECTED;  // red "### disconnected"
extern const char* const STATUS_SEND_FAILED;   // red "### sending failed"

// Prepares a zero-filled context: host record (deliver and serve_pending come from the front end,
// which sets host.window itself), window operations, server view, the main script's folder and file
// name. Adds the server entry to the selector and selects it; nothing is loaded yet.
void app_init(AppContext* app, WindowOps* ops, ViewHandle server_view, HostDeliver deliver,
              HostServePending serve_pending, const char* directory, const char* main_file);

// Start-up after app_init: loads the main script and fires "start".
void app_start(AppContext* app);
// Fires "start" on a thread of its own (app_start's second step).
void app_fire_start(AppContext* app);
// Load and reload: stops all script code, replaces the ScriptSet under the engine lock, then runs
// the top-level code. Channels, views and the connection stay.
void app_load(AppContext* app);
// The stop command: stops all running script code; scripts stay loaded.
void app_interrupt(AppContext* app);
// Fires "send" with a typed line on a thread of its own.
void app_send_line(AppContext* app, const char* line);
// The connect command: reads the globals "server" and "port" and starts the connection.
void app_connect(AppContext* app);
// The disconnect command: while connected, calls "close" and stops the connection.
void app_disconnect(AppContext* app);
// The close sequence. False when "end" returned 1 and the window stays open; true when everything
// is released and the front end may destroy its window.
bool app_close(AppContext* app);
// Its two halves: "end" (false when it returned 1, the number or a text reading as 1), and the
// rest, which stops scripts and the connection and releases the scripts, channels and views.
bool app_ask_end(AppContext* app);
void app_shut_down(AppContext* app);
// Clears the current view (Ctrl+Q).
void app_clear_current_view(AppContext* app);

// Carries out one request sent to the main window; returns its result.
std::intptr_t app_request(AppContext* app, std::uint32_t request, std::uintptr_t word,
                          std::intptr_t data);

// Channels (UI thread; the requests come here).
std::int32_t app_channel_add(AppContext* app, const char* name);
void app_channel_move(AppContext* app, std::int32_t handle);
void app_channel_delete(AppContext* app, std::int32_t handle);
// The user picked selector entry `index` (the selector's list closed).
void app_switch_to_entry(AppContext* app, std::int32_t index);
// The view a channel handle names: 0 the server view, -1 the current view; null for none.
ViewHandle app_view_of_handle(AppContext* app, std::int32_t handle);
// The live channel with that handle, or null.
Channel* app_find_channel(AppContext* app, std::int32_t handle);

// Called by the connection thread (any thread but the UI thread).
// A status line in the server view: on a new line (UM_LINEECHO) or continuing it (UM_STRECHO).
void app_status_line(AppContext* app, const char* text);
void app_status_text(AppContext* app, const char* text);
// UM_CONNSTATE: 1 the connection stands ("connect" is fired), 2 it has ended.
void app_connection_state(AppContext* app, std::int32_t state);
// Calls "recv" with one received line, synchronously on the calling thread; false when the call
// failed (no such function, or it ended in an error).
bool app_recv_line(AppContext* app, const char* line);
