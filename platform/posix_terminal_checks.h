// What the terminal console checks about its environment before it starts: that
// the terminal type can place the cursor, and whether the locale is UTF-8.
#pragma once

#include <string>

// False for a terminal type without cursor addressing: unset, "dumb",
// "unknown", or a type neither of a known ANSI family nor in terminfo.
bool terminalTypeHasCursorAddressing(const char* term);

// The start-up line for a locale (from LC_ALL, LC_CTYPE, LANG) whose character
// set is not UTF-8; empty for a UTF-8 one.
std::string nonUtf8LocaleNotice();
