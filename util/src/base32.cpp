#include <corvane/base32.hpp>

#include <array>
#include <cstring>
#include <string_view>

namespace corvane {

namespace {

// Character i stands for the 5-bit value i. The two tables below are
// derived from it.
constexpr std::string_view b32_alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

// The decoder's table over every character code: the value of an alphabet
// character, B32_REFUSED for every other code, the terminator included.
constexpr std::uint8_t B32_REFUSED = 0xFF;
constexpr std::array<std::uint8_t, 256> b32_values = [] {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) entry = B32_REFUSED;
    for (std::size_t value = 0; value < b32_alphabet.size(); ++value) {
        table[static_cast<unsigned char>(b32_alphabet[value])] = static_cast<std::uint8_t>(value);
    }
    return table;
}();

// 5 bytes are 40 bits, exactly 8 characters: a whole block starts and ends
// at offset 0.
constexpr std::size_t BLOCK_BYTES = 5;
constexpr std::size_t BLOCK_CHARS = 8;

// The encoder's table for whole blocks: the two characters of every 10-bit
// value, derived from b32_alphabet. Half as many lookups and stores as one
// character at a time.
using b32_pair = std::array<char, 2>;
constexpr std::array<b32_pair, 1024> b32_pairs = [] {
    std::array<b32_pair, 1024> table{};
    for (std::size_t value = 0; value < table.size(); ++value) {
        table[value] = {b32_alphabet[value >> 5], b32_alphabet[value & 0x1Fu]};
    }
    return table;
}();

void encode_block(const std::uint8_t* input, char* output) noexcept {
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < BLOCK_BYTES; ++i) bits = (bits << 8) | input[i];
    for (std::size_t i = 0; i < BLOCK_CHARS / 2; ++i) {
        std::memcpy(output + 2 * i, b32_pairs[(bits >> (30 - 10 * i)) & 0x3FFu].data(), 2);
    }
}

// Decodes the next 8 characters into 5 bytes when all of them are in the
// alphabet; otherwise returns false and writes nothing. Reads no character
// after the first refused one, so never past the terminator.
bool decode_block(const char* text, std::uint8_t* output) noexcept {
    std::uint64_t bits = 0;
    for (std::size_t i = 0; i < BLOCK_CHARS; ++i) {
        const unsigned value = b32_values[static_cast<unsigned char>(text[i])];
        if (value == B32_REFUSED) return false;
        bits = (bits << 5) | value;
    }
    for (std::size_t i = 0; i < BLOCK_BYTES; ++i) {
        output[i] = static_cast<std::uint8_t>(bits >> (32 - 8 * i));
    }
    return true;
}

}  // namespace

bool char_is_base32(unsigned char c) noexcept { return b32_values[c] != B32_REFUSED; }

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
//
// Both directions first take whole blocks of 5 bytes and 8 characters at
// offset 0, and go five bits at a time only where that does not fit: the
// encoder for the last 1 to 4 bytes, the decoder around characters outside
// the alphabet and near the end of the buffer.

void b32_encode(const std::uint8_t* input, std::uint64_t count, char* output) noexcept {
    std::uint64_t at = 0;
    for (; count - at >= BLOCK_BYTES; at += BLOCK_BYTES) {
        encode_block(input + at, output);
        output += BLOCK_CHARS;
    }
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
    while (*text != '\0') {
        // A whole block needs offset 0 and 5 bytes of room; when it fills
        // the buffer exactly, decoding ends as it would character by
        // character, on the block's last character.
        if (offset == 0 && capacity - at >= BLOCK_BYTES && decode_block(text, output + at)) {
            text += BLOCK_CHARS;
            at += BLOCK_BYTES;
            if (at == capacity) return;
            continue;
        }
        const unsigned value = b32_values[static_cast<unsigned char>(*text++)];
        if (value == B32_REFUSED) continue;
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
