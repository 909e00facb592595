// Value conversions: decimal integers, boolean words, byte sizes, clock
// stamps.
//
// Integer arithmetic wraps modulo 2^32 instead of detecting overflow. None of
// these functions allocates. int_to_text, ulong_to_text and clock_stamp each
// return their own static buffer, which the next call of the same function
// overwrites; callers never free it and copy the text to keep it. Those three
// are not reentrant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace corvane {

// True for the ten bytes '0'..'9' and nothing else.
//   char_is_digit('7') == true; char_is_digit(0xB2) == false
[[nodiscard]] bool char_is_digit(unsigned char c) noexcept;

// Lenient conversion; never fails. Skips every non-digit in front of the
// first digit, reads digits up to the first non-digit after them, and
// negates when the very first character is '-'. No digit at all gives 0.
//   text_to_int("  7") == 7; text_to_int("--7") == -7; text_to_int(" -7") == 7
//   text_to_int("12ab") == 12; text_to_int("12 34") == 12; text_to_int("abc") == 0
// text must not be null.
[[nodiscard]] std::int32_t text_to_int(const char* text) noexcept;

// Strict conversion: an optional leading '-' then one or more digits and
// nothing else. On success stores the value and returns true; otherwise
// returns false and leaves *value untouched ("", "-", "+5", " 5", "5\n").
//   parse_decimal("-0", &v) == true, v == 0
// Neither argument may be null.
[[nodiscard]] bool parse_decimal(const char* text, std::int32_t* value) noexcept;

// Boolean words: "1", "on", "yes", "true" give 1; "0", "no", "off", "false"
// give 0; words of two letters or more match in any case. On a match stores
// the flag and returns true; otherwise (also for a null text or a null flag)
// returns false and stores nothing.
//   parse_flag("Yes", &f) == true, f == 1; parse_flag("enable", &f) == false
[[nodiscard]] bool parse_flag(const char* text, std::int32_t* flag) noexcept;

// Writes a byte count in units of 1024 into buffer (size bytes, terminator
// included) and returns buffer. Counts up to 1024 show as "N B", counts
// below 1025 KiB as whole "N KiB" (cut, not rounded), larger ones with one
// decimal in the smallest unit that keeps the number below 1025.
//   0 -> "0 B"; 2047 -> "1 KiB"; 1.5 MiB -> "1.5 MiB"; 2^64 - 1 -> "16.0 EiB"
// A short buffer receives the text cut to size - 1 bytes and a terminator;
// size 0 writes nothing. 11 bytes always suffice.
char* format_byte_size(std::size_t bytes, char* buffer, std::size_t size) noexcept;

// Decimal text of value in a static buffer, or null when formatting fails.
//   int_to_text(-2147483648) -> "-2147483648"
[[nodiscard]] const char* int_to_text(std::int32_t value) noexcept;

// Decimal text of value in a static buffer, or null when formatting fails.
//   ulong_to_text(18446744073709551615u) -> "18446744073709551615"
[[nodiscard]] const char* ulong_to_text(std::uint64_t value) noexcept;

// "[HH:MM]" of when in the process's local time zone, in a static buffer.
//   9:05:59 local -> "[09:05]"
// A time that cannot be broken down into local time gives "[--:--]".
[[nodiscard]] const char* clock_stamp(std::time_t when) noexcept;

}  // namespace corvane
