/* An example extension: load it from a script with #library("lumoext.dll") (on Linux the same
 * line loads lumoext.so) and call its functions by their script names. */
#include <lumo/extension.h>

/* The engine's entries, handed over when the library is loaded; NULL under an engine too old to
 * have them. */
static const LumoEngineTable* engine;

LUMO_EXPORT void LUMO_CALL _lumo_init(const LumoEngineTable* table) {
  engine = table;
}

/* ext_greet(name): a new string, "Hello, " and the name. */
LUMO_EXPORT int32_t LUMO_CALL _sfunc_ext_greet(CallContext* context, ValueNode* arguments,
                                               ValueNode* result, char* message) {
  const char* name;
  char text[LUMO_MESSAGE_SIZE] = "Hello, ";
  (void)context;
  if (arguments == NULL) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  name = lumo_text_of(arguments);
  if (name == NULL) return lumo_fail(message, "ext_greet: a name is needed");
  strncat(text, name, sizeof text - strlen(text) - 1);
  return lumo_store_text(result->value, text, message);
}

/* ext_add(a, b): the sum of two numbers. */
LUMO_EXPORT int32_t LUMO_CALL _sfunc_ext_add(CallContext* context, ValueNode* arguments,
                                             ValueNode* result, char* message) {
  ValueNode* second = lumo_argument(arguments, 1);
  (void)context;
  (void)message;
  if (second == NULL) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  lumo_store_number(result->value, (int32_t)((uint32_t)lumo_number_of(arguments) +
                                             (uint32_t)lumo_number_of(second)));
  return LUMO_STATUS_OK;
}

/* ext_pair(): a hash {"name": "lumo", "size": 2}. */
LUMO_EXPORT int32_t LUMO_CALL _sfunc_ext_pair(CallContext* context, ValueNode* arguments,
                                              ValueNode* result, char* message) {
  (void)context;
  (void)arguments;
  if (lumo_append_element(result, "name", 0, "lumo", message) != LUMO_STATUS_OK)
    return LUMO_STATUS_FAILED;
  return lumo_append_element(result, "size", 2, NULL, message);
}

/* ext_double(&v): doubles the caller's variable in place and returns the old value. The variable
 * may be a global that other script threads use: it is read and written through the engine. */
LUMO_EXPORT int32_t LUMO_CALL _sfunc_ext_double(CallContext* context, ValueNode* arguments,
                                                ValueNode* result, char* message) {
  int32_t old;
  (void)message;
  if (arguments == NULL) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  if (LUMO_ENGINE_HAS(engine, set_number)) {
    old = engine->number_of(context, arguments);
    engine->set_number(context, arguments, (int32_t)((uint32_t)old * 2u));
  } else {
    /* Without the engine's entries: safe for a local variable only. */
    old = lumo_number_of(arguments);
    lumo_store_number(arguments->value, (int32_t)((uint32_t)old * 2u));
  }
  lumo_store_number(result->value, old);
  return LUMO_STATUS_OK;
}

/* ext_store(&v, x): sets the caller's variable to the text of x (a number in decimal). Both are
 * read and written through the engine, so either may be a global; fails without the engine. */
LUMO_EXPORT int32_t LUMO_CALL _sfunc_ext_store(CallContext* context, ValueNode* arguments,
                                               ValueNode* result, char* message) {
  ValueNode* source = lumo_argument(arguments, 1);
  char* text;
  int32_t status;
  (void)result;
  if (source == NULL) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  if (!LUMO_ENGINE_HAS(engine, copy_text)) return lumo_fail(message, "ext_store: no engine");
  text = engine->copy_text(context, source);
  if (text == NULL) return lumo_fail(message, "Alloc failed");
  status = engine->set_text(context, arguments, text, message);
  lumo_free(text);
  return status;
}

/* ext_fail(): always fails with a message. */
LUMO_EXPORT int32_t LUMO_CALL _sfunc_ext_fail(CallContext* context, ValueNode* arguments,
                                              ValueNode* result, char* message) {
  (void)context;
  (void)arguments;
  (void)result;
  return lumo_fail(message, "ext_fail: as asked");
}

/* ext_need(x): needs one argument and returns it unchanged as a number. */
LUMO_EXPORT int32_t LUMO_CALL _sfunc_ext_need(CallContext* context, ValueNode* arguments,
                                              ValueNode* result, char* message) {
  (void)context;
  (void)message;
  if (arguments == NULL) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  lumo_store_number(result->value, lumo_number_of(arguments));
  return LUMO_STATUS_OK;
}
