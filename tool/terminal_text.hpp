// Text from the database made safe to show on a terminal.
#pragma once

namespace corvane::userdb {

// Writes `text` to standard output (whose lock the caller holds) with every
// character a terminal could act on replaced by one '?': C0 controls, DEL,
// C1 controls (U+0080 to U+009F), the bidirectional controls (U+200E,
// U+200F, U+202A to U+202E, U+2066 to U+2069); and one '?' for every byte
// that is not part of well-formed UTF-8. Stored text could otherwise retitle
// the window, clear the screen, hide text or forge lines.
void put_for_terminal(const char* text);

}  // namespace corvane::userdb
