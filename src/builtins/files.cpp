// The file and directory built-ins. Paths go to the platform as the script wrote them; results
// of 0 and -1 say whether the platform did it, never why.
#include "builtins/files.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "builtins/args.h"
#include "builtins/handles.h"
#include "engine/call.h"
#include "engine/engine.h"
#include "engine/events.h"
#include "engine/loader.h"
#include "engine/script.h"
#include "platform/directory.h"
#include "platform/file.h"
#include "platform/memory.h"
#include "platform/open_file.h"
#include "platform/shell_open.h"

namespace {

// An argument's text, owned for the scope; null only when memory ran out.
class ArgumentText {
 public:
  explicit ArgumentText(const ValueNode* argument) : text_(read_string_arg(argument)) {}
  ~ArgumentText() { release(&text_); }
  ArgumentText(const ArgumentText&) = delete;
  ArgumentText& operator=(const ArgumentText&) = delete;
  const char* get() const { return text_ != nullptr ? text_ : ""; }
  bool ok() const { return text_ != nullptr; }

 private:
  char* text_;
};

struct FileObject {
  ScriptFile* file = nullptr;
  FileObject() = default;
  FileObject(const FileObject&) = delete;
  FileObject& operator=(const FileObject&) = delete;
  ~FileObject() { close_file(&file); }
};

// A directory search and its current entry. Threads that share a handle take turns.
struct FindState {
  std::mutex lock;
  FileSearch* search = nullptr;
  FileInfo current{};
  ~FindState() { find_close(&search); }
};

HandleTable<FileObject>& file_handles() {
  static HandleTable<FileObject> table;
  return table;
}

HandleTable<FindState>& find_handles() {
  static HandleTable<FindState> table;
  return table;
}

std::int32_t invalid_handle(char* message, const char* operation) {
  std::snprintf(message, LUMO_MESSAGE_SIZE, "%s: Invalid handle", operation);
  return LUMO_STATUS_FAILED;
}

std::int32_t return_success(ValueNode* result, bool done) {
  return return_number(result, done ? 0 : -1);
}

// The built-ins that take one path and hand it to one platform operation.
std::int32_t path_operation(ValueNode* arguments, ValueNode* result,
                            bool (*operation)(const char*)) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgumentText path(arguments);
  return return_success(result, path.ok() && operation(path.get()));
}

std::int32_t two_path_operation(ValueNode* arguments, ValueNode* result,
                                bool (*operation)(const char*, const char*)) {
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgumentText source(arguments);
  ArgumentText target(arguments->next);
  return return_success(result,
                        source.ok() && target.ok() && operation(source.get(), target.get()));
}

bool same_word_ignoring_case(const char* text, const char* word) {
  for (; *word != '\0'; ++text, ++word) {
    char c = *text >= 'A' && *text <= 'Z' ? static_cast<char>(*text - 'A' + 'a') : *text;
    if (c != *word) return false;
  }
  return *text == '\0';
}

void store_number_in(CallContext* context, const ValueNode* target, std::int32_t number) {
  Value source{};
  source.data.number = number;
  assign_value(context, target->value, &source);
}

// The common part of fileread and filereadhash: the bytes read, or the status to return.
struct ReadBytes {
  unsigned char* bytes;
  std::uint32_t count;
};

// Reads up to the asked count (the file's size when none is given) from the current position.
// Status -1 with the allocation message for a negative count or a buffer that cannot be made;
// `*failed` when the platform's read fails.
std::int32_t read_from_handle(ValueNode* arguments, const char* alloc_name, char* message,
                              ReadBytes* read, bool* failed) {
  std::shared_ptr<FileObject> object = file_handles().find(read_int_arg(arguments));
  if (object == nullptr) return invalid_handle(message, "FileRead");
  const ValueNode* count_argument = nth_argument(arguments, 2);
  std::uint32_t count = 0;
  if (count_argument == nullptr) {
    std::uint64_t size = 0;
    if (file_size(object->file, &size)) count = static_cast<std::uint32_t>(size);
  } else {
    std::int32_t asked = read_int_arg(count_argument);
    if (asked < 0) return alloc_failed(message, alloc_name);
    count = static_cast<std::uint32_t>(asked);
  }
  // No read gives more than the file holds after the position: a large count needs no buffer of
  // its size.
  std::uint64_t size = 0;
  std::uint64_t position = 0;
  if (file_size(object->file, &size) && file_position(object->file, &position)) {
    std::uint64_t remaining = size > position ? size - position : 0;
    if (remaining < count) count = static_cast<std::uint32_t>(remaining);
  }
  auto* buffer = static_cast<unsigned char*>(alloc_zeroed(std::size_t{count} + 1));
  if (buffer == nullptr) return alloc_failed(message, alloc_name);
  std::uint32_t got = 0;
  if (!read_file(object->file, buffer, count, &got)) {
    release(&buffer);
    *failed = true;
    return LUMO_STATUS_OK;
  }
  buffer[got] = 0;
  read->bytes = buffer;
  read->count = got;
  return LUMO_STATUS_OK;
}

