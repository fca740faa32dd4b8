/* The records and the calling convention shared by the engine and native extension libraries.
 * Plain C, so that an extension written in C or C++ and the engine always agree on the layout.
 *
 * An extension exports functions named "_sfunc_" followed by the lower-case script name. Each takes
 * the caller's context, the first argument cell (null without arguments; further ones follow along
 * `next`), a fresh result cell holding the number 0, and a message buffer of LUMO_MESSAGE_SIZE bytes.
 * It returns LUMO_STATUS_OK (or any value >= 0) on success, LUMO_STATUS_FAILED with a message in the
 * buffer, or LUMO_STATUS_TOO_FEW_ARGUMENTS before doing anything when a required argument is missing. */
#ifndef LUMO_EXTENSION_H
#define LUMO_EXTENSION_H

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
  char* name;                /* owned; variable name or hash key, or null */
  int32_t name_hash;         /* signature of name; 0 without a name */
  Value* value;              /* owned when value->owner is this cell */
  CompiledPattern* pattern;  /* never owned by the cell */
  ValueNode* elements;       /* first element of the cell's hash */
  int32_t is_hash;           /* the cell stands for a whole hash */
  ValueNode* next;           /* next cell of the chain */
};

enum {
  LUMO_STATUS_OK = 0,
  LUMO_STATUS_FAILED = -1,
  LUMO_STATUS_TOO_FEW_ARGUMENTS = -2
};

typedef int32_t(LUMO_CALL* NativeFunction)(CallContext* context, ValueNode* arguments,
                                           ValueNode* result, char* message);

#ifdef __cplusplus
}
#endif

#endif /* LUMO_EXTENSION_H */
