#include "builtins/args.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "engine/script.h"
#include "platform/memory.h"

std::int32_t alloc_failed(char* message, const char* name) {
  std::snprintf(message, LUMO_MESSAGE_SIZE, "%s: Alloc failed", name);
  return LUMO_STATUS_FAILED;
}

std::int32_t return_text(ValueNode* result, char* text, char* message, const char* name) {
  if (text == nullptr) return alloc_failed(message, name);
  result->value->data.text = text;
  result->value->is_string = 1;
  return LUMO_STATUS_OK;
}

std::int32_t return_number(ValueNode* result, std::int32_t number) {
  result->value->data.number = number;
  return LUMO_STATUS_OK;
}

std::int32_t read_int_arg(const ValueNode* argument) {
  return argument == nullptr ? 0 : number_of_value(argument->value);
}

char* read_string_arg(const ValueNode* argument) {
  return argument == nullptr ? dup_string("") : text_of_value(argument->value);
}

bool store_bytes_in_hash(CallContext* context, ValueNode* owner, const unsigned char* bytes,
                         std::int32_t count) {
  RecursiveLock* lock = owner->value->shared ? script_set_lock(context) : nullptr;
  if (lock != nullptr) lock_enter(lock);
  bool stored = true;
  ValueNode** slot = &owner->elements;
  std::int32_t total = count > 0 ? count : 1;
  for (std::int32_t i = 0; i < total; ++i) {
    ValueNode* cell = std::atomic_ref<ValueNode*>(*slot).load(std::memory_order_acquire);
    if (cell == nullptr) {
      cell = make_node();
      if (cell == nullptr) {
        stored = false;
        break;
      }
      cell->value->shared = owner->value->shared;
      // Other threads may walk a global's chain meanwhile: only complete cells are linked.
      std::atomic_ref<ValueNode*>(*slot).store(cell, std::memory_order_release);
    }
    store_scalar(cell->value, 0, count > 0 ? bytes[i] : 0, nullptr);
    slot = &cell->next;
  }
  if (lock != nullptr) lock_leave(lock);
  return stored;
}

unsigned char* read_bytes_from_hash(const ValueNode* argument, std::int32_t* count) {
  // A global hash may grow or shrink on another thread between the two walks: links are read with
  // acquire loads, and the second walk never writes past the count of the first.
  auto next_of = [](const ValueNode* cell) {
    return std::atomic_ref<ValueNode*>(const_cast<ValueNode*&>(cell->next))
        .load(std::memory_order_acquire);
  };
  std::int32_t total = 0;
  const ValueNode* first = argument != nullptr ? argument->elements : nullptr;
  for (const ValueNode* cell = first; cell != nullptr; cell = next_of(cell))
    ++total;
  auto* bytes = static_cast<unsigned char*>(alloc_block(static_cast<std::size_t>(total)));
  *count = bytes != nullptr ? total : 0;
  if (bytes == nullptr) return nullptr;
  std::int32_t i = 0;
  for (const ValueNode* cell = first; cell != nullptr && i < total; cell = next_of(cell), ++i) {
    ScalarSnapshot scalar = read_scalar(cell->value);
    if (scalar.failed) {  // a global's text could not be copied
      release(&bytes);
      *count = 0;
      return nullptr;
    }
    bytes[i] = scalar.is_string ? static_cast<unsigned char>(scalar.text[0])
                                : static_cast<unsigned char>(scalar.number & 0xFF);
  }
  *count = i;
  return bytes;
}

namespace {

constexpr const char* kTimeKeys[8] = {"year", "month",  "week",   "day",
                                      "hour", "minute", "second", "milliseconds"};

std::uint16_t* time_field(SystemTime* time, int index) {
  std::uint16_t* fields[8] = {&time->year, &time->month,  &time->day_of_week, &time->day,
                              &time->hour, &time->minute, &time->second,      &time->milliseconds};
  return fields[index];
}

}  // namespace

bool time_hash_from_system_time(const SystemTime& time, ValueNode* result) {
  SystemTime copy = time;
  ValueNode* chain = nullptr;
  ValueNode** tail = &chain;
  for (int i = 0; i < 8; ++i) {
    ValueNode* cell = make_node();
    if (cell == nullptr || (cell->name = dup_string(kTimeKeys[i])) == nullptr) {
      free_node(cell);
      free_chain(chain);
      return false;
    }
    cell->name_hash = name_hash_of(kTimeKeys[i]);
    cell->value->data.number = *time_field(&copy, i);
    *tail = cell;
    tail = &cell->next;
  }
  free_chain(result->elements);
  result->elements = chain;
  result->is_hash = 1;
  return true;
}

SystemTime system_time_from_time_hash(const ValueNode* argument) {
  SystemTime time{};
  if (argument == nullptr) return time;
  for (const ValueNode* cell = first_of(argument->value->owner); cell != nullptr;
       cell = next_of(cell)) {
    const char* name = name_of(cell);
    if (name == nullptr) continue;
    for (int i = 0; i < 8; ++i) {
      if (std::strcmp(name, kTimeKeys[i]) == 0) {
        *time_field(&time, i) = static_cast<std::uint16_t>(read_int_arg(cell));
        break;
      }
    }
  }
  return time;
}
