// Regular-expression built-ins: the first match with its groups, all matches, and replacement
// with group references.
#pragma once

#include "builtins/strings.h"

LUMO_BUILTIN(regmatch);
LUMO_BUILTIN(regmatchall);
LUMO_BUILTIN(regreplace);
