// Locale-aware text comparison.
#pragma once

// Case-sensitive comparison of two CP932 texts in the user's locale order: -1, 0 or 1.
int compare_text_locale(const char* a, const char* b);
