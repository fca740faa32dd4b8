// Which link texts the program may hand to the system's shell to open.
#pragma once

// True only for texts that start with http://, https://, ftp:// or mailto: in any letter case.
// Everything else (a path, a program, a document) is refused, so that text from a server can
// never make a double-click start a program.
bool link_may_open(const char* text);
