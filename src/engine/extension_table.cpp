#include "engine/extension_table.h"

#include <cstring>

#include "engine/script.h"
#include "engine/value.h"
#include "platform/memory.h"

namespace {

// Stores into the cell's Value as an assignment does: a global's under the ScriptSet lock (the
// shared-scalar lock inside store_scalar guards the readers).
void store_under_lock(CallContext* context, ValueNode* cell, std::int32_t is_string,
                      std::int32_t number, char* text) {
  Value* target = cell->value;
  RecursiveLock* lock = is_shared_value(target) ? script_set_lock(context) : nullptr;
  if (lock != nullptr) lock_enter(lock);
  store_scalar(target, is_string, number, text);
  if (lock != nullptr) lock_leave(lock);
}

std::int32_t LUMO_CALL set_number(CallContext* context, ValueNode* cell, std::int32_t number) {
  store_under_lock(context, cell, 0, number, nullptr);
  return LUMO_STATUS_OK;
}

std::int32_t LUMO_CALL set_text(CallContext* context, ValueNode* cell, const char* text,
                                char* message) {
  char* copy = dup_string(text != nullptr ? text : "");
  if (copy == nullptr) {
    if (message != nullptr) std::strcpy(message, "Alloc failed");
    return LUMO_STATUS_FAILED;
  }
  store_under_lock(context, cell, 1, 0, copy);
  return LUMO_STATUS_OK;
}

std::int32_t LUMO_CALL number_of(CallContext*, const ValueNode* cell) {
  return number_of_value(cell->value);
}

char* LUMO_CALL copy_text(CallContext*, const ValueNode* cell) {
  return text_of_value(cell->value);
}

constexpr LumoEngineTable kTable = {
    sizeof(LumoEngineTable), LUMO_ENGINE_TABLE_VERSION, set_number, set_text, number_of, copy_text,
};

}  // namespace

const LumoEngineTable* engine_table() {
  return &kTable;
}
