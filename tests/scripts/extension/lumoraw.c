/* An extension of the first convention: no init function, and by-reference results written
 * straight into the argument's Value, as extensions built before the engine entries do. */
#include <lumo/extension.h>

/* raw_double(&v): doubles the caller's variable in place and returns the old value. */
LUMO_EXPORT int32_t LUMO_CALL _sfunc_raw_double(CallContext* context, ValueNode* arguments,
                                                ValueNode* result, char* message) {
  int32_t old;
  (void)context;
  (void)message;
  if (arguments == NULL) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  old = lumo_number_of(arguments);
  lumo_store_number(arguments->value, (int32_t)((uint32_t)old * 2u));
  lumo_store_number(result->value, old);
  return LUMO_STATUS_OK;
}

/* raw_settext(&v, text): sets the caller's variable to a copy of the text. */
LUMO_EXPORT int32_t LUMO_CALL _sfunc_raw_settext(CallContext* context, ValueNode* arguments,
                                                 ValueNode* result, char* message) {
  ValueNode* source = lumo_argument(arguments, 1);
  (void)context;
  (void)result;
  if (source == NULL) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  if (lumo_text_of(source) == NULL) return lumo_fail(message, "raw_settext: a text is needed");
  return lumo_store_text(arguments->value, lumo_text_of(source), message);
}

/* raw_argname(v): the name its argument cell carries, or "-" without one. */
LUMO_EXPORT int32_t LUMO_CALL _sfunc_raw_argname(CallContext* context, ValueNode* arguments,
                                                 ValueNode* result, char* message) {
  (void)context;
  if (arguments == NULL) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  return lumo_store_text(result->value, arguments->name != NULL ? arguments->name : "-", message);
}
