// Joins the server connection to the application core: the connect, disconnect and close commands
// and UM_STRSEND reach the connection through the context's hooks, and the connection shows its
// status lines, reports its state and calls "recv" through the core.
#pragma once

#include "connection/connection.h"
#include "shell/app_context.h"

// Makes `connection` the context's connection (the front end owns it; it must outlive the close
// sequence, after which connection_free releases it).
void app_use_connection(AppContext* app, Connection* connection);
