// Conversion and string built-ins. Positions and lengths count bytes.
#pragma once

#include <cstdint>

#include "lumo/extension.h"

#define LUMO_BUILTIN(name)                                                          \
  std::int32_t LUMO_CALL builtin_##name(CallContext* context, ValueNode* arguments, \
                                        ValueNode* result, char* message)

LUMO_BUILTIN(istype);
LUMO_BUILTIN(int);
LUMO_BUILTIN(uintstr);
LUMO_BUILTIN(chr);
LUMO_BUILTIN(asc);
LUMO_BUILTIN(string);
LUMO_BUILTIN(trim);
LUMO_BUILTIN(len);
LUMO_BUILTIN(left);
LUMO_BUILTIN(right);
LUMO_BUILTIN(mid);
LUMO_BUILTIN(instr);
LUMO_BUILTIN(strcmp);
LUMO_BUILTIN(strmatch);
LUMO_BUILTIN(tolower);
LUMO_BUILTIN(toupper);

// Whole-text wildcard match: "*" any run of bytes, "?" one byte, other bytes equal with ASCII
// letters folded.
bool wildcard_match(const char* text, const char* pattern);
