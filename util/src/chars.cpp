// The character classes of the configuration and account texts, and the
// public UTF-8 checks, which hand the bytes to the kernel chosen for this
// CPU (utf8_select.cpp).
#include <corvane/chars.hpp>

#include <cstring>

#include "utf8_kernels.hpp"

namespace corvane {

bool char_is_space(char c) noexcept { return c == ' '; }

bool char_is_blank(int c) noexcept { return c == '\t' || c == '\r' || c == ' '; }

bool utf8_valid(const char* text) noexcept { return utf8_valid_n(text, std::strlen(text)); }

// The rules are those of the scalar walk in utf8_scalar.cpp; the vector
// kernels give the same result for every input.
bool utf8_valid_n(const char* bytes, std::size_t length) noexcept {
    return detail::current_check()(reinterpret_cast<const unsigned char*>(bytes), length, false);
}

// Refuses control bytes other than TAB, LF and CR, and requires well-formed
// UTF-8 -- in one pass, with the result of the two in turn.
bool utf8_printable_n(const char* bytes, std::size_t length) noexcept {
    return detail::current_check()(reinterpret_cast<const unsigned char*>(bytes), length, true);
}

}  // namespace corvane
