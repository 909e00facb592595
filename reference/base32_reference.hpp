// A straightforward base32 codec that walks the bit stream five bits at a
// time with a byte position and a bit offset, one character per step: the
// codec corvane had before it learned to work on whole 5-byte groups. The
// unit tests hold the library's decoder to it bit for bit, and the
// benchmarks measure the library's codec against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace corvane::reference {

inline constexpr char B32_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

// Values by character code minus 50 ("2" to "Z"), and the mask of the codes
// in that range that belong to the alphabet.
inline constexpr std::uint8_t B32_VALUES[41] = {
    26, 27, 28, 29, 30, 31, 0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  1,  2,  3,  4,  5,
    6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25,
};
inline constexpr std::uint64_t B32_ACCEPT_MASK = 0x1FFFFFF803F;

// The library's encoder ends with this same loop for its last 1 to 4 bytes:
// a deliberate copy, the old codec kept whole as the benchmarks' yardstick.
// For that reason the tests do not hold the library's encoder to it.
inline void b32_encode(const std::uint8_t* input, std::uint64_t count, char* output) {
    std::uint64_t at = 0;
    unsigned offset = 0;  // of the next group in input[at], from the top bit
    while (at < count) {
        const unsigned byte = input[at];
        unsigned value;
        if (offset <= 3) {
            value = (byte >> (3 - offset)) & 0x1Fu;
            offset += 5;
            if (offset == 8) {
                offset = 0;
                ++at;
            }
        } else {
            const unsigned next = at + 1 < count ? input[at + 1] : 0u;
            value = ((byte << (offset - 3)) | (next >> (11 - offset))) & 0x1Fu;
            offset -= 3;
            ++at;
        }
        *output++ = B32_ALPHABET[value];
    }
    *output = '\0';
}

inline void b32_decode(const char* text, std::uint8_t* output, std::size_t capacity) {
    if (capacity == 0) return;
    std::memset(output, 0, capacity);
    std::size_t at = 0;
    unsigned offset = 0;  // of the next group in output[at], from the top bit
    for (; *text != '\0'; ++text) {
        const unsigned index = static_cast<unsigned char>(*text) - 50u;
        if (index >= 41u || ((B32_ACCEPT_MASK >> index) & 1u) == 0) continue;
        const unsigned value = B32_VALUES[index];
        const unsigned next_offset = (offset + 5) % 8;
        if (offset < 3) {
            output[at] = static_cast<std::uint8_t>(output[at] | ((value << (3 - offset)) & 0xFFu));
        } else {
            output[at] = static_cast<std::uint8_t>(output[at] | (value >> next_offset));
            if (++at == capacity) return;
            if (next_offset != 0) {
                output[at] =
                    static_cast<std::uint8_t>(output[at] | ((value << (8 - next_offset)) & 0xFFu));
            }
        }
        offset = next_offset;
    }
}

}  // namespace corvane::reference
