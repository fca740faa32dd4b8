// The application core: start-up, load and reload, events, commands and the close sequence.
#include "shell/app_context.h"

#include "engine/engine.h"
#include "engine/events.h"
#include "engine/loader.h"
#include "engine/script.h"
#include "platform/memory.h"
#include "platform/thread.h"
#include "shell/channels.h"

const char* const STATUS_CONNECTED =
    "\x03"
    "03\x90\xDA\x91\xB1\x82\xB5\x82\xDC\x82\xB5\x82\xBD";
const char* const STATUS_DISCONNECTED =
    "\x03"
    "04### \x90\xD8\x92\x66\x82\xB5\x82\xDC\x82\xB5\x82\xBD";
const char* const STATUS_SEND_FAILED =
    "\x03"
    "04### \x91\x97\x90\x4D\x82\xC9\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD";

namespace {

Script* main_module(AppContext* app) {
  return app->script_set != nullptr ? app->script_set->next : nullptr;
}

char* current_channel_name(Host* host) {
  AppContext* app = app_of_host(host);
  EngineLockGuard engine;
  return dup_string(app->current_channel != nullptr ? app->current_channel->name : "");
}

void event_thread_ended(void* cookie) {
  auto* app = static_cast<AppContext*>(cookie);
  // The thread still counts as an active call here, so the context cannot be closed meanwhile.
  app->running_events.fetch_sub(1);
  if (app->event_finished != nullptr) app->event_finished(app);
}

// Starts an event on a thread of its own in the main module, host word 0.
void fire_event(AppContext* app, const char* name, ValueNode* arguments, std::int32_t quiet) {
  Script* module = main_module(app);
  if (module == nullptr || !find_event(module, name, quiet)) return;
  app->running_events.fetch_add(1);
  if (start_event_thread(module, nullptr, name, arguments, quiet, 0, event_thread_ended, app) <= 0)
    app->running_events.fetch_sub(1);
}

// Calls an event on the calling thread; the result cell or CALL_FAILED.
ValueNode* call_event_here(AppContext* app, const char* name, ValueNode* arguments,
                           std::int32_t quiet) {
  if (main_module(app) == nullptr) return CALL_FAILED;
  return call_event(app->script_set, name, arguments, quiet, 0);
}

bool connected(AppContext* app) {
  return app->connection.is_connected != nullptr && app->connection.is_connected(app);
}

void stop_connection(AppContext* app) {
  if (app->connection.stop != nullptr) app->connection.stop(app);
}

// A new string with the text of a global of the main module, or null when it does not exist.
char* global_text(AppContext* app, const char* name) {
  Script* module = main_module(app);
  if (module == nullptr) return nullptr;
  CallContext frame{};
  frame.script = module;
  ValueNode* cell = find_global(&frame, name);
  char* text = cell != nullptr ? text_of_value(cell->value) : nullptr;
  release_frame(&frame);
  return text;
}

}  // namespace

void app_init(AppContext* app, WindowOps* ops, ViewHandle server_view, HostDeliver deliver,
              HostServePending serve_pending, const char* directory, const char* main_file) {
  app->host = Host{};
  app->host.error_echo_request = UM_LINEECHO;
  app->host.deliver = deliver;
  app->host.serve_pending = serve_pending;
  app->host.current_channel = current_channel_name;
  app->ops = ops;
  app->server_view = server_view;
  app->current_view = server_view;
  app->directory = dup_string(directory);
  app->main_file = dup_string(main_file);
  // The server entry is always entry 0.
  app->server_item = SelectorItem{SELECTOR_SERVER, app};
  channels_add_entry(app, &app->server_item);
  ops->selector_select(0);
}

void app_start(AppContext* app) {
  app_load(app);
  app_fire_start(app);
}

void app_fire_start(AppContext* app) {
  fire_event(app, "start", nullptr, 1);
}

void app_load(AppContext* app) {
  // A "recv" may begin between the end of a stop and the engine lock; stop again until no call is
  // active while this thread holds the lock, so that no call can run against the released set.
  for (;;) {
    stop_all_scripts(&app->host);
    lock_engine();
    if (active_calls() == 0) break;
    unlock_engine();
  }
  app->scripts_ready.store(false);
  release_script_set(&app->script_set);
  app->script_set = create_script_set(0);
  if (app->script_set != nullptr) {
    app->script_set->host = &app->host;
    load_script_file(app->script_set, app->directory != nullptr ? app->directory : "",
                     app->main_file != nullptr ? app->main_file : "");
  }
  unlock_engine();
  if (app->script_set != nullptr && app->script_set->next != nullptr)
    run_top_level(app->script_set->next);
  app->scripts_ready.store(true);
}

void app_interrupt(AppContext* app) {
  stop_all_scripts(&app->host);
}

void app_send_line(AppContext* app, const char* line) {
  ValueNode* argument = make_node();
  if (argument == nullptr) return;
  if (set_string_value(argument->value, line != nullptr ? line : ""))
    fire_event(app, "send", argument, 0);
  free_node(argument);
}

