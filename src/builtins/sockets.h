// Socket built-ins: TCP/IPv4 sockets that scripts open themselves, and the resolver. Waits run in
// one-second polls so that a stop of all script code ends them.
#pragma once

#include "builtins/strings.h"

LUMO_BUILTIN(gethostname);
LUMO_BUILTIN(gethostbyname);
LUMO_BUILTIN(gethostbyaddr);
LUMO_BUILTIN(getsockname);
LUMO_BUILTIN(getpeername);
LUMO_BUILTIN(getsockport);
LUMO_BUILTIN(socket);
LUMO_BUILTIN(closesocket);
LUMO_BUILTIN(connect);
LUMO_BUILTIN(bind);
LUMO_BUILTIN(listen);
LUMO_BUILTIN(accept);
LUMO_BUILTIN(select);
LUMO_BUILTIN(recv);
LUMO_BUILTIN(recvhash);
LUMO_BUILTIN(send);
LUMO_BUILTIN(sendhash);
