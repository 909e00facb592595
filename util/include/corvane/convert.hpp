// Value conversions: decimal integers, boolean words, byte sizes, clock
// stamps.
//
// int_to_text, ulong_to_text and clock_stamp return static buffers that the
// next call of the same function overwrites.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace corvane {

[[nodiscard]] bool char_is_digit(unsigned char c);
[[nodiscard]] std::int32_t text_to_int(const char* text);
[[nodiscard]] bool parse_decimal(const char* text, std::int32_t* value);
[[nodiscard]] bool parse_flag(const char* text, std::int32_t* flag);
char* format_byte_size(std::size_t bytes, char* buffer, std::size_t size);
[[nodiscard]] const char* int_to_text(std::int32_t value);
[[nodiscard]] const char* ulong_to_text(std::uint64_t value);
[[nodiscard]] const char* clock_stamp(std::time_t when);

}  // namespace corvane
