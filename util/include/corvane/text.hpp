// Trimming, unquoting, unescaping, splitting and line reading of text.
//
// Operations that change text do so in place and never lengthen it. Blanks
// are exactly tab, carriage return and space (see char_is_blank); a line
// feed is not a blank.
#pragma once

#include <cstddef>

#include <corvane/plist.hpp>

namespace corvane {

// The most bytes for_each_file_line reads from one file.
inline constexpr std::size_t READ_LIMIT = 65534;

// Called once per non-empty trimmed piece with its number and the caller's
// context. for_each_token numbers pieces from 0, for_each_file_line numbers
// lines from 1; empty pieces take a number too. The piece is writable and
// valid only during the call. A negative result stops the walk.
using text_callback = int (*)(char* piece, int number, void* context);

// Strips blanks at both ends, in place: the trailing ones are overwritten
// with terminators, the result points at the first non-blank byte.
//   "\t a b \r" -> "a b";  " \n " -> "\n";  nullptr -> "" (read-only)
[[nodiscard]] char* trim_blanks(char* text);

// Strips one pair of matching outer quotes (' ' or " "), in place.
//   "'it'" -> "it";  "\"it's\"" -> "it's";  "''" -> "";  "'a\"" unchanged
// Null gives null.
[[nodiscard]] char* unquote(char* text);

// Resolves backslash escapes and cuts a "#" comment, in place. A backslash
// before ", # or another backslash gives that byte (an escaped # opens no
// comment); before any other byte it is dropped and a warning "Invalid
// backslash escape on line N" (N = line_number) is logged at LVL_WARN; a
// final backslash is dropped silently.
//   a\#b # note -> "a#b ";  \n -> "n" and one warning
// Null is ignored.
void unescape_config_line(char* line, int line_number);

// Splits text at each occurrence of separator on a private copy and calls
// callback for every piece that is not empty after trim_blanks. A separator
// longer than one byte ends a piece at its first byte; its other bytes begin
// the next piece:
//   "a,,b" with ","  -> a (0), b (2); result 3
//   "a::b" with "::" -> a (0), ":b" (1); result 2
// Returns the number of pieces (occurrences + 1, empty ones included), or
// -1 when the callback stopped the walk, when text is null, separator is
// null or empty, or the copy cannot be allocated (then nothing is called).
// text itself is never changed.
[[nodiscard]] int for_each_token(const char* text, const char* separator, void* context,
                                 text_callback callback);

// Appends each piece of text between occurrences of separator (the whole
// separator is skipped) to list, as a new untrimmed heap string that the
// caller releases with free. Empty pieces are appended only with
// keep_empty. Existing items stay in front.
//   "a,b," with ","         -> appends "a", "b"; result 2
//   "a,b," with ",", keep   -> appends "a", "b", ""; result 3
// Returns the number of pieces appended, or -1 when text or separator is
// null or empty or list is null (list untouched). When a piece cannot be
// allocated, the whole list (earlier items too) is cleared with free and -1
// is returned, so the list must hold only items that free can release. A
// piece whose node cannot be allocated is released and not counted.
[[nodiscard]] int tokens_to_list(const char* text, const char* separator, plist* list,
                                 bool keep_empty);

// Reads a small text file, at most READ_LIMIT bytes (the text ends at a NUL
// byte if it holds one), and calls callback for each line, split at line
// feeds, that is not empty after trim_blanks (so CRLF endings are fine).
//   "one\n\nthree\n" -> one (1), three (3); result 4
// Returns the number of the last line (line feeds + 1), or:
//   -2  the file cannot be opened    (ERROR "Unable to open file PATH: REASON")
//   -1  a read fails                 (ERROR "Unable to read from file PATH: REASON")
//   -1  the copy cannot be allocated (FATAL "Unable to allocate memory")
//   -1  the callback stopped the walk (nothing logged)
//    0  the file is empty            (WARN "File is empty.")
// Short reads (pipes, signals) are continued until the limit or end of file.
// The file is always closed before the callback runs.
[[nodiscard]] int for_each_file_line(const char* path, void* context, text_callback callback);

}  // namespace corvane