std::shared_ptr<FindState> find_state(ValueNode* arguments) {
  return find_handles().find(read_int_arg(arguments));
}

}  // namespace

std::int32_t LUMO_CALL builtin_createdirectory(CallContext*, ValueNode* arguments,
                                               ValueNode* result, char*) {
  return path_operation(arguments, result, create_directory);
}

std::int32_t LUMO_CALL builtin_removedirectory(CallContext*, ValueNode* arguments,
                                               ValueNode* result, char*) {
  return path_operation(arguments, result, remove_directory);
}

std::int32_t LUMO_CALL builtin_getcurrentdirectory(CallContext*, ValueNode*, ValueNode* result,
                                                   char* message) {
  // At most 255 bytes with the terminator; a longer directory gives "".
  char directory[255];
  if (!get_current_directory(directory, sizeof directory)) directory[0] = '\0';
  return return_text(result, dup_string(directory), message, "GetCurrentDirectory");
}

std::int32_t LUMO_CALL builtin_setcurrentdirectory(CallContext*, ValueNode* arguments,
                                                   ValueNode* result, char*) {
  return path_operation(arguments, result, set_current_directory);
}

std::int32_t LUMO_CALL builtin_copyfile(CallContext*, ValueNode* arguments, ValueNode* result,
                                        char*) {
  return two_path_operation(arguments, result, copy_file);
}

std::int32_t LUMO_CALL builtin_movefile(CallContext*, ValueNode* arguments, ValueNode* result,
                                        char*) {
  return two_path_operation(arguments, result, move_file);
}

std::int32_t LUMO_CALL builtin_deletefile(CallContext*, ValueNode* arguments, ValueNode* result,
                                          char*) {
  return path_operation(arguments, result, delete_file);
}

std::int32_t LUMO_CALL builtin_fileopen(CallContext*, ValueNode* arguments, ValueNode* result,
                                        char*) {
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgumentText mode_text(arguments);
  ArgumentText path(arguments->next);
  if (!mode_text.ok() || !path.ok()) return return_number(result, -1);
  OpenMode mode = OpenMode::Read;
  if (same_word_ignoring_case(mode_text.get(), "write")) mode = OpenMode::Write;
  if (same_word_ignoring_case(mode_text.get(), "new")) mode = OpenMode::New;
  ScriptFile* file = open_file(path.get(), mode);
  if (file == nullptr) return return_number(result, -1);
  auto object = std::make_shared<FileObject>();
  object->file = file;
  return return_number(result, file_handles().issue(std::move(object)));
}

std::int32_t LUMO_CALL builtin_fileclose(CallContext*, ValueNode* arguments, ValueNode* result,
                                         char* message) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  if (file_handles().take(read_int_arg(arguments)) == nullptr)
    return invalid_handle(message, "FileClose");
  return return_number(result, 0);
}

std::int32_t LUMO_CALL builtin_getfilesize(CallContext*, ValueNode* arguments, ValueNode* result,
                                           char* message) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::shared_ptr<FileObject> object = file_handles().find(read_int_arg(arguments));
  if (object == nullptr) return invalid_handle(message, "GetFileSize");
  std::uint64_t size = 0;
  if (!file_size(object->file, &size)) return return_number(result, -1);
  return return_number(result, static_cast<std::int32_t>(static_cast<std::uint32_t>(size)));
}

std::int32_t LUMO_CALL builtin_setfilepointer(CallContext* context, ValueNode* arguments,
                                              ValueNode* result, char* message) {
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::shared_ptr<FileObject> object = file_handles().find(read_int_arg(arguments));
  if (object == nullptr) return invalid_handle(message, "SetFilePointer");
  // The distance is taken as unsigned: a negative one does not move backwards.
  auto distance = static_cast<std::uint32_t>(read_int_arg(arguments->next));
  std::int32_t method = read_int_arg(nth_argument(arguments, 2));
  std::uint64_t position = 0;
  if (!seek_file(object->file, distance, method, &position)) return return_number(result, -1);
  if (const ValueNode* high = nth_argument(arguments, 3); high != nullptr)
    store_number_in(context, high, static_cast<std::int32_t>(position >> 32));
  return return_number(result, static_cast<std::int32_t>(static_cast<std::uint32_t>(position)));
}

