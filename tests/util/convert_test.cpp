#include <corvane/convert.hpp>

#include <gtest/gtest.h>

#include "support/time_zone.hpp"

#include <cstdint>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>

namespace {

using namespace std::string_literals;
using corvane::char_is_digit;
using corvane::clock_stamp;
using corvane::format_byte_size;
using corvane::int_to_text;
using corvane::parse_decimal;
using corvane::parse_flag;
using corvane::text_to_int;
using corvane::ulong_to_text;

constexpr std::int32_t LEAST = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t GREATEST = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t UNTOUCHED = 0x5A5A5A5A;

TEST(CharIsDigit, ExactlyTheTenDecimalDigits) {
    for (unsigned c = 0; c < 256; ++c)
        EXPECT_EQ(char_is_digit(static_cast<unsigned char>(c)), c >= '0' && c <= '9') << c;
}

struct int_case {
    const char* text;
    std::int32_t expected;
};

TEST(TextToInt, ReadsTheFirstNumberAfterAnyLeadingRun) {
    // The sign counts only in the first position; values wrap modulo 2^32.
    const int_case cases[] = {
        // clang-format off
        {"123", 123},   {"-123", -123}, {"+7", 7},      {"  7", 7},    {" -7", 7},
        {"--7", -7},    {"007", 7},     {"", 0},        {"-", 0},      {"abc", 0},
        {"x-5", 5},     {"-x5", -5},    {"12ab", 12},   {"12 34", 12}, {"42\n", 42},
        {"a1b2", 1},
        {"2147483647", GREATEST}, {"2147483648", LEAST}, {"-2147483648", LEAST},
        {"4294967296", 0},        {"4294967297", 1},     {"99999999999", 1215752191},
        // clang-format on
    };
    for (const auto& c : cases) EXPECT_EQ(text_to_int(c.text), c.expected) << '"' << c.text << '"';
}

// A strict reader stores the value of a text it accepts and leaves the value
// alone otherwise.
void expect_parsed(bool (*parse)(const char*, std::int32_t*), const int_case& c, bool accepted) {
    std::int32_t value = UNTOUCHED;
    EXPECT_EQ(parse(c.text, &value), accepted) << '"' << c.text << '"';
    EXPECT_EQ(value, accepted ? c.expected : UNTOUCHED) << '"' << c.text << '"';
}

TEST(ParseDecimal, AcceptsOptionalMinusAndDigitsOnly) {
    const int_case accepted[] = {
        // clang-format off
        {"0", 0},                 {"-0", 0},              {"007", 7},
        {"-42", -42},             {"4294967296", 0},      {"-4294967295", 1},
        {"2147483647", GREATEST}, {"-2147483648", LEAST}, {"2147483648", LEAST},
        // clang-format on
    };
    for (const auto& c : accepted) expect_parsed(parse_decimal, c, true);
    for (const char* text :
         {"", "-", "+5", " 5", "5 ", "5\n", "--5", "5-", "1x", "x1", "0x10", "1.5"})
        expect_parsed(parse_decimal, {text, 0}, false);
}

TEST(ParseFlag, KnowsItsVocabularyInAnyCase) {
    const int_case accepted[] = {
        {"1", 1},    {"0", 0},     {"on", 1},  {"no", 0},  {"yes", 1},  {"off", 0},
        {"true", 1}, {"false", 0}, {"Yes", 1}, {"OFF", 0}, {"TRUE", 1}, {"FaLsE", 0},
    };
    for (const auto& c : accepted) expect_parsed(parse_flag, c, true);
    for (const char* text : {"2", "y", "enable", " yes", "yes ", "", "truex", "ye", "01"})
        expect_parsed(parse_flag, {text, 0}, false);
    expect_parsed(parse_flag, {nullptr, 0}, false);
    EXPECT_FALSE(parse_flag("yes", nullptr));
}

constexpr std::size_t KiB = 1024;
constexpr std::size_t MiB = KiB * KiB;
constexpr std::size_t GiB = MiB * KiB;
constexpr std::size_t TiB = GiB * KiB;

TEST(FormatByteSize, PicksTheUnitAtTheDocumentedThresholds) {
    const struct {
        std::size_t bytes;
        const char* text;
    } cases[] = {
        // clang-format off
        {0, "0 B"},                {1, "1 B"},                 {1024, "1024 B"},
        {1025, "1 KiB"},           {2047, "1 KiB"},            {MiB, "1024 KiB"},
        {1049599, "1024 KiB"},     {1025 * KiB, "1.0 MiB"},    {MiB + MiB / 2, "1.5 MiB"},
        {GiB, "1024.0 MiB"},       {1025 * MiB - 1, "1025.0 MiB"},
        {1025 * MiB, "1.0 GiB"},   {TiB, "1024.0 GiB"},        {1025 * GiB, "1.0 TiB"},
        {1025 * TiB, "1.0 PiB"},   {1025 * TiB * KiB, "1.0 EiB"},
        // clang-format on
        {std::numeric_limits<std::size_t>::max(), "16.0 EiB"},
    };
    for (const auto& c : cases) {
        char buffer[32];
        EXPECT_STREQ(format_byte_size(c.bytes, buffer, sizeof buffer), c.text) << c.bytes;
    }
    // Around every power of two and every unit switch, eleven bytes hold
    // every text.
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
    const struct {
        std::size_t bytes, size;
        std::string start;  // the buffer's first bytes after the call; '#' is untouched
    } cases[] = {{1536 * KiB, 4, "1.5\0#"s}, {1024, 1, "\0#"s}, {1024, 0, "##"}};
    for (const auto& c : cases) {
        char buffer[8] = "#######";
        EXPECT_EQ(format_byte_size(c.bytes, buffer, c.size), buffer) << c.size;
        EXPECT_EQ(std::string(buffer, c.start.size()), c.start) << c.size;
    }
}

TEST(IntegerTexts, FormatTheWholeRangeEachInItsOwnBuffer) {
    EXPECT_STREQ(int_to_text(LEAST), "-2147483648");
    EXPECT_STREQ(ulong_to_text(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");

    const char* first = int_to_text(-5);
    const char* unsigned_text = ulong_to_text(0);
    EXPECT_STREQ(first, "-5");  // the unsigned formatter left it alone
    const char* second = int_to_text(GREATEST);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "2147483647");
    EXPECT_STREQ(unsigned_text, "0");
}

constexpr std::time_t at(int hour, int minute, int second) {
    return hour * 3600 + minute * 60 + second;
}

// In order, each in the time zone of its row (set without tzset, which
// clock_stamp must notice); the caller's zone is put back afterwards.
TEST(ClockStamp, ShowsHourAndMinuteOfTheLocalTime) {
    const corvane::test::time_zone zone;
    const struct {
        const char* zone;
        std::time_t when;
        const char* text;
    } cases[] = {
        // clang-format off
        {"UTC", 0, "[00:00]"},               {"UTC", at(0, 7, 0), "[00:07]"},
        {"UTC", at(9, 5, 59), "[09:05]"},    {"UTC", at(23, 59, 59), "[23:59]"},
        {"UTC", at(24, 0, 0), "[00:00]"},    {"UTC", -60, "[23:59]"},
        {"UTC", 1700000000, "[22:13]"},      // 2023-11-14 22:13:20 UTC
        {"XYZ-2", at(23, 30, 0), "[01:30]"},  // two hours east of UTC
        // No struct tm holds a year this far out; the next call works again.
        {"UTC", std::numeric_limits<std::time_t>::max(), "[--:--]"},
        {"UTC", at(12, 0, 0), "[12:00]"},
        // clang-format on
    };
    for (const auto& c : cases) {
        corvane::test::time_zone::set(c.zone);
        EXPECT_STREQ(clock_stamp(c.when), c.text) << c.zone << ' ' << c.when;
    }
}

}  // namespace
