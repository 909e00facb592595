// Base32 with the RFC 4648 alphabet "A".."Z", "2".."7" and no "=" fill.
//
// No function reports an error, allocates or keeps state; all are
// reentrant. The caller sizes the buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane {

// True for "A".."Z" and "2".."7"; lower-case letters, "0", "1", "8", "9" and
// "=" give false.
//   char_is_base32('Z') == true; char_is_base32('a') == false
[[nodiscard]] bool char_is_base32(unsigned char c) noexcept;

// Encodes count bytes of input as (8 * count + 4) / 5 characters followed
// by a terminator; output must hold that many bytes plus one. Bits missing
// from the last group are zero; no "=" is written. Never reads
// input[count] or beyond; input may be null when count is 0.
//   "abc" -> "MFRGG"; {0xFF} -> "74"; no bytes -> ""
void b32_encode(const std::uint8_t* input, std::uint64_t count, char* output) noexcept;

// Decodes the NUL-terminated text into output[0, capacity). The buffer is
// zero-filled first; characters outside the alphabet (lower case, "=",
// blanks, ...) are passed over. Decoding stops at the end of the text or
// as soon as the byte at capacity - 1 is complete, dropping the bits that
// would spill beyond it. No terminator is written and the number of bytes
// produced is not reported: floor(5 * c / 8) for c alphabet characters.
// With capacity 0 nothing is written (output may then be null).
//   "MFRGG", capacity 3 -> 'a' 'b' 'c'; "MF", capacity 3 -> 'a' 0x40 0x00
void b32_decode(const char* text, std::uint8_t* output, std::size_t capacity) noexcept;

}  // namespace corvane
