// The built-in `error`: a red line in the server view.
#include "engine/builtin_table.h"
#include "engine/engine.h"
#include "engine/host.h"
#include "engine/retire.h"
#include "engine/script.h"
#include "platform/memory.h"

std::int32_t LUMO_CALL builtin_error(CallContext* context, ValueNode* arguments, ValueNode*,
                                     char*) {
  if (stop_requested()) return LUMO_STATUS_FAILED;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  Host* host = context != nullptr && context->script != nullptr ? context->script->host : nullptr;
  if (host == nullptr || host->deliver == nullptr) return LUMO_STATUS_FAILED;
  char* text = text_of_value(arguments->value);
  if (text == nullptr) return LUMO_STATUS_FAILED;
  char* line = concat_strings(
      "\x03"
      "04",
      text);  // colour 4, red
  release(&text);
  if (line == nullptr) return LUMO_STATUS_FAILED;
  // Channel handle 0 is the server view; the host shows the line before the call returns.
  {
    // The host's thread may be busy for a while: memory retired meanwhile need not wait for it.
    QuiescentWait waiting;
    host->deliver(host, host->error_echo_request, 0, reinterpret_cast<std::intptr_t>(line));
  }
  release(&line);
  return LUMO_STATUS_OK;
}
