#include <corvane/base32.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "base32_reference.hpp"

namespace {

using corvane::b32_decode;
using corvane::b32_encode;
using corvane::char_is_base32;

using bytes = std::vector<std::uint8_t>;

constexpr std::string_view ALPHABET = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

std::size_t encoded_length(std::size_t count) { return (8 * count + 4) / 5; }

// Encodes from and into heap blocks of exactly the documented sizes, so
// that the sanitizer reports any read or write past either of them.
std::string encode(const bytes& input) {
    const std::size_t count = input.size();
    auto in = std::make_unique<std::uint8_t[]>(count);
    if (count != 0) std::memcpy(in.get(), input.data(), count);
    const std::size_t size = encoded_length(count) + 1;
    auto out = std::make_unique<char[]>(size);
    std::memset(out.get(), '#', size);
    b32_encode(in.get(), count, out.get());
    EXPECT_EQ(out[size - 1], '\0');
    return std::string(out.get(), size - 1);
}

// Decodes text from a heap block of exactly its size into one of exactly
// capacity bytes, primed with fill so that bytes the decoder forgot to
// clear show up; the sanitizer reports a read past the terminator or a
// write past the capacity.
bytes decode(const std::string& text, std::size_t capacity,
             void (*decoder)(const char*, std::uint8_t*, std::size_t) = b32_decode,
             std::uint8_t fill = 0xA5) {
    auto in = std::make_unique<char[]>(text.size() + 1);
    std::memcpy(in.get(), text.c_str(), text.size() + 1);
    auto out = std::make_unique<std::uint8_t[]>(capacity);
    std::memset(out.get(), fill, capacity);
    decoder(in.get(), out.get(), capacity);
    return bytes(out.get(), out.get() + capacity);
}

bytes text_bytes(std::string_view text) { return bytes(text.begin(), text.end()); }

TEST(CharIsBase32, ExactlyTheAlphabet) {
    for (unsigned c = 0; c < 256; ++c) {
        const bool expected =
            c != 0 && ALPHABET.find(static_cast<char>(c)) != std::string_view::npos;
        EXPECT_EQ(char_is_base32(static_cast<unsigned char>(c)), expected) << "code " << c;
    }
}

struct vector_case {
    std::string_view plain;
    std::string_view encoded;
};

// RFC 4648 section 10 with the "=" fill removed, and further known texts.
constexpr vector_case KNOWN_VECTORS[] = {
    // clang-format off
    {"", ""},             {"f", "MY"},           {"fo", "MZXQ"},          {"foo", "MZXW6"},
    {"foob", "MZXW6YQ"},  {"fooba", "MZXW6YTB"}, {"foobar", "MZXW6YTBOI"},
    {"abc", "MFRGG"},     {"abcde", "MFRGGZDF"}, {"\xFF", "74"},          {{"\0", 1}, "AA"},
    {"\xFF\xFF\xFF\xFF\xFF", "77777777"},
    // clang-format on
};

TEST(B32, KnownVectorsBothWays) {
    for (const auto& v : KNOWN_VECTORS) {
        EXPECT_EQ(encode(text_bytes(v.plain)), v.encoded) << v.encoded;
        if (v.plain.empty()) continue;
        EXPECT_EQ(decode(std::string(v.encoded), v.plain.size()), text_bytes(v.plain)) << v.encoded;
    }
    char out[1] = {'#'};
    b32_encode(nullptr, 0, out);  // no input at all
    EXPECT_EQ(out[0], '\0');
}

TEST(B32, RoundTripsEveryLengthUpTo64) {
    std::mt19937 random(20240611);
    std::uniform_int_distribution<unsigned> byte(0, 255);
    for (std::size_t count = 0; count <= 64; ++count) {
        bytes input(count);
        for (auto& b : input) b = static_cast<std::uint8_t>(byte(random));
        const std::string text = encode(input);
        ASSERT_EQ(text.size(), encoded_length(count)) << count;
        EXPECT_EQ(text.find_first_not_of(ALPHABET), std::string::npos) << text;
        if (count == 0) continue;
        EXPECT_EQ(decode(text, count), input) << "length " << count;

        // Spare capacity stays zero after the decoded bytes.
        bytes padded = input;
        padded.resize(count + 3, 0);
        EXPECT_EQ(decode(text, count + 3), padded) << "length " << count;
    }
}

TEST(B32Decode, PassesOverCharactersOutsideTheAlphabetAndKeepsLeftoverBits) {
    // Leftover bits go to the top of the next byte; the rest stays zero.
    const bytes abc = text_bytes("abc");
    const struct {
        const char* text;
        std::size_t capacity;
        bytes expected;
    } cases[] = {
        // clang-format off
        {"MFRGG===", 3, abc},     {"MF RG-G", 3, abc},     {"MF\nRG\r\tG", 3, abc},
        {"mfrgg", 3, bytes(3, 0)},
        {"MF", 3, {0x61, 0x40, 0x00}},
        {"MFRGG", 4, {0x61, 0x62, 0x63, 0x00}}, {"MFRGH", 4, {0x61, 0x62, 0x63, 0x80}},
        {"7", 2, {0xF8, 0x00}},   {"77", 2, {0xFF, 0xC0}}, {"", 2, {0x00, 0x00}},
        // clang-format on
    };
    for (const auto& c : cases) EXPECT_EQ(decode(c.text, c.capacity), c.expected) << c.text;

    // Every byte value outside the alphabet, including those between "7"
    // and "A" that fall inside the lookup table's range, is ignored.
    for (unsigned c = 1; c < 256; ++c) {
        if (ALPHABET.find(static_cast<char>(c)) != std::string_view::npos) continue;
        const std::string text = std::string("MF") + static_cast<char>(c) + "RGG";
        EXPECT_EQ(decode(text, 3), abc) << "code " << c;
    }
}

TEST(B32Decode, StopsWhenTheBufferIsFull) {
    // Each case ends its last byte on a different offset, so every branch
    // that completes a byte meets the capacity once.
    const std::string text = "MFRGGZDFMFRGGZDF";  // "abcdeabcde"
    const bytes plain = text_bytes("abcdeabcde");
    for (std::size_t capacity = 1; capacity <= plain.size(); ++capacity) {
        EXPECT_EQ(decode(text, capacity),
                  bytes(plain.begin(), plain.begin() + static_cast<long>(capacity)))
            << "capacity " << capacity;
    }
}

TEST(B32Decode, CapacityZeroWritesNothing) {
    b32_decode("MFRGG", nullptr, 0);

    std::uint8_t guard = 0xA5;
    b32_decode("MFRGG", &guard, 0);
    EXPECT_EQ(guard, 0xA5);
}

// The decoder takes whole 5-byte blocks where it can and goes bit by bit
// elsewhere; it must give exactly what the straightforward decoder gives,
// which goes bit by bit everywhere, whatever the length, the characters
// outside the alphabet in between and the capacity.
TEST(B32Decode, MatchesTheStraightforwardDecoder) {
    std::mt19937 random(20240612);
    std::uniform_int_distribution<unsigned> byte(0, 255);
    std::string junk;  // every code outside the alphabet but the terminator
    for (unsigned c = 1; c < 256; ++c) {
        if (!char_is_base32(static_cast<unsigned char>(c))) junk += static_cast<char>(c);
    }
    std::uniform_int_distribution<std::size_t> pick_junk(0, junk.size() - 1);

    for (std::size_t count = 0; count <= 200; ++count) {
        bytes input(count);
        for (auto& b : input) b = static_cast<std::uint8_t>(byte(random));
        const std::string text = encode(input);

        // Junk before about one character in 16 breaks some blocks and
        // shifts the rest off their alignment; one in 2 breaks nearly all.
        for (const unsigned one_in : {0u, 16u, 2u}) {
            std::string mixed;
            for (const char c : text) {
                if (one_in != 0 && random() % one_in == 0) mixed += junk[pick_junk(random)];
                mixed += c;
            }
            for (std::size_t capacity = 0; capacity <= count + 2; ++capacity) {
                ASSERT_EQ(decode(mixed, capacity),
                          decode(mixed, capacity, corvane::reference::b32_decode, 0x5A))
                    << "length " << count << ", junk one in " << one_in << ", capacity " << capacity
                    << ", text " << mixed;
            }
        }
    }
}

}  // namespace
