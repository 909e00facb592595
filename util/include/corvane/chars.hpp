// Character classes and strict UTF-8 validation.
//
// Every test works on bytes against fixed byte sets; none consults the
// process locale, none allocates, none keeps state between calls.
#pragma once

#include <cstddef>

namespace corvane {

// True for the byte 0x20 alone.
//   char_is_space(' ') == true; char_is_space('\t') == false
[[nodiscard]] bool char_is_space(char c) noexcept;

// True for the blank set: TAB (9), CR (13) and SPACE (32), nothing else.
// Negative values (bytes 0x80..0xFF seen as signed char) give false.
//   char_is_blank('\r') == true; char_is_blank('\n') == false
[[nodiscard]] bool char_is_blank(int c) noexcept;

// True when the bytes before the first NUL are well-formed UTF-8.
//   utf8_valid("") == true; utf8_valid("\xC0\x80") == false
[[nodiscard]] bool utf8_valid(const char* text) noexcept;

// True when bytes[0, length) is well-formed UTF-8 as RFC 3629 defines it:
// no overlong forms, no surrogates (U+D800..U+DFFF), nothing above U+10FFFF.
// NUL bytes inside the run are ordinary one-byte characters. Never reads
// bytes[length] or beyond.
[[nodiscard]] bool utf8_valid_n(const char* bytes, std::size_t length) noexcept;

// True when bytes[0, length) holds no control byte below 0x20 other than
// TAB, LF and CR, and is well-formed UTF-8. 0x7F and C1 controls pass.
[[nodiscard]] bool utf8_printable_n(const char* bytes, std::size_t length) noexcept;

}  // namespace corvane