std::int32_t LUMO_CALL builtin_fileread(CallContext* context, ValueNode* arguments,
                                        ValueNode* result, char* message) {
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ReadBytes read{};
  bool failed = false;
  std::int32_t status = read_from_handle(arguments, "FileRead", message, &read, &failed);
  if (status != LUMO_STATUS_OK) return status;
  if (failed) return return_number(result, -1);
  // As a string the bytes end at the first 0 byte.
  Value source{};
  source.is_string = 1;
  source.data.text = reinterpret_cast<char*>(read.bytes);
  assign_value(context, arguments->next->value, &source);
  release(&read.bytes);
  return return_number(result, static_cast<std::int32_t>(read.count));
}

std::int32_t LUMO_CALL builtin_filereadhash(CallContext* context, ValueNode* arguments,
                                            ValueNode* result, char* message) {
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ReadBytes read{};
  bool failed = false;
  std::int32_t status = read_from_handle(arguments, "FileReadHash", message, &read, &failed);
  if (status != LUMO_STATUS_OK) return status;
  if (failed) return return_number(result, -1);
  bool stored = store_bytes_in_hash(context, arguments->next->value->owner, read.bytes,
                                    static_cast<std::int32_t>(read.count));
  release(&read.bytes);
  if (!stored) return alloc_failed(message, "FileReadHash");
  return return_number(result, static_cast<std::int32_t>(read.count));
}

std::int32_t LUMO_CALL builtin_filewrite(CallContext*, ValueNode* arguments, ValueNode* result,
                                         char* message) {
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::shared_ptr<FileObject> object = file_handles().find(read_int_arg(arguments));
  if (object == nullptr) return invalid_handle(message, "FileRead");
  ArgumentText data(arguments->next);
  if (!data.ok()) return return_number(result, -1);
  auto length = static_cast<std::int32_t>(std::strlen(data.get()));
  std::int32_t count = read_int_arg(nth_argument(arguments, 2));
  if (count <= 0 || count > length) count = length;
  return return_success(result,
                        write_file(object->file, data.get(), static_cast<std::uint32_t>(count)));
}

std::int32_t LUMO_CALL builtin_filewritehash(CallContext*, ValueNode* arguments, ValueNode* result,
                                             char* message) {
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::shared_ptr<FileObject> object = file_handles().find(read_int_arg(arguments));
  if (object == nullptr) return invalid_handle(message, "FileRead");
  std::int32_t length = 0;
  unsigned char* bytes = read_bytes_from_hash(arguments->next, &length);
  if (bytes == nullptr) return return_number(result, -1);
  std::int32_t count = read_int_arg(nth_argument(arguments, 2));
  if (count <= 0 || count > length) count = length;
  bool written = write_file(object->file, bytes, static_cast<std::uint32_t>(count));
  release(&bytes);
  return return_success(result, written);
}

std::int32_t LUMO_CALL builtin_filefindinit(CallContext*, ValueNode* arguments, ValueNode* result,
                                            char*) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgumentText pattern(arguments);
  if (!pattern.ok()) return return_number(result, 0);
  auto state = std::make_shared<FindState>();
  state->search = find_first_file(pattern.get(), &state->current);
  if (state->search == nullptr) return return_number(result, 0);
  return return_number(result, find_handles().issue(std::move(state)));
}

std::int32_t LUMO_CALL builtin_filefindnext(CallContext*, ValueNode* arguments, ValueNode* result,
                                            char* message) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::shared_ptr<FindState> state = find_state(arguments);
  if (state == nullptr) return invalid_handle(message, "FileFindNext");
  std::lock_guard<std::mutex> guard(state->lock);
  // The current entry changes only when there is a next one.
  FileInfo next{};
  if (!find_next_file(state->search, &next)) return return_number(result, 0);
  state->current = next;
  return return_number(result, 1);
}

std::int32_t LUMO_CALL builtin_filefindclose(CallContext*, ValueNode* arguments, ValueNode* result,
                                             char* message) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  if (find_handles().take(read_int_arg(arguments)) == nullptr)
    return invalid_handle(message, "FileFindClose");
  return return_number(result, 0);
}

std::int32_t LUMO_CALL builtin_filefindattributes(CallContext*, ValueNode* arguments,
                                                  ValueNode* result, char* message) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::shared_ptr<FindState> state = find_state(arguments);
  if (state == nullptr) return invalid_handle(message, "FileFindAttributes");
  std::lock_guard<std::mutex> guard(state->lock);
  return return_number(result, static_cast<std::int32_t>(state->current.attributes));
}

