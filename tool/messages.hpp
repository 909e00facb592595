// Messages on standard error, and the one way a run ends early.
#pragma once

#include <cstdio>
#include <string_view>

namespace corvane::userdb {

// Writes a message to standard error. On a terminal every byte of it but the
// closing line feed passes through the listing's terminal filter, so a
// database's error text or a name another user chose cannot act on the
// administrator's terminal; to a pipe or a file the bytes are exact.
void report(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes to standard output as printf does. (One formatting function for
// each stream: each C function the tool calls is one more symbol to bind
// when any command starts.)
void print(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes the message as report() does and ends the process with status 1.
// Every early end of a run goes through here.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes `text` to `stream`, whose lock the caller holds, with every
// character a terminal could act on replaced by one '?': C0 controls (NUL
// among them: every byte of `text` is written), DEL,
// C1 controls (U+0080 to U+009F), the bidirectional controls (U+061C,
// U+200E, U+200F, U+202A to U+202E, U+2066 to U+2069), the line and
// paragraph separators U+2028 and U+2029; and one '?' for every byte that
// is not part of well-formed UTF-8. Stored text could otherwise retitle the
// window, clear the screen, hide text or forge lines.
void put_for_terminal(std::string_view text, std::FILE* stream);

}  // namespace corvane::userdb
