// The window built-ins: message boxes, echoes into views, sending to the server, and channels.
// Apart from messagebox and getcurrentchannel they deliver a request to the host's thread and wait.
#pragma once

#include <cstdint>
#include <cstdio>

#include "builtins/strings.h"

LUMO_BUILTIN(messagebox);
LUMO_BUILTIN(strecho);
LUMO_BUILTIN(lineecho);
LUMO_BUILTIN(strsend);
LUMO_BUILTIN(channeladd);
LUMO_BUILTIN(channelmove);
LUMO_BUILTIN(channeldelete);
LUMO_BUILTIN(getcurrentchannel);

// Button identifiers a message box returns.
constexpr std::int32_t IDOK = 1;
constexpr std::int32_t IDCANCEL = 2;
constexpr std::int32_t IDABORT = 3;
constexpr std::int32_t IDRETRY = 4;
constexpr std::int32_t IDIGNORE = 5;
constexpr std::int32_t IDYES = 6;
constexpr std::int32_t IDNO = 7;
constexpr std::int32_t IDTRYAGAIN = 10;
constexpr std::int32_t IDCONTINUE = 11;

// The button that Enter presses in a message box of this style: the default button (the first,
// second or third) of the style's button set; the first when the set has no such button. 0 for a
// style whose button set does not exist.
std::int32_t messagebox_default_button(std::uint32_t style);
// A message box without a window system: the caption (when given) and the text as one line on
// `stream`; returns the default button.
std::int32_t messagebox_without_windows(std::FILE* stream, const char* text, const char* caption,
                                        std::uint32_t style);
