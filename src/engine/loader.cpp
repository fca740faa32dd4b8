#include "engine/loader.h"

#include <cstring>

#include "base/cp932.h"
#include "engine/context_parse.h"
#include "engine/error_report.h"
#include "engine/extension_table.h"
#include "engine/name_table.h"
#include "engine/script.h"
#include "frontend/lexer.h"
#include "frontend/text_helpers.h"
#include "platform/file.h"
#include "platform/library.h"
#include "platform/memory.h"

namespace {

constexpr const char* FILE_OPEN_ERROR = "File open error";
constexpr const char* LIBRARY_LOAD_ERROR = "Library load error";

void report(Script* script, const char* message, const char* detail) {
  CallContext context{};
  context.script = script;
  report_error(&context, message, detail, 0);
}

bool ends_with_backslash(const char* text) {
  std::size_t length = std::strlen(text);
  return length > 0 && folder_length(text) == length;
}

// The directory with a backslash appended unless it is empty or has one already.
char* directory_with_separator(const char* directory) {
  bool add = directory[0] != '\0' && !ends_with_backslash(directory);
  return add ? concat_strings(directory, "\\") : dup_string(directory);
}

// `first` followed by `second` in `buffer`; false when the result would not fit in a path.
bool join_path(char (&buffer)[PATH_BUFFER_SIZE], const char* first, const char* second) {
  std::size_t first_length = std::strlen(first);
  std::size_t second_length = std::strlen(second);
  if (first_length + second_length >= PATH_BUFFER_SIZE) return false;
  std::memcpy(buffer, first, first_length);
  std::memcpy(buffer + first_length, second, second_length + 1);
  return true;
}

Script* find_module(Script* script_set, const char* name, const char* directory) {
  for (Script* module = script_set->next; module != nullptr; module = module->next) {
    if (compare_ignoring_case(module->name, name) == 0 &&
        compare_ignoring_case(module->directory, directory) == 0)
      return module;
  }
  return nullptr;
}

// A new module that takes the ScriptSet's settings, appended to the end of its chain.
Script* append_module(Script* script_set, char* name, char* directory) {
  Script* module = alloc_record<Script>();
  if (module == nullptr) return nullptr;
  module->is_explicit = script_set->is_explicit;
  module->root = script_set;
  module->host = script_set->host;
  module->name = name;
  module->directory = directory;
  Script** tail = &script_set->next;
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = module;
  return module;
}

// Reads the file into the module's text. False after "File open error" was reported; an empty file
// leaves the module without text.
bool read_module_text(Script* module, const char* file_name) {
  char path[PATH_BUFFER_SIZE];
  if (!join_path(path, module->directory, file_name)) {
    // Too long for a path: report it with the whole would-be path, never build past the buffer.
    char* whole = concat_strings(module->directory, file_name);
    report(module, FILE_OPEN_ERROR, whole != nullptr ? whole : file_name);
    release(&whole);
    return false;
  }
  FileInfo info;
  bool readable = probe_file(path, &info) && !info.is_directory;
  if (readable && info.size == 0) return true;
  // Only the low 32 bits of the size count, as the probe reports them.
  std::uint32_t size = static_cast<std::uint32_t>(info.size);
  char* text = readable ? static_cast<char*>(alloc_zeroed(std::size_t{size} + 1)) : nullptr;
  if (text == nullptr || !read_file_bytes(path, text, size)) {
    release(&text);
    report(module, FILE_OPEN_ERROR, path);
    return false;
  }
  module->text = text;
  return true;
}

// A library that exports an init function gets the engine's entries before anything else of it
// runs. Returns 1, the result of a successful load.
std::int32_t hand_engine_table(LibraryHandle handle) {
  if (void* init = find_export(handle, LUMO_INIT_NAME); init != nullptr) {
    reinterpret_cast<LumoInitFunction>(init)(engine_table());
  }
  return 1;
}

}  // namespace

std::int32_t load_script_file(Script* script_set, const char* directory, const char* file_name) {
  char* module_directory = directory_with_separator(directory);
  const char* dot = std::strchr(file_name, '.');
  char* name = dot != nullptr ? copy_text(file_name, static_cast<std::size_t>(dot - file_name))
                              : dup_string(file_name);
  Script* module = nullptr;
  if (module_directory != nullptr && name != nullptr) {
    if (find_module(script_set, name, module_directory) != nullptr) {
      release(&name);
      release(&module_directory);
      return 1;
    }
    module = append_module(script_set, name, module_directory);
  }
  if (module == nullptr) {
    report(script_set, ALLOC_FAILED, file_name);
    release(&name);
    release(&module_directory);
    return 0;
  }
  if (!read_module_text(module, file_name)) return 0;
  if (module->text != nullptr) {
    CallContext context{};
    context.script = module;
    module->code = parse_script_text(&context, module->text, 0);
    assign_name_tables(module);
  }
  return 1;
}

std::int32_t import_scripts(Script* script_set, const char* directory, const char* pattern) {
  char path[PATH_BUFFER_SIZE];
  if (!join_path(path, directory, pattern)) return 0;
  // The folder of the matches: the path up to and including its last backslash.
  std::size_t folder_end = folder_length(path);
  char folder[PATH_BUFFER_SIZE];
  std::memcpy(folder, path, folder_end);
  folder[folder_end] = '\0';

  FileInfo entry;
  FileSearch* search = find_first_file(path, &entry);
  if (search == nullptr) return 0;
  FileSearchGuard guard(search);
  do {
    if (!entry.is_directory) load_script_file(script_set, folder, entry.name);
  } while (find_next_file(search, &entry));
  return 1;
}

std::int32_t load_library(Script* script, const char* directory, const char* library_name) {
  Script* script_set = script->root;
  LibraryEntry* entry = alloc_record<LibraryEntry>();
  if (entry == nullptr) {
    report(script, ALLOC_FAILED, library_name);
    return 0;
  }
  LibraryEntry** tail = &script_set->libraries;
  while (*tail != nullptr)
    tail = &(*tail)->next;
  *tail = entry;

  entry->handle = load_library(library_name);
  if (entry->handle != nullptr) return hand_engine_table(entry->handle);
  // Then from the script's own folder. An empty folder adds no backslash: "\x.dll" would name the
  // root of the drive.
  char prefix[PATH_BUFFER_SIZE];
  char path[PATH_BUFFER_SIZE];
  bool add_separator = directory[0] != '\0' && !ends_with_backslash(directory);
  if (join_path(prefix, directory, add_separator ? "\\" : "") &&
      join_path(path, prefix, library_name))
    entry->handle = load_library(path);
  if (entry->handle != nullptr) return hand_engine_table(entry->handle);
  report(script, LIBRARY_LOAD_ERROR, library_name);
  return 0;
}
