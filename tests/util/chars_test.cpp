#include <corvane/chars.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "utf8_reference.hpp"

namespace {

using corvane::char_is_blank;
using corvane::char_is_space;
using corvane::utf8_printable_n;
using corvane::utf8_valid;
using corvane::utf8_valid_n;

bool reference_valid(const std::vector<std::uint8_t>& s) {
    return corvane::reference::utf8_valid(s.data(), s.size());
}

bool valid(const std::vector<std::uint8_t>& s) {
    return utf8_valid_n(reinterpret_cast<const char*>(s.data()), s.size());
}

TEST(Utf8Valid, AgreesWithReferenceOnEveryShortSequence) {
    // Every sequence of one, two and three bytes (16.8 million runs).
    std::vector<std::uint8_t> s;
    for (unsigned a = 0; a < 256; ++a) {
        s = {static_cast<std::uint8_t>(a)};
        ASSERT_EQ(valid(s), reference_valid(s)) << std::hex << a;
        for (unsigned b = 0; b < 256; ++b) {
            s = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)};
            ASSERT_EQ(valid(s), reference_valid(s)) << std::hex << a << ' ' << b;
            for (unsigned c = 0; c < 256; ++c) {
                s = {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                     static_cast<std::uint8_t>(c)};
                ASSERT_EQ(valid(s), reference_valid(s)) << std::hex << a << ' ' << b << ' ' << c;
            }
        }
    }
}

TEST(Utf8Valid, FourByteBoundaries) {
    struct Case {
        std::vector<std::uint8_t> bytes;
        bool valid;
    };
    const Case cases[] = {
        {{0xF0, 0x8F, 0xBF, 0xBF}, false},  // overlong
        {{0xF0, 0x90, 0x80, 0x80}, true},   // U+10000
        {{0xF4, 0x8F, 0xBF, 0xBF}, true},   // U+10FFFF
        {{0xF4, 0x90, 0x80, 0x80}, false},  // above U+10FFFF
        {{0xF5, 0x80, 0x80, 0x80}, false},  // lead byte above F4
        {{0xF1, 0x80, 0x80}, false},        // cut short
        {{0xF1, 0x80, 0x41, 0x80}, false},  // ASCII inside a sequence
        {{0xEF, 0xBF, 0xBF}, true},         // U+FFFF is a noncharacter but well-formed
        {{0xED, 0x9F, 0xBF}, true},         // U+D7FF, just below the surrogates
        {{0xED, 0xA0, 0x80}, false},        // U+D800, a surrogate
        {{}, true},                         // nothing at all
    };
    for (const Case& c : cases)
        EXPECT_EQ(valid(c.bytes), c.valid) << testing::PrintToString(c.bytes);
}

TEST(Utf8Valid, LongRunsTakeEveryPathOfTheWalk) {
    // A bad byte at every position of a run longer than the ASCII stride,
    // and a multi-byte character straddling each stride boundary.
    for (std::size_t length = 1; length < 40; ++length) {
        for (std::size_t bad = 0; bad < length; ++bad) {
            std::string text(length, 'a');
            text[bad] = '\xFF';
            EXPECT_FALSE(utf8_valid_n(text.data(), text.size())) << length << ' ' << bad;
            if (bad + 1 < length) {
                text[bad] = '\xC3';
                text[bad + 1] = '\xA9';
                EXPECT_TRUE(utf8_valid_n(text.data(), text.size())) << length << ' ' << bad;
            }
        }
    }
}

TEST(Utf8Valid, NeverReadsPastTheCount) {
    // The lead is the last counted byte; the bytes after it would complete it.
    const char bytes[] = "ab\xE2\x82\xAC";
    EXPECT_FALSE(utf8_valid_n(bytes, 3));
    EXPECT_FALSE(utf8_valid_n(bytes, 4));
    EXPECT_TRUE(utf8_valid_n(bytes, 5));
}

TEST(Utf8Valid, TerminatedFormStopsAtTheFirstNul) {
    const char embedded[] = {'a', '\0', 'b'};
    EXPECT_TRUE(utf8_valid_n(embedded, 3));
    EXPECT_FALSE(utf8_printable_n(embedded, 3));
    EXPECT_TRUE(utf8_valid(embedded));
    EXPECT_TRUE(utf8_valid(""));
    EXPECT_FALSE(utf8_valid("x\xE2\x82"));
    EXPECT_TRUE(utf8_valid("\xE2\x82\xAC"));
}

TEST(Utf8Printable, ControlBytesThenWellFormedness) {
    struct Case {
        std::string bytes;
        bool printable;
    };
    const Case cases[] = {
        {"", true},        {"\t\n\r", true},   {"\x1B", false},
        {"\x7F", true},    {"\xC2\x85", true}, {"\x1B\xFF", false},
        {"ok\xFF", false}, {"a\x01", false},   {"h\xC3\xA9llo", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(utf8_printable_n(c.bytes.data(), c.bytes.size()), c.printable)
            << testing::PrintToString(c.bytes);
    }
}

TEST(CharClasses, BlankAndSpaceSets) {
    for (int c = -256; c < 512; ++c) {
        EXPECT_EQ(char_is_blank(c), c == 9 || c == 13 || c == 32) << c;
    }
    EXPECT_FALSE(char_is_blank(static_cast<signed char>(0xA0)));
    for (int c = -128; c < 128; ++c) {
        EXPECT_EQ(char_is_space(static_cast<char>(c)), c == 32) << c;
    }
}

}  // namespace
