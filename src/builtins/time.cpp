// The time, locale and sleep built-ins. Times travel as time hashes; formatting uses the
// platform's date and time pictures in the script locale.
#include "builtins/time.h"

#include <atomic>

#include "builtins/args.h"
#include "engine/engine.h"
#include "engine/retire.h"
#include "platform/clock.h"
#include "platform/date_format.h"
#include "platform/thread.h"

namespace {

std::atomic<std::uint32_t> ScriptLocale{0};

constexpr std::int64_t TICKS_PER_SECOND = 10000000;
// The formatting output, terminator included.
constexpr std::size_t FORMAT_SIZE = 255;

std::int32_t return_time(ValueNode* result, const SystemTime& time, char* message,
                         const char* name) {
  if (!time_hash_from_system_time(time, result)) return alloc_failed(message, name);
  return LUMO_STATUS_OK;
}

// A time hash as ticks; one the platform rejects counts as 0.
std::int64_t ticks_of_argument(const ValueNode* argument) {
  std::int64_t ticks = 0;
  if (!system_time_to_ticks(system_time_from_time_hash(argument), &ticks)) return 0;
  return ticks;
}

std::int32_t seconds_between(ValueNode* arguments, ValueNode* result) {
  if (arguments == nullptr || arguments->next == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int64_t difference = ticks_of_argument(arguments) - ticks_of_argument(arguments->next);
  // Division truncates toward zero; only the low 32 bits of the seconds remain.
  auto seconds = static_cast<std::uint64_t>(difference / TICKS_PER_SECOND);
  return return_number(result, static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds)));
}

using Formatter = bool (*)(std::uint32_t locale, const SystemTime* time, const char* picture,
                           char* out, std::size_t size);

std::int32_t format_with(Formatter formatter, ValueNode* arguments, ValueNode* result,
                         char* message, const char* name) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  char* picture = read_string_arg(arguments);
  if (picture == nullptr) return alloc_failed(message, name);
  SystemTime given{};
  const ValueNode* time_argument = arguments->next;
  if (time_argument != nullptr) given = system_time_from_time_hash(time_argument);
  char text[FORMAT_SIZE];
  // An empty picture asks for the locale's default format.
  bool formatted = formatter(script_locale(), time_argument != nullptr ? &given : nullptr,
                             picture[0] != '\0' ? picture : nullptr, text, sizeof text);
  release(&picture);
  if (!formatted) text[0] = '\0';
  return return_text(result, dup_string(text), message, name);
}

}  // namespace

std::uint32_t script_locale() {
  std::uint32_t locale = ScriptLocale.load(std::memory_order_relaxed);
  if (locale != 0) return locale;
  locale = user_default_locale();
  ScriptLocale.store(locale, std::memory_order_relaxed);
  return locale;
}

void set_script_locale(std::uint32_t locale) {
  ScriptLocale.store(locale, std::memory_order_relaxed);
}

std::int32_t LUMO_CALL builtin_getlocale(CallContext*, ValueNode*, ValueNode* result, char*) {
  return return_number(result, static_cast<std::int32_t>(script_locale() & 0x3FF));
}

std::int32_t LUMO_CALL builtin_setlocale(CallContext*, ValueNode* arguments, ValueNode* result,
                                         char*) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  auto primary = static_cast<std::uint32_t>(read_int_arg(arguments));
  auto sub = static_cast<std::uint32_t>(read_int_arg(arguments->next));
  set_script_locale((primary | (sub & 0xFF) << 10) & 0xFFFF);
  return return_number(result, 0);
}

std::int32_t LUMO_CALL builtin_sleep(CallContext*, ValueNode* arguments, ValueNode* result, char*) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::int32_t seconds = read_int_arg(arguments);
  if (seconds <= 0) {
    yield_processor();
    return return_number(result, 0);
  }
  // Whole seconds, each followed by the stop test, so a stop ends the pause within a second.
  // Memory that other threads retire meanwhile may go: a sleeping thread stands on no shared chain.
  QuiescentWait waiting;
  for (std::int32_t i = 0; i < seconds; ++i) {
    sleep_milliseconds(1000);
    if (stop_requested()) return LUMO_STATUS_FAILED;
  }
  return return_number(result, 0);
}

std::int32_t LUMO_CALL builtin_getsystemtime(CallContext*, ValueNode*, ValueNode* result,
                                             char* message) {
  SystemTime now{};
  get_system_time(&now);
  return return_time(result, now, message, "GetSystemTime");
}

std::int32_t LUMO_CALL builtin_getlocaltime(CallContext*, ValueNode*, ValueNode* result,
                                            char* message) {
  SystemTime now{};
  get_local_time(&now);
  return return_time(result, now, message, "GetLocalTime");
}

std::int32_t LUMO_CALL builtin_setsystemtime(CallContext*, ValueNode* arguments, ValueNode* result,
                                             char*) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  bool set = set_system_time(system_time_from_time_hash(arguments));
  return return_number(result, set ? 0 : -1);
}

std::int32_t LUMO_CALL builtin_setlocaltime(CallContext*, ValueNode* arguments, ValueNode* result,
                                            char*) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  bool set = set_local_time(system_time_from_time_hash(arguments));
  return return_number(result, set ? 0 : -1);
}

std::int32_t LUMO_CALL builtin_comparetime(CallContext*, ValueNode* arguments, ValueNode* result,
                                           char*) {
  return seconds_between(arguments, result);
}

std::int32_t LUMO_CALL builtin_difftime(CallContext*, ValueNode* arguments, ValueNode* result,
                                        char*) {
  return seconds_between(arguments, result);
}

std::int32_t LUMO_CALL builtin_getdatestring(CallContext*, ValueNode* arguments, ValueNode* result,
                                             char* message) {
  return format_with(format_date, arguments, result, message, "GetDateString");
}

std::int32_t LUMO_CALL builtin_getdate(CallContext*, ValueNode* arguments, ValueNode* result,
                                       char* message) {
  return format_with(format_date, arguments, result, message, "GetDate");
}

std::int32_t LUMO_CALL builtin_gettimestring(CallContext*, ValueNode* arguments, ValueNode* result,
                                             char* message) {
  return format_with(format_time, arguments, result, message, "GetTimeString");
}

std::int32_t LUMO_CALL builtin_gettime(CallContext*, ValueNode* arguments, ValueNode* result,
                                       char* message) {
  return format_with(format_time, arguments, result, message, "GetTime");
}
