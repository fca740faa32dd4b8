// Calling a built-in or an extension function with the native calling convention.
#include <cstring>

#include "builtins/hash.h"
#include "builtins/strings.h"
#include "builtins/window.h"
#include "engine/builtin_table.h"
#include "engine/element_index.h"
#include "engine/error_report.h"
#include "engine/script.h"
#include "platform/memory.h"

bool only_reads_arguments(NativeFunction entry) {
  // The string, hash-reading and window built-ins: they read their arguments and make their result,
  // nothing else.
  static constexpr NativeFunction kReaders[] = {
      builtin_istype,
      builtin_int,
      builtin_uintstr,
      builtin_chr,
      builtin_asc,
      builtin_string,
      builtin_trim,
      builtin_len,
      builtin_left,
      builtin_right,
      builtin_mid,
      builtin_instr,
      builtin_strcmp,
      builtin_strmatch,
      builtin_tolower,
      builtin_toupper,
      // The reading hash built-ins (hashmerge and hashcopy make new chains for their result).
      builtin_gethashcount,
      builtin_gethashkey,
      builtin_ishashkey,
      builtin_hashfind,
      builtin_hashcopy,
      builtin_hashmerge,
      builtin_hashtostring,
      // The window built-ins hand their arguments' text to the host and change no variable.
      builtin_messagebox,
      builtin_strecho,
      builtin_lineecho,
      builtin_strsend,
      builtin_channeladd,
      builtin_channelmove,
      builtin_channeldelete,
      builtin_getcurrentchannel,
  };
  for (NativeFunction reader : kReaders) {
    if (entry == reader) return true;
  }
  return false;
}

bool call_native_into(CallContext* context, NativeFunction entry, const char* called_name,
                      ValueNode* arguments, bool reads_only, ValueNode* result) {
  char message[LUMO_MESSAGE_SIZE];
  message[0] = '\0';
  std::int32_t status = entry(context, arguments, result, message);
  // Through its arguments a function may relink the chains of this thread's variables, and of
  // globals (an extension may do so without the lock the built-ins take).
  if (!reads_only) {
    note_chains_changed();
    for (const ValueNode* argument = arguments; argument != nullptr; argument = argument->next) {
      if (argument->value != nullptr && is_shared_value(argument->value)) {
        note_shared_chains_changed();
        break;
      }
    }
  }
  message[LUMO_MESSAGE_SIZE - 1] = '\0';  // a function that filled the buffer may not have ended it
  if (status >= 0) {
    // A string result without text would crash its readers; it reads as the empty string.
    if (result->value->is_string && result->value->data.text == nullptr &&
        !set_string_value(result->value, "")) {
      result->value->is_string = 0;
    }
    return true;
  }
  if (status == LUMO_STATUS_TOO_FEW_ARGUMENTS) {
    report_error(context, "Too few arguments", called_name, 0);
  } else if (status == LUMO_STATUS_FAILED) {
    report_error(context, "Function error", message, 0);
  }
  return false;
}

ValueNode* call_native(CallContext* context, NativeFunction entry, const char* called_name,
                       ValueNode* arguments, bool reads_only) {
  ValueNode* result = make_node();
  if (result == nullptr) {
    report_error(context, "Alloc failed", called_name, 0);
    return CALL_FAILED;
  }
  if (call_native_into(context, entry, called_name, arguments, reads_only, result)) return result;
  free_node(result);
  return CALL_FAILED;
}
