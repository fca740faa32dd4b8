// Requests a message view window answers besides the standard window messages, and what it asks of
// its parent. The numbers are part of the interface between the main window and its views.
#pragma once

#include <cstdint>

#include "engine/host.h"  // UM_OPENLINK: the view asks its parent to open link text

// lParam: NUL-terminated CP932 text with formatting codes. Returns 1, or 0 when memory ran out.
constexpr std::uint32_t VM_APPEND = 32868;
// Reads the font's metrics again and rewraps everything.
constexpr std::uint32_t VM_RECALC = 32874;
// lParam: the cursor shown over link text (null: the I-beam everywhere).
constexpr std::uint32_t VM_SETLINKCURSOR = 32875;
