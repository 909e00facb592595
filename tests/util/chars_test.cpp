#include <corvane/chars.hpp>

#include <gtest/gtest.h>

#include <string>

#include "utf8_reference.hpp"

namespace {

using corvane::char_is_blank;
using corvane::char_is_space;
using corvane::utf8_printable_n;
using corvane::utf8_valid;
using corvane::utf8_valid_n;

// The public entries with the right mode, on runs long enough for a vector
// kernel; each kernel is held to the reference in utf8_kernels_test.
TEST(Utf8Entries, AgreeWithTheReferenceOnEveryPairOfBytes) {
    std::string text(70, 'x');
    for (unsigned a = 0; a < 256; ++a) {
        for (unsigned b = 0; b < 256; ++b) {
            text[33] = static_cast<char>(a);
            text[34] = static_cast<char>(b);
            const char* const p = text.data();
            EXPECT_EQ(utf8_valid_n(p, text.size()), corvane::reference::utf8_valid(p, text.size()))
                << a << ' ' << b;
            EXPECT_EQ(utf8_printable_n(p, text.size()),
                      corvane::reference::utf8_printable(p, text.size()))
                << a << ' ' << b;
        }
    }
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

TEST(CharClasses, BlankAndSpaceSets) {
    for (int c = -256; c < 512; ++c) EXPECT_EQ(char_is_blank(c), c == 9 || c == 13 || c == 32) << c;
    EXPECT_FALSE(char_is_blank(static_cast<signed char>(0xA0)));
    for (int c = -128; c < 128; ++c) EXPECT_EQ(char_is_space(static_cast<char>(c)), c == 32) << c;
}

}  // namespace
