// The entries the engine hands to an extension's init function: reads and writes of the Values
// behind argument cells, done under the ScriptSet lock when they belong to a global.
#pragma once

#include "lumo/extension.h"

// One table for the whole process; never changes.
const LumoEngineTable* engine_table();
