// Directives: "#" followed by a keyword and a parenthesised argument, carried out while the text is
// parsed, at the point where they stand.
#pragma once

struct Script;

// Reads and carries out the directive whose text starts at `position` (just after "#") for the
// module `script`, loaded from `directory`. Returns the position just after the directive's ")", or
// null after an error was reported.
const char* run_directive(Script* script, const char* directory, const char* position);
