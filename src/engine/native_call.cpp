// Calling a built-in or an extension function with the native calling convention.
#include <cstring>

#include "engine/builtin_table.h"
#include "engine/element_index.h"
#include "engine/error_report.h"
#include "engine/script.h"
#include "engine/value_stack.h"
#include "platform/memory.h"

static bool holds_chain(ValueNode* arguments) {
  for (ValueNode* argument = arguments; argument != nullptr; argument = argument->next) {
    if (argument->elements != nullptr || elements_of(argument) != nullptr) return true;
  }
  return false;
}

ValueNode* call_native(CallContext* context, NativeFunction entry, const char* called_name,
                       ValueNode* arguments) {
  ValueNode* result = make_node();
  if (result == nullptr) {
    report_error(context, "Alloc failed", called_name, 0);
    return CALL_FAILED;
  }
  char message[LUMO_MESSAGE_SIZE];
  message[0] = '\0';
  // A function reaches the chains of this thread's variables only through its arguments: when one
  // holds a hash (before or after), indexes of chains are set aside.
  bool reaches_chains = holds_chain(arguments);
  std::int32_t status = entry(context, arguments, result, message);
  if (reaches_chains || holds_chain(arguments)) note_chains_changed();
  message[LUMO_MESSAGE_SIZE - 1] = '\0';  // a function that filled the buffer may not have ended it
  if (status >= 0) {
    // A string result without text would crash its readers; it reads as the empty string.
    if (result->value->is_string && result->value->data.text == nullptr &&
        !set_string_value(result->value, "")) {
      result->value->is_string = 0;
    }
    return result;
  }
  if (status == LUMO_STATUS_TOO_FEW_ARGUMENTS) {
    report_error(context, "Too few arguments", called_name, 0);
  } else if (status == LUMO_STATUS_FAILED) {
    report_error(context, "Function error", message, 0);
  }
  free_node(result);
  return CALL_FAILED;
}
