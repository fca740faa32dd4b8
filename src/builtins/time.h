// The time, locale and sleep built-ins, and the locale that date and time formatting uses.
#pragma once

#include <cstdint>

#include "lumo/extension.h"

// The process-wide locale of the formatting built-ins: the user's default until a script sets
// one (0 means "take the default at the next read").
std::uint32_t script_locale();
void set_script_locale(std::uint32_t locale);

#define LUMO_TIME_BUILTIN(name)                                                     \
  std::int32_t LUMO_CALL builtin_##name(CallContext* context, ValueNode* arguments, \
                                        ValueNode* result, char* message)

LUMO_TIME_BUILTIN(getlocale);
LUMO_TIME_BUILTIN(setlocale);
LUMO_TIME_BUILTIN(sleep);
LUMO_TIME_BUILTIN(getsystemtime);
LUMO_TIME_BUILTIN(setsystemtime);
LUMO_TIME_BUILTIN(getlocaltime);
LUMO_TIME_BUILTIN(setlocaltime);
LUMO_TIME_BUILTIN(comparetime);
LUMO_TIME_BUILTIN(difftime);
LUMO_TIME_BUILTIN(getdatestring);
LUMO_TIME_BUILTIN(getdate);
LUMO_TIME_BUILTIN(gettimestring);
LUMO_TIME_BUILTIN(gettime);

#undef LUMO_TIME_BUILTIN