void app_connect(AppContext* app) {
  char* server = global_text(app, "server");
  if (server == nullptr) return;
  char* port = global_text(app, "port");
  if (port == nullptr) {
    release(&server);
    return;
  }
  {
    // The connection thread reads the name under the same lock while it resolves.
    EngineLockGuard engine;
    release(&app->server_name);
    app->server_name = server;
    app->port = number_of_text(port);
  }
  release(&port);
  if (app->connection.start != nullptr) app->connection.start(app);
}

void app_disconnect(AppContext* app) {
  if (!connected(app)) return;
  free_node(call_event_here(app, "close", nullptr, 0));
  stop_connection(app);
}

bool app_close(AppContext* app) {
  if (!app_ask_end(app)) return false;
  app_shut_down(app);
  return true;
}

bool app_ask_end(AppContext* app) {
  ValueNode* result = call_event_here(app, "end", nullptr, 1);
  if (result == CALL_FAILED) return true;
  std::int32_t answer = number_of_any_value(result->value);
  free_node(result);
  return answer != 1;
}

void app_shut_down(AppContext* app) {
  stop_all_scripts(&app->host);
  if (connected(app)) free_node(call_event_here(app, "close", nullptr, 0));
  stop_connection(app);
  // Event threads that were started but not yet counted as calls are waited for too.
  do {
    stop_all_scripts(&app->host);
  } while (app->running_events.load() > 0);
  {
    EngineLockGuard engine;
    app->scripts_ready.store(false);
    release_script_set(&app->script_set);
  }
  channels_release_all(app);
  release(&app->handles);
  app->handle_count = 0;
  app->handle_capacity = 0;
  release(&app->server_name);
  release(&app->directory);
  release(&app->main_file);
}

void app_clear_current_view(AppContext* app) {
  if (app->current_view != nullptr) app->ops->clear_view(app->current_view);
}

std::intptr_t app_request(AppContext* app, std::uint32_t request, std::uintptr_t word,
                          std::intptr_t data) {
  const char* text = reinterpret_cast<const char*>(data);
  // Channel handles travel as the word (echoes) or the data (channel requests), sign-extended.
  auto handle_of = [](std::uintmax_t bits) {
    return static_cast<std::int32_t>(static_cast<std::intptr_t>(bits));
  };
  switch (request) {
    case UM_STRECHO:
    case UM_LINEECHO: {
      ViewHandle view = app_view_of_handle(app, handle_of(word));
      if (view == nullptr || text == nullptr) return 0;
      if (request == UM_LINEECHO) app->ops->append(view, "\r\n");
      app->ops->append(view, text);
      return 0;
    }
    case UM_STRSEND:
      if (text != nullptr && connected(app) &&
          (app->connection.send_line == nullptr || !app->connection.send_line(app, text)))
        app_request(app, UM_LINEECHO, 0, reinterpret_cast<std::intptr_t>(STATUS_SEND_FAILED));
      return 0;
    case UM_CHANNELADD:
      return text != nullptr ? app_channel_add(app, text) : 0;
    case UM_CHANNELMOVE:
      app_channel_move(app, handle_of(static_cast<std::uintptr_t>(data)));
      return 0;
    case UM_CHANNELDELETE:
      app_channel_delete(app, handle_of(static_cast<std::uintptr_t>(data)));
      return 0;
    case UM_CONNSTATE:
      if (word == 1) {
        app_request(app, UM_STRECHO, 0, reinterpret_cast<std::intptr_t>(STATUS_CONNECTED));
        fire_event(app, "connect", nullptr, 0);
      } else if (word == 2) {
        app_request(app, UM_LINEECHO, 0, reinterpret_cast<std::intptr_t>(STATUS_DISCONNECTED));
      }
      return 0;
    case UM_OPENLINK:
      if (text != nullptr) app->ops->open_link(text);
      return 0;
    default:
      return 0;
  }
}

void app_status_line(AppContext* app, const char* text) {
  app->host.deliver(&app->host, UM_LINEECHO, 0, reinterpret_cast<std::intptr_t>(text));
}

void app_status_text(AppContext* app, const char* text) {
  app->host.deliver(&app->host, UM_STRECHO, 0, reinterpret_cast<std::intptr_t>(text));
}

void app_connection_state(AppContext* app, std::int32_t state) {
  app->host.deliver(&app->host, UM_CONNSTATE, static_cast<std::uintptr_t>(state),
                    reinterpret_cast<std::intptr_t>(app));
}

bool app_recv_line(AppContext* app, const char* line) {
  // A load replaces the ScriptSet: wait until its top-level code has run, then count this call
  // under the engine lock, so that the next reload waits for it.
  for (;;) {
    lock_engine();
    if (stop_requested() == 0 && app->scripts_ready.load()) break;
    unlock_engine();
    sleep_milliseconds(1);
  }
  count_call(1);
  Script* script_set = app->script_set;
  unlock_engine();
  bool ok = false;
  ValueNode* argument = make_node();
  if (argument != nullptr && set_string_value(argument->value, line)) {
    ValueNode* result = script_set != nullptr && script_set->next != nullptr
                            ? call_event(script_set, "recv", argument, 0, 0)
                            : CALL_FAILED;
    ok = result != CALL_FAILED;
    free_node(result);
  }
  free_node(argument);
  count_call(-1);
  return ok;
}
