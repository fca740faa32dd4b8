#include "shell/app_connection.h"

#include "engine/value.h"

namespace {

AppContext* app_of(void* context) {
  return static_cast<AppContext*>(context);
}

Connection* connection_of(AppContext* app) {
  return static_cast<Connection*>(app->connection.state);
}

}  // namespace

void app_use_connection(AppContext* app, Connection* connection) {
  ConnectionPeer peer{};
  peer.context = app;
  peer.show_line = [](void* context, const char* text) { app_status_line(app_of(context), text); };
  peer.show_text = [](void* context, const char* text) { app_status_text(app_of(context), text); };
  peer.state_changed = [](void* context, std::int32_t state) {
    app_connection_state(app_of(context), state);
  };
  peer.deliver_line = [](void* context, const char* line) {
    return app_recv_line(app_of(context), line);
  };
  // Both are read under the engine lock, under which the connect command changes them.
  peer.server_name = [](void* context) -> const char* { return app_of(context)->server_name; };
  peer.server_port = [](void* context) { return app_of(context)->port; };
  peer.serve_pending = [](void* context) {
    AppContext* app = app_of(context);
    if (app->host.serve_pending != nullptr) app->host.serve_pending(&app->host);
  };
  peer.thread_ending = [](void*) { release_thread_caches(); };
  connection_init(connection, peer);

  app->connection.state = connection;
  app->connection.start = [](AppContext* app) { return connection_start(connection_of(app)); };
  app->connection.stop = [](AppContext* app) { connection_stop(connection_of(app)); };
  app->connection.is_connected = [](AppContext* app) {
    return connection_active(connection_of(app));
  };
  app->connection.send_line = [](AppContext* app, const char* text) {
    return connection_send_line(connection_of(app), text);
  };
}
