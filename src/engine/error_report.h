// Script error reports: one "### Error: " line, or one "        at " trace line per calling
// function, delivered through the built-in `error` to the host.
#pragma once

#include <cstdint>

struct CallContext;

// `detail` is either a position inside the running module's text (the line number and source line
// are quoted) or a text of its own. Silent while a stop is in progress or without a context.
void report_error(CallContext* context, const char* message, const char* detail,
                  std::int32_t trace);

// report_error of the message "NAME :SUFFIX" (the suffix alone when memory runs out), with the
// suffix starting " :".
void report_named_error(CallContext* context, const char* name, const char* suffix,
                        const char* detail);

// Builds the line that report_error would deliver; null when memory runs out or nothing is
// reported.
char* format_error_line(CallContext* context, const char* message, const char* detail,
                        std::int32_t trace);
