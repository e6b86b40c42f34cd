#pragma once
// Text from the network made safe for a terminal, as "ls -b" shows names: no byte that could
// move the cursor, set a title or ring the bell reaches it, and a tab can't split a
// tab-separated line.

#include <string>
#include <string_view>

// Backslash → "\\"; BEL, BS, TAB, LF, VT, FF, CR → "\a" "\b" "\t" "\n" "\v" "\f" "\r"; every
// other C0 control, DEL, a C1 control (U+0080 to U+009F) and each byte that is not part of
// valid UTF-8 → a backslash and three octal digits per byte. Everything else is kept.
std::string escapeForTerminal(std::string_view text);
