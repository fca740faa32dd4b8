// The terminal that lumo-cli runs in: byte-exact standard streams and the interrupt key.
#pragma once

// Makes standard input and output pass bytes unchanged (no CR added or removed).
void console_binary_mode();
// Whether standard output is a terminal (not a file or a pipe).
bool console_output_is_terminal();
// Calls `handler` when the user presses Ctrl+C, or the process is asked to terminate (SIGTERM on
// POSIX), on some thread at any moment: it must only set a flag. The process is not ended by it.
void console_on_interrupt(void (*handler)());
// Calls `handler` when the terminal hangs up (SIGHUP on POSIX), the usual request to reload; never
// on Windows, which has no such signal. The same rules as for the interrupt handler.
void console_on_hangup(void (*handler)());
// A command-line argument naming a file, as a script path (CP932, backslashes); null when memory
// runs out. The caller releases it.
char* argument_to_path(const char* argument);
