/* The records and the calling convention shared by the engine and native extension libraries.
 * Plain C, so that an extension written in C or C++ and the engine always agree on the layout.
 *
 * An extension exports functions named "_sfunc_" followed by the lower-case script name. Each takes
 * the caller's context, the first argument cell (null without arguments; further ones follow along
 * `next`), a fresh result cell holding the number 0, and a message buffer of LUMO_MESSAGE_SIZE
 * bytes. It returns LUMO_STATUS_OK (or any value >= 0) on success, LUMO_STATUS_FAILED with a
 * message in the buffer, or LUMO_STATUS_TOO_FEW_ARGUMENTS before doing anything when a required
 * argument is missing.
 *
 * An extension may also export, under the name LUMO_INIT_NAME, a function of type LumoInitFunction.
 * The engine calls it once each time a script loads the library, before any other of its functions,
 * with a table of engine entries (LumoEngineTable below). Extensions without it work as before. */
#ifndef LUMO_EXTENSION_H
#define LUMO_EXTENSION_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The platform's own convention for its system interfaces, where it has one besides the default. */
#if defined(_WIN32) && !defined(_WIN64)
#define LUMO_CALL __stdcall
#else
#define LUMO_CALL
#endif

#if defined(_WIN32)
#define LUMO_EXPORT __declspec(dllexport)
#else
#define LUMO_EXPORT __attribute__((visibility("default")))
#endif

#define LUMO_EXPORT_PREFIX "_sfunc_"
#define LUMO_MESSAGE_SIZE 256

typedef struct ValueNode ValueNode;
typedef struct CallContext CallContext;         /* opaque to extensions */
typedef struct CompiledPattern CompiledPattern; /* opaque to extensions */

/* A scalar: a signed 32-bit number, or an owned NUL-terminated CP932 string. */
typedef union ValueData {
  int32_t number;
  char* text;
} ValueData;

typedef struct Value {
  ValueData data;
  int32_t is_string; /* 0 number, 1 string */
  int32_t shared;    /* 1 for a global variable or an element under one */
  ValueNode* owner;  /* the cell that owns this Value */
} Value;

/* The one list cell: variable, hash element, argument, value-stack entry and call result. */
struct ValueNode {
  char* name;               /* owned; variable name or hash key, or null */
  int32_t name_hash;        /* signature of name; 0 without a name */
  Value* value;             /* owned when value->owner is this cell */
  CompiledPattern* pattern; /* never owned by the cell */
  ValueNode* elements;      /* first element of the cell's hash */
  int32_t is_hash;          /* the cell stands for a whole hash */
  ValueNode* next;          /* next cell of the chain */
};

enum { LUMO_STATUS_OK = 0, LUMO_STATUS_FAILED = -1, LUMO_STATUS_TOO_FEW_ARGUMENTS = -2 };

typedef int32_t(LUMO_CALL* NativeFunction)(CallContext* context, ValueNode* arguments,
                                           ValueNode* result, char* message);

/* Entries of the engine for extensions. A variable that the script passed (an argument cell that
 * refers to it) may be a global, read and written by other script threads at the same time. Writing
 * its Value directly (lumo_store_number, lumo_store_text) races with them; these entries read or
 * write it as the engine does, under the lock that guards globals. Each entry is one step: a read
 * followed by a write is not atomic. Any argument cell may be given, and so may the result cell.
 *
 * The table and its entries stay valid for the life of the process, and every call of the init
 * function passes the same table, so an extension can keep the pointer in a static variable. Later
 * versions only add entries at the end: `size` tells how far the engine that filled the table goes,
 * and LUMO_ENGINE_HAS tells whether an entry is there. */
#define LUMO_INIT_NAME "_lumo_init"

typedef struct LumoEngineTable {
  uint32_t size;    /* bytes of the table as the engine filled it */
  uint32_t version; /* 1 for the entries below */
  /* Stores the number in the cell's Value. LUMO_STATUS_OK. */
  int32_t(LUMO_CALL* set_number)(CallContext* context, ValueNode* cell, int32_t number);
  /* Stores a copy of `text` in the cell's Value. LUMO_STATUS_FAILED with "Alloc failed" in the
   * message buffer when memory runs out (the Value is unchanged then), else LUMO_STATUS_OK. */
  int32_t(LUMO_CALL* set_text)(CallContext* context, ValueNode* cell, const char* text,
                               char* message);
  /* The cell's number; a string counts as the engine reads it as a number. */
  int32_t(LUMO_CALL* number_of)(CallContext* context, const ValueNode* cell);
  /* A copy of the cell's text (a number in decimal) from the shared heap, for the caller to free
   * with lumo_free; NULL when memory runs out. */
  char*(LUMO_CALL* copy_text)(CallContext* context, const ValueNode* cell);
} LumoEngineTable;

#define LUMO_ENGINE_TABLE_VERSION 1
#define LUMO_ENGINE_HAS(table, entry)                                            \
  ((table) != NULL &&                                                            \
   (table)->size >= offsetof(LumoEngineTable, entry) + sizeof((table)->entry) && \
   (table)->entry != NULL)

typedef void(LUMO_CALL* LumoInitFunction)(const LumoEngineTable* engine);

