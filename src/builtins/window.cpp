#include "builtins/window.h"

#include <cstring>

#include "builtins/args.h"
#include "engine/engine.h"
#include "engine/host.h"
#include "engine/retire.h"
#include "engine/script.h"
#include "platform/memory.h"

namespace {

// Hands a request to the host and waits for it. Memory that other threads retire meanwhile may go:
// the waiting thread stands on no shared chain.
std::intptr_t deliver_waiting(Host* host, std::uint32_t request, std::uintptr_t word,
                              std::intptr_t data) {
  QuiescentWait waiting;
  return host->deliver(host, request, word, data);
}

Host* host_of(CallContext* context) {
  return context != nullptr && context->script != nullptr ? context->script->host : nullptr;
}

std::intptr_t address_of(const char* text) {
  return reinterpret_cast<std::intptr_t>(text);
}

// A channel handle as the request's word: sign-extended, so -1 stays -1.
std::uintptr_t handle_word(std::int32_t handle) {
  return static_cast<std::uintptr_t>(static_cast<std::intptr_t>(handle));
}

// strecho and lineecho: a handle and a text to one view.
std::int32_t echo(CallContext* context, ValueNode* arguments, char* message, std::uint32_t request,
                  const char* name) {
  if (stop_requested()) return LUMO_STATUS_FAILED;
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  Host* host = host_of(context);
  if (host == nullptr || host->deliver == nullptr) return LUMO_STATUS_FAILED;
  std::int32_t handle = read_int_arg(arguments);
  char* text = read_string_arg(nth_argument(arguments, 1));
  if (text == nullptr) return alloc_failed(message, name);
  deliver_waiting(host, request, handle_word(handle), address_of(text));
  release(&text);
  return LUMO_STATUS_OK;
}

// channelmove and channeldelete: one handle.
std::int32_t channel_request(CallContext* context, ValueNode* arguments, std::uint32_t request) {
  if (stop_requested()) return LUMO_STATUS_FAILED;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  Host* host = host_of(context);
  if (host == nullptr || host->deliver == nullptr) return LUMO_STATUS_FAILED;
  std::int32_t handle = read_int_arg(arguments);
  deliver_waiting(host, request, reinterpret_cast<std::uintptr_t>(host),
                  static_cast<std::intptr_t>(handle));
  return LUMO_STATUS_OK;
}

}  // namespace

std::int32_t messagebox_default_button(std::uint32_t style) {
  static constexpr std::int32_t kSets[][3] = {
      {IDOK, 0, 0},                        // MB_OK
      {IDOK, IDCANCEL, 0},                 // MB_OKCANCEL
      {IDABORT, IDRETRY, IDIGNORE},        // MB_ABORTRETRYIGNORE
      {IDYES, IDNO, IDCANCEL},             // MB_YESNOCANCEL
      {IDYES, IDNO, 0},                    // MB_YESNO
      {IDRETRY, IDCANCEL, 0},              // MB_RETRYCANCEL
      {IDCANCEL, IDTRYAGAIN, IDCONTINUE},  // MB_CANCELTRYCONTINUE
  };
  std::uint32_t set = style & 0xF;
  if (set >= sizeof kSets / sizeof kSets[0]) return 0;
  std::uint32_t which = (style >> 8) & 0xF;  // MB_DEFBUTTON1 0x000, 2 0x100, 3 0x200
  if (which > 2 || kSets[set][which] == 0) which = 0;
  return kSets[set][which];
}

std::int32_t messagebox_without_windows(std::FILE* stream, const char* text, const char* caption,
                                        std::uint32_t style) {
  if (caption != nullptr) std::fprintf(stream, "%s: ", caption);
  std::fprintf(stream, "%s\n", text);
  std::fflush(stream);
  return messagebox_default_button(style);
}

LUMO_BUILTIN(messagebox) {
  if (stop_requested()) return LUMO_STATUS_FAILED;
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::intptr_t owner = read_int_arg(arguments);
  char* text = read_string_arg(nth_argument(arguments, 1));
  const ValueNode* caption_argument = nth_argument(arguments, 2);
  char* caption = caption_argument != nullptr ? read_string_arg(caption_argument) : nullptr;
  auto style = static_cast<std::uint32_t>(read_int_arg(nth_argument(arguments, 3)));
  if (text == nullptr || (caption_argument != nullptr && caption == nullptr)) {
    release(&text);
    release(&caption);
    return alloc_failed(message, "messagebox");
  }
  Host* host = host_of(context);
  std::int32_t button = host != nullptr && host->message_box != nullptr
                            ? host->message_box(host, owner, text, caption, style)
                            : messagebox_without_windows(stderr, text, caption, style);
  release(&text);
  release(&caption);
  return return_number(result, button);
}

LUMO_BUILTIN(strecho) {
  (void)result;
  return echo(context, arguments, message, UM_STRECHO, "strecho");
}

LUMO_BUILTIN(lineecho) {
  (void)result;
  return echo(context, arguments, message, UM_LINEECHO, "lineecho");
}

LUMO_BUILTIN(strsend) {
  (void)result;
  if (stop_requested()) return LUMO_STATUS_FAILED;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  Host* host = host_of(context);
  if (host == nullptr || host->deliver == nullptr) return LUMO_STATUS_FAILED;
  char* text = read_string_arg(arguments);
  if (text == nullptr) return alloc_failed(message, "strsend");
  deliver_waiting(host, UM_STRSEND, reinterpret_cast<std::uintptr_t>(host), address_of(text));
  release(&text);
  return LUMO_STATUS_OK;
}

LUMO_BUILTIN(channeladd) {
  if (stop_requested()) return LUMO_STATUS_FAILED;
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  Host* host = host_of(context);
  if (host == nullptr || host->deliver == nullptr) return LUMO_STATUS_FAILED;
  char* name = read_string_arg(arguments);
  if (name == nullptr) return alloc_failed(message, "channeladd");
  std::intptr_t handle = deliver_waiting(host, UM_CHANNELADD,
                                         reinterpret_cast<std::uintptr_t>(host), address_of(name));
  release(&name);
  return return_number(result, static_cast<std::int32_t>(handle));
}

LUMO_BUILTIN(channelmove) {
  (void)result;
  (void)message;
  return channel_request(context, arguments, UM_CHANNELMOVE);
}

LUMO_BUILTIN(channeldelete) {
  (void)result;
  (void)message;
  return channel_request(context, arguments, UM_CHANNELDELETE);
}

LUMO_BUILTIN(getcurrentchannel) {
  (void)arguments;
  if (stop_requested()) return LUMO_STATUS_FAILED;
  Host* host = host_of(context);
  char* name = host != nullptr && host->current_channel != nullptr ? host->current_channel(host)
                                                                   : dup_string("");
  return return_text(result, name, message, "getcurrentchannel");
}
