// The message view window class, "lumoViewClass": a read-only, scrolling view of text with
// formatting codes. Create it as a child window (WS_CHILD | WS_VSCROLL, usually WS_EX_CLIENTEDGE
// and WS_TABSTOP) after register_view_class.
//
// Requests it answers besides the standard ones (view/view_messages.h):
//   VM_APPEND          lParam: CP932 text with formatting codes; returns 1, or 0 out of memory
//   VM_RECALC          reads the font's metrics again and rewraps
//   VM_SETLINKCURSOR   lParam: the cursor shown over link text
//   WM_SETTEXT         clears, then appends the text (as CP932); "" clears the view
//   WM_SETFONT         takes the font's face and point size (the view makes its own fonts)
//   WM_COPY            copies the selection: CF_TEXT (the stored CP932 bytes, CR LF as stored)
//                      and CF_UNICODETEXT
//   WM_GETTEXT, WM_GETTEXTLENGTH   the stored text, without formatting codes
//   EM_LIMITTEXT       accepted; the view keeps at most STORE_LIMIT bytes, dropping old lines
// What it asks of its parent:
//   UM_OPENLINK        sent on a double-click on link text; lParam: the link's CP932 text,
//                      NUL-terminated, valid during the call
#pragma once

#include <windows.h>

#include "view/view_messages.h"

constexpr wchar_t VIEW_CLASS_NAME[] = L"lumoViewClass";

// Registers the class for this module; false when registration fails.
bool register_view_class(HINSTANCE instance);