/* Helpers for extensions (the engine has its own). Every string handed to the engine, and every
 * string an extension frees, belongs to the heap the engine shares with extensions: the process
 * heap (LocalAlloc/LocalFree) on Windows, malloc/free elsewhere. */
#ifndef LUMO_ENGINE_BUILD

#include <stddef.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#endif

static inline void* lumo_alloc(size_t size) {
#ifdef _WIN32
  return (void*)LocalAlloc(LMEM_FIXED | LMEM_ZEROINIT, size);
#else
  return calloc(1, size);
#endif
}

static inline void lumo_free(void* block) {
#ifdef _WIN32
  if (block != NULL) LocalFree((HLOCAL)block);
#else
  free(block);
#endif
}

/* A copy of `text` from the shared heap, or NULL when memory runs out. */
static inline char* lumo_copy_text(const char* text) {
  size_t size = strlen(text) + 1;
  char* copy = (char*)lumo_alloc(size);
  if (copy != NULL) memcpy(copy, text, size);
  return copy;
}

/* The signature the engine keeps beside every name: h = 2h + byte, bytes taken as signed. */
static inline int32_t lumo_name_hash(const char* name) {
  uint32_t hash = 0;
  for (; *name != '\0'; ++name)
    hash = 2 * hash + (uint32_t)(int32_t)(signed char)*name;
  return (int32_t)hash;
}

/* The index-th argument (0 is the first), or NULL when the call has fewer. */
static inline ValueNode* lumo_argument(ValueNode* arguments, int index) {
  while (arguments != NULL && index-- > 0)
    arguments = arguments->next;
  return arguments;
}

/* An argument's number; a string counts by its decimal reading (sign and digits). */
static inline int32_t lumo_number_of(const ValueNode* argument) {
  const char* text;
  uint32_t number = 0;
  int negative = 0;
  if (!argument->value->is_string) return argument->value->data.number;
  text = argument->value->data.text;
  while (*text == ' ' || *text == '\t')
    ++text;
  if (*text == '-' || *text == '+') negative = *text++ == '-';
  while (*text >= '0' && *text <= '9')
    number = number * 10 + (uint32_t)(*text++ - '0');
  return (int32_t)(negative ? 0u - number : number);
}

/* An argument's text, or NULL when it holds a number. */
static inline const char* lumo_text_of(const ValueNode* argument) {
  return argument->value->is_string ? argument->value->data.text : NULL;
}

/* Replaces a Value's scalar with a number (releasing its old string). Through an argument that
 * refers to a script variable, this is how a function returns a value by reference; for a variable
 * that may be a global, the engine's set_number is the safe way. */
static inline void lumo_store_number(Value* value, int32_t number) {
  if (value->is_string) lumo_free(value->data.text);
  value->data.text = NULL;
  value->data.number = number;
  value->is_string = 0;
}

/* Replaces a Value's scalar with a copy of `text`; LUMO_STATUS_FAILED with "Alloc failed" in the
 * message buffer when memory runs out (the Value is unchanged then). */
static inline int32_t lumo_store_text(Value* value, const char* text, char* message) {
  char* copy = lumo_copy_text(text);
  if (copy == NULL) {
    strcpy(message, "Alloc failed");
    return LUMO_STATUS_FAILED;
  }
  if (value->is_string) lumo_free(value->data.text);
  value->data.text = copy;
  value->is_string = 1;
  return LUMO_STATUS_OK;
}

/* Copies a failure message into the message buffer (cut to fit) and returns LUMO_STATUS_FAILED. */
static inline int32_t lumo_fail(char* message, const char* text) {
  size_t length = strlen(text);
  if (length >= LUMO_MESSAGE_SIZE) length = LUMO_MESSAGE_SIZE - 1;
  memcpy(message, text, length);
  message[length] = '\0';
  return LUMO_STATUS_FAILED;
}

/* Appends an element (key, and a number or a copy of `text` when it is not NULL) to the hash under
 * `container`, which then stands for the whole hash. LUMO_STATUS_FAILED with "Alloc failed" when
 * memory runs out. */
static inline int32_t lumo_append_element(ValueNode* container, const char* key, int32_t number,
                                          const char* text, char* message) {
  ValueNode** tail = &container->elements;
  ValueNode* element = (ValueNode*)lumo_alloc(sizeof(ValueNode));
  Value* value = (Value*)lumo_alloc(sizeof(Value));
  char* name = lumo_copy_text(key);
  char* copy = text != NULL ? lumo_copy_text(text) : NULL;
  if (element == NULL || value == NULL || name == NULL || (text != NULL && copy == NULL)) {
    lumo_free(element);
    lumo_free(value);
    lumo_free(name);
    lumo_free(copy);
    return lumo_fail(message, "Alloc failed");
  }
  if (copy != NULL) {
    value->data.text = copy;
    value->is_string = 1;
  } else {
    value->data.number = number;
  }
  value->owner = element;
  element->name = name;
  element->name_hash = lumo_name_hash(name);
  element->value = value;
  while (*tail != NULL)
    tail = &(*tail)->next;
  *tail = element;
  container->is_hash = 1;
  return LUMO_STATUS_OK;
}

#endif /* LUMO_ENGINE_BUILD */

#ifdef __cplusplus
}
#endif

#endif /* LUMO_EXTENSION_H */
