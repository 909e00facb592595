#include <corvane/base32.hpp>

#include <array>
#include <cstring>
#include <string_view>

namespace corvane {

namespace {

// Character i stands for the 5-bit value i.
constexpr std::string_view b32_alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

// Decoding table indexed by character code minus 50, covering "2" (50) to
// "Z" (90). Entries 6..14 ("8" up to "@") are never consulted: the mask
// below refuses those characters first.
constexpr std::array<std::uint8_t, 41> b32_values{
    26, 27, 28, 29, 30, 31,                                                // "2".."7"
    0,  0,  0,  0,  0,  0,  0,  0,  0,                                     // "8".."@"
    0,  1,  2,  3,  4,  5,  6,  7,  8, 9, 10, 11, 12, 13, 14, 15, 16, 17,  // "A".."R"
    18, 19, 20, 21, 22, 23, 24, 25,                                        // "S".."Z"
};

// Bit i is set when the character of code 50 + i is in the alphabet.
constexpr std::uint64_t B32_ACCEPT_MASK = 0x1FFFFFF803F;

constexpr unsigned B32_FIRST_CODE = 50;

// The three tables describe one alphabet; a slip in any of them fails the
// build instead of a decoding.
constexpr bool tables_agree() {
    std::uint64_t mask = 0;
    for (std::size_t value = 0; value < b32_alphabet.size(); ++value) {
        const auto index = static_cast<unsigned char>(b32_alphabet[value]) - B32_FIRST_CODE;
        if (b32_values[index] != value) return false;
        mask |= std::uint64_t{1} << index;
    }
    return mask == B32_ACCEPT_MASK;
}
static_assert(tables_agree());

}  // namespace

bool char_is_base32(unsigned char c) noexcept {
    return static_cast<unsigned>(c) - 65u < 26u || static_cast<unsigned>(c) - 50u < 6u;
}

// Both directions walk the bit stream five bits at a time, keeping a byte
// position and the bit offset of the next group inside that byte, counted
// from its most significant bit. The offsets repeat every 5 bytes and 8
// characters:
//
//   character   0  1  2  3  4  5  6  7
//   offset      0  5  2  7  4  1  6  3
//
// At offsets 0..3 the group lies inside one byte; at 4..7 it straddles the
// byte boundary, taking 8 - offset bits from this byte and offset - 3 from
// the next.

void b32_encode(const std::uint8_t* input, std::uint64_t count, char* output) noexcept {
    std::uint64_t at = 0;
    unsigned offset = 0;
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
            // Past the last byte the missing low bits are zero.
            const unsigned next = at + 1 < count ? input[at + 1] : 0u;
            value = ((byte << (offset - 3)) | (next >> (11 - offset))) & 0x1Fu;
            offset -= 3;
            ++at;
        }
        *output++ = b32_alphabet[value];
    }
    *output = '\0';
}

void b32_decode(const char* text, std::uint8_t* output, std::size_t capacity) noexcept {
    if (capacity == 0) return;
    std::memset(output, 0, capacity);
    std::size_t at = 0;
    unsigned offset = 0;
    const auto merge = [output, &at](unsigned bits) {
        output[at] = static_cast<std::uint8_t>(output[at] | (bits & 0xFFu));
    };
    for (; *text != '\0'; ++text) {
        // Codes below 50 wrap to large values and fail the range test.
        const unsigned index = static_cast<unsigned char>(*text) - B32_FIRST_CODE;
        if (index >= b32_values.size() || ((B32_ACCEPT_MASK >> index) & 1u) == 0) continue;
        const unsigned value = b32_values[index];
        const unsigned next_offset = (offset + 5) % 8;
        if (offset < 3) {
            merge(value << (3 - offset));
        } else {
            // This group completes the byte; the bits left over, if any,
            // start the next one, unless the buffer ends here.
            merge(value >> next_offset);
            if (++at == capacity) return;
            if (next_offset != 0) merge(value << (8 - next_offset));
        }
        offset = next_offset;
    }
}

}  // namespace corvane