std::int32_t LUMO_CALL builtin_filefindname(CallContext*, ValueNode* arguments, ValueNode* result,
                                            char* message) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::shared_ptr<FindState> state = find_state(arguments);
  if (state == nullptr) return invalid_handle(message, "FileFindName");
  std::lock_guard<std::mutex> guard(state->lock);
  return return_text(result, dup_string(state->current.name), message, "FileFindName");
}

std::int32_t LUMO_CALL builtin_filefindsize(CallContext*, ValueNode* arguments, ValueNode* result,
                                            char* message) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::shared_ptr<FindState> state = find_state(arguments);
  if (state == nullptr) return invalid_handle(message, "FileFindSize");
  std::lock_guard<std::mutex> guard(state->lock);
  auto low = static_cast<std::uint32_t>(state->current.size);
  return return_number(result, static_cast<std::int32_t>(low));
}

std::int32_t LUMO_CALL builtin_filefindtime(CallContext*, ValueNode* arguments, ValueNode* result,
                                            char* message) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  std::shared_ptr<FindState> state = find_state(arguments);
  if (state == nullptr) return invalid_handle(message, "FileFindTime");
  std::int64_t ticks = 0;
  {
    std::lock_guard<std::mutex> guard(state->lock);
    std::int32_t which = read_int_arg(arguments->next);
    ticks = which == 1   ? state->current.access_time
            : which == 2 ? state->current.creation_time
                         : state->current.write_time;
  }
  // File times stay in coordinated universal time.
  SystemTime time{};
  if (!ticks_to_system_time(ticks, &time)) time = SystemTime{};
  if (!time_hash_from_system_time(time, result)) return alloc_failed(message, "FileFindTime");
  return LUMO_STATUS_OK;
}

std::int32_t LUMO_CALL builtin_shell(CallContext*, ValueNode* arguments, ValueNode* result, char*) {
  if (arguments == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgumentText file(arguments);
  const ValueNode* parameters_argument = nth_argument(arguments, 1);
  const ValueNode* directory_argument = nth_argument(arguments, 2);
  const ValueNode* show_argument = nth_argument(arguments, 3);
  ArgumentText parameters(parameters_argument);
  ArgumentText directory(directory_argument);
  if (!file.ok() || !parameters.ok() || !directory.ok()) return return_number(result, -1);
  // Parameters and directory reach the platform only when given and not empty.
  const char* parameter_text = parameters.get()[0] != '\0' ? parameters.get() : nullptr;
  const char* directory_text = directory.get()[0] != '\0' ? directory.get() : nullptr;
  std::int32_t show = show_argument != nullptr ? read_int_arg(show_argument) : 1;
  return return_success(result, shell_open(file.get(), parameter_text, directory_text, show));
}

std::int32_t LUMO_CALL builtin_execscript(CallContext* context, ValueNode* arguments,
                                          ValueNode* result, char*) {
  if (stop_requested()) return LUMO_STATUS_FAILED;
  if (nth_argument(arguments, 1) == nullptr) return LUMO_STATUS_TOO_FEW_ARGUMENTS;
  ArgumentText directory(arguments);
  ArgumentText file(arguments->next);
  if (!directory.ok() || !file.ok()) return LUMO_STATUS_FAILED;
  // The directory prefix always ends with a backslash.
  char* prefix = concat_strings(directory.get(), "\\");
  Script* script_set = prefix != nullptr ? create_script_set(0) : nullptr;
  if (script_set == nullptr) {
    release(&prefix);
    return LUMO_STATUS_FAILED;
  }
  script_set->host = context->script != nullptr ? context->script->host : nullptr;
  load_script_file(script_set, prefix, file.get());
  release(&prefix);
  run_top_level(script_set->next);

  // The elements of the arguments hash become the argument list of main: copies, since the
  // called script has its own globals and its own lock.
  const ValueNode* hash = nth_argument(arguments, 2);
  bool copy_failed = false;
  ValueNode* main_arguments =
      hash != nullptr ? copy_chain(first_of(hash->value->owner), &copy_failed) : nullptr;
  // Without a module (its record could not be made, which the loader reported) there is no main;
  // without memory for its arguments main is not called either, and the result is -1.
  ValueNode* returned = CALL_FAILED;
  if (script_set->next != nullptr && !copy_failed) {
    CallContext frame{};
    frame.script = script_set->next;
    frame.host_word = context->host_word;
    returned = call_function(&frame, nullptr, "main", main_arguments, 0);
    release_frame(&frame);
  }
  free_chain(main_arguments);
  if (returned == CALL_FAILED) {
    return_number(result, -1);
  } else {
    assign_value(context, result->value, returned->value);
    free_node(returned);
  }
  release_script_set(&script_set);
  return LUMO_STATUS_OK;
}
