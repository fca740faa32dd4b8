#include "engine/directive.h"

#include "engine/error_report.h"
#include "engine/loader.h"
#include "engine/script.h"
#include "frontend/lexer.h"
#include "frontend/text_helpers.h"
#include "platform/memory.h"

namespace {

const char* skip_blanks(const char* p) {
  while (is_blank(*p))
    ++p;
  return p;
}

const char* first_byte_of(const char* p, char wanted) {
  while (*p != '\0' && *p != wanted)
    ++p;
  return *p == wanted ? p : nullptr;
}

// The argument between the parentheses: leading blanks dropped, trailing blanks kept; a quoted
// argument is cut at its closing quote and loses its opening quote, with no escape interpreted.
char* copy_argument(const char* open, const char* close) {
  const char* begin = skip_blanks(open + 1);
  const char* end = close;
  if (begin < close && *begin == '"') {
    // The bracket matcher stepped over this string, so its end lies before the ")".
    end = find_string_end(begin);
    ++begin;
  }
  return copy_text(begin, static_cast<std::size_t>(end - begin));
}

bool keyword_is(const char* position, const char* keyword) {
  std::size_t length = 0;
  while (keyword[length] != '\0')
    ++length;
  // Any text that begins with the keyword selects it ("#importer" is #import).
  return compare_ignoring_case_n(position, keyword, length) == 0;
}

}  // namespace

const char* run_directive(Script* script, const char* directory, const char* position) {
  CallContext context{};
  context.script = script;

  const char* keyword = skip_blanks(position);
  const char* open = first_byte_of(position, '(');
  if (open == nullptr) {
    report_error(&context, SENTENCE_ERROR, keyword, 0);
    return nullptr;
  }
  const char* close = find_closing_bracket(open);
  if (close == nullptr) {
    report_error(&context, PARENTHESIS_ERROR, keyword, 0);
    return nullptr;
  }
  char* argument = copy_argument(open, close);
  if (argument == nullptr) {
    report_error(&context, ALLOC_FAILED, keyword, 0);
    return nullptr;
  }

  const char* result = close + 1;
  // Failed imports and library loads do not stop the parse (a failed load was reported).
  const char* folder = directory != nullptr ? directory : "";
  if (keyword_is(keyword, "import")) {
    if (script->root != nullptr) import_scripts(script->root, folder, argument);
  } else if (keyword_is(keyword, "library")) {
    if (script->root != nullptr) load_library(script, folder, argument);
  } else if (keyword_is(keyword, "option")) {
    // Unknown options are ignored.
    if (compare_ignoring_case(argument, "explicit") == 0) script->is_explicit = 1;
  } else {
    report_error(&context, SENTENCE_ERROR, keyword, 0);
    result = nullptr;
  }
  release(&argument);
  return result;
}
