// Base32 with the RFC 4648 alphabet "A".."Z", "2".."7" and no "=" fill.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

[[nodiscard]] bool char_is_base32(unsigned char c);
void b32_encode(const std::uint8_t* input, std::uint64_t count, char* output);
void b32_decode(const char* text, std::uint8_t* output, std::size_t capacity);

}  // namespace corvane
