#include <corvane/convert.hpp>

#include <gtest/gtest.h>

#include "support/time_zone.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>
#include <string>

namespace {

using corvane::char_is_digit;
using corvane::clock_stamp;
using corvane::format_byte_size;
using corvane::int_to_text;
using corvane::parse_decimal;
using corvane::parse_flag;
using corvane::text_to_int;
using corvane::ulong_to_text;

constexpr std::int32_t INT32_LEAST = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t INT32_GREATEST = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t UNTOUCHED = 0x5A5A5A5A;

TEST(CharIsDigit, ExactlyTheTenDecimalDigits) {
    for (unsigned c = 0; c < 256; ++c) {
        const bool expected = c >= '0' && c <= '9';
        EXPECT_EQ(char_is_digit(static_cast<unsigned char>(c)), expected) << "code " << c;
    }
}

struct int_case {
    const char* text;
    std::int32_t expected;
};

TEST(TextToInt, ReadsTheFirstNumberAfterAnyLeadingRun) {
    const int_case cases[] = {
        {"123", 123},
        {"-123", -123},
        {"+7", 7},
        {"  7", 7},
        {" -7", 7},  // the sign counts only in the first position
        {"--7", -7},
        {"007", 7},
        {"", 0},
        {"-", 0},
        {"abc", 0},
        {"x-5", 5},
        {"-x5", -5},
        {"12ab", 12},
        {"12 34", 12},
        {"42\n", 42},
        {"a1b2", 1},
        {"2147483647", INT32_GREATEST},
        {"2147483648", INT32_LEAST},  // wraps modulo 2^32
        {"4294967296", 0},
        {"4294967297", 1},
        {"-2147483648", INT32_LEAST},
        {"99999999999", 1215752191},  // 99999999999 mod 2^32
    };
    for (const auto& c : cases) EXPECT_EQ(text_to_int(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ParseDecimal, AcceptsOptionalMinusAndDigitsOnly) {
    const int_case cases[] = {
        {"0", 0},
        {"-0", 0},
        {"007", 7},
        {"-42", -42},
        {"2147483647", INT32_GREATEST},
        {"-2147483648", INT32_LEAST},
        {"2147483648", INT32_LEAST},
        {"4294967296", 0},
        {"-4294967295", 1},
    };
    for (const auto& c : cases) {
        std::int32_t value = UNTOUCHED;
        EXPECT_TRUE(parse_decimal(c.text, &value)) << '"' << c.text << '"';
        EXPECT_EQ(value, c.expected) << '"' << c.text << '"';
    }
}

TEST(ParseDecimal, RefusesAnythingElseAndLeavesTheValueAlone) {
    const char* const refused[] = {"",    "-",  "+5", " 5", "5 ",   "5\n",
                                   "--5", "5-", "1x", "x1", "0x10", "1.5"};
    for (const char* text : refused) {
        std::int32_t value = UNTOUCHED;
        EXPECT_FALSE(parse_decimal(text, &value)) << '"' << text << '"';
        EXPECT_EQ(value, UNTOUCHED) << '"' << text << '"';
    }
}

struct flag_case {
    const char* text;
    std::optional<std::int32_t> expected;  // empty: refused
};

TEST(ParseFlag, KnowsItsVocabularyInAnyCase) {
    const std::optional<std::int32_t> refused;
    const flag_case cases[] = {
        {"1", 1},          {"0", 0},       {"on", 1},           {"no", 0},
        {"yes", 1},        {"off", 0},     {"true", 1},         {"false", 0},
        {"Yes", 1},        {"OFF", 0},     {"TRUE", 1},         {"FaLsE", 0},
        {"2", refused},    {"y", refused}, {"enable", refused}, {" yes", refused},
        {"yes ", refused}, {"", refused},  {"truex", refused},  {"ye", refused},
        {"01", refused},
    };
    for (const auto& c : cases) {
        std::int32_t flag = UNTOUCHED;
        EXPECT_EQ(parse_flag(c.text, &flag), c.expected.has_value()) << '"' << c.text << '"';
        EXPECT_EQ(flag, c.expected.value_or(UNTOUCHED)) << '"' << c.text << '"';
    }
}

TEST(ParseFlag, NullArgumentsAreRefused) {
    std::int32_t flag = UNTOUCHED;
    EXPECT_FALSE(parse_flag(nullptr, &flag));
    EXPECT_EQ(flag, UNTOUCHED);
    EXPECT_FALSE(parse_flag("yes", nullptr));
}

struct size_case {
    std::size_t bytes;
    const char* text;
};

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = KiB * KiB;
constexpr std::size_t GiB = MiB * KiB;
constexpr std::size_t TiB = GiB * KiB;

TEST(FormatByteSize, PicksTheUnitAtTheDocumentedThresholds) {
    const size_case cases[] = {
        {0, "0 B"},
        {1, "1 B"},
        {1024, "1024 B"},
        {1025, "1 KiB"},
        {2047, "1 KiB"},
        {MiB, "1024 KiB"},
        {1049599, "1024 KiB"},
        {1025 * KiB, "1.0 MiB"},
        {MiB + MiB / 2, "1.5 MiB"},
        {GiB, "1024.0 MiB"},
        {1025 * MiB - 1, "1025.0 MiB"},
        {1025 * MiB, "1.0 GiB"},
        {TiB, "1024.0 GiB"},
        {1025 * GiB, "1.0 TiB"},
        {1025 * TiB, "1.0 PiB"},
        {1025 * TiB * KiB, "1.0 EiB"},
        {std::numeric_limits<std::size_t>::max(), "16.0 EiB"},
    };
    for (const auto& c : cases) {
        char buffer[32];
        EXPECT_STREQ(format_byte_size(c.bytes, buffer, sizeof buffer), c.text) << c.bytes;
    }
}

TEST(FormatByteSize, ElevenBytesHoldEveryText) {
    // Around every power of two and every unit switch.
    for (unsigned shift = 0; shift < 64; ++shift) {
        const std::size_t power = std::size_t{1} << shift;
        for (const std::size_t bytes : {power - 1, power, power + 1, power / 1024 * 1025 - 1}) {
            char buffer[64];
            format_byte_size(bytes, buffer, sizeof buffer);
            EXPECT_LE(std::strlen(buffer), 10u) << bytes << " -> " << buffer;
        }
    }
}

TEST(FormatByteSize, CutsTheTextToTheBufferAndReturnsIt) {
    char buffer[8];
    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(format_byte_size(1536 * KiB, buffer, 4), buffer);
    EXPECT_STREQ(buffer, "1.5");
    EXPECT_EQ(buffer[4], '#');

    std::memset(buffer, '#', sizeof buffer);
    EXPECT_STREQ(format_byte_size(1024, buffer, 1), "");

    std::memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(format_byte_size(1024, buffer, 0), buffer);
    EXPECT_EQ(buffer[0], '#');
}

TEST(IntegerTexts, FormatTheWholeRangeEachInItsOwnBuffer) {
    EXPECT_STREQ(int_to_text(INT32_LEAST), "-2147483648");
    EXPECT_STREQ(ulong_to_text(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");

    const char* first = int_to_text(-5);
    const char* unsigned_text = ulong_to_text(0);
    EXPECT_STREQ(first, "-5");  // the unsigned formatter left it alone
    const char* second = int_to_text(INT32_GREATEST);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "2147483647");
    EXPECT_STREQ(unsigned_text, "0");
}

// Runs each test in a fixed time zone and restores the caller's afterwards.
class ClockStamp : public ::testing::Test {
protected:
    void SetUp() override { corvane::test::time_zone::set("UTC"); }
    corvane::test::time_zone zone_;
};

constexpr std::time_t at(int hour, int minute, int second) {
    return hour * 3600 + minute * 60 + second;
}

TEST_F(ClockStamp, ShowsHourAndMinuteOfTheLocalTime) {
    const struct {
        std::time_t when;
        const char* text;
    } cases[] = {
        {0, "[00:00]"},
        {at(0, 7, 0), "[00:07]"},
        {at(9, 5, 59), "[09:05]"},
        {at(23, 59, 59), "[23:59]"},
        {at(24, 0, 0), "[00:00]"},
        {1700000000, "[22:13]"},  // 2023-11-14 22:13:20 UTC
        {-60, "[23:59]"},
    };
    for (const auto& c : cases) EXPECT_STREQ(clock_stamp(c.when), c.text) << c.when;
}

TEST_F(ClockStamp, FollowsTheProcessTimeZone) {
    corvane::test::time_zone::set("XYZ-2");  // two hours east of UTC
    EXPECT_STREQ(clock_stamp(at(23, 30, 0)), "[01:30]");
}

TEST_F(ClockStamp, MarksATimeBeyondTheCalendar) {
    // No struct tm can hold a year this far out, so localtime gives up.
    EXPECT_STREQ(clock_stamp(std::numeric_limits<std::time_t>::max()), "[--:--]");
    EXPECT_STREQ(clock_stamp(at(12, 0, 0)), "[12:00]");
}

}  // namespace
