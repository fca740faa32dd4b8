// Opens the text of a double-clicked link with the system's shell.
#pragma once

// Opens `link` (CP932) when link_may_open allows it; refuses anything else silently.
// With the environment variable LUMO_LINK_LOG set to a file name, links are appended to that file
// (one a line) instead of being opened: the end-to-end tests see what would open, and nothing
// starts.
void open_link(const char* link);
