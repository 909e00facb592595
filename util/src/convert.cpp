#include <corvane/convert.hpp>

#include <strings.h>
#include <array>
#include <cinttypes>
#include <cstdio>

namespace corvane {

namespace {

// Result buffers of the three formatters, one each, alive for the process.
// 22 bytes hold the longest decimal texts: 11 for INT32_MIN, 20 for
// UINT64_MAX, plus the terminator.
char int_text_buf[22];
char ulong_text_buf[22];
char clock_text_buf[32];

// Digits are folded in unsigned arithmetic so that values beyond the 32-bit
// range wrap modulo 2^32 instead of overflowing a signed type.
std::uint32_t fold_digit(std::uint32_t value, char digit) noexcept {
    return value * 10u + static_cast<std::uint32_t>(static_cast<unsigned char>(digit) - '0');
}

// Two's complement reading of a 32-bit pattern (well defined since C++20).
std::int32_t as_signed(std::uint32_t value, bool negate) noexcept {
    return static_cast<std::int32_t>(negate ? 0u - value : value);
}

bool is_digit_char(char c) noexcept { return char_is_digit(static_cast<unsigned char>(c)); }

// parse_flag's vocabulary, indexed by the length of the word; null where no
// word of that length exists.
struct flag_words {
    const char* gives_one;
    const char* gives_zero;
};
constexpr std::array<flag_words, 6> flag_vocabulary{{
    {nullptr, nullptr},
    {"1", "0"},
    {"on", "no"},
    {"yes", "off"},
    {"true", nullptr},
    {nullptr, "false"},
}};

// Length of text, but counting no further than limit: a long text is
// rejected without walking all of it.
std::size_t bounded_length(const char* text, std::size_t limit) noexcept {
    std::size_t length = 0;
    while (length < limit && text[length] != '\0') ++length;
    return length;
}

bool word_matches(const char* text, const char* word) noexcept {
    return word != nullptr && strcasecmp(text, word) == 0;
}

// Unit names by the power of 1024 they stand for.
constexpr std::array<const char*, 9> size_units{"B",   "KiB", "MiB", "GiB", "TiB",
                                                "PiB", "EiB", "ZiB", "YiB"};

// Largest count, in the unit below, that still shows in that unit: 1025 of
// it less one, so the unit switches where the number would reach 1025.
constexpr std::size_t UNIT_SWITCH = 1025u * 1024u - 1u;

}  // namespace

bool char_is_digit(unsigned char c) noexcept { return static_cast<unsigned>(c) - 48u < 10u; }

std::int32_t text_to_int(const char* text) noexcept {
    const char* at = text;
    while (*at != '\0' && !is_digit_char(*at)) ++at;
    std::uint32_t value = 0;
    // Reading stops at the first non-digit after the digits, so "12ab" and
    // "12 34" give 12 rather than folding later characters in as digits.
    for (; is_digit_char(*at); ++at) value = fold_digit(value, *at);
    return as_signed(value, text[0] == '-');
}

bool parse_decimal(const char* text, std::int32_t* value) noexcept {
    const bool negative = text[0] == '-';
    const char* at = negative ? text + 1 : text;
    if (*at == '\0') return false;
    std::uint32_t folded = 0;
    for (; *at != '\0'; ++at) {
        if (!is_digit_char(*at)) return false;
        folded = fold_digit(folded, *at);
    }
    *value = as_signed(folded, negative);
    return true;
}

bool parse_flag(const char* text, std::int32_t* flag) noexcept {
    if (text == nullptr || flag == nullptr) return false;
    const std::size_t length = bounded_length(text, flag_vocabulary.size());
    if (length == 0 || length >= flag_vocabulary.size()) return false;
    const flag_words& words = flag_vocabulary[length];
    if (word_matches(text, words.gives_one)) {
        *flag = 1;
        return true;
    }
    if (word_matches(text, words.gives_zero)) {
        *flag = 0;
        return true;
    }
    return false;
}

char* format_byte_size(std::size_t bytes, char* buffer, std::size_t size) noexcept {
    if (bytes <= 1024u) {
        std::snprintf(buffer, size, "%zu %s", bytes, size_units[0]);
        return buffer;
    }
    std::size_t unit = 1;
    std::size_t divisor = 1024;
    // divisor / 1024 is the size of the unit below the one under test.
    while (bytes / (divisor / 1024u) > UNIT_SWITCH && unit + 1 < size_units.size()) {
        ++unit;
        divisor *= 1024u;
    }
    if (unit == 1) {
        std::snprintf(buffer, size, "%zu %s", bytes / divisor, size_units[unit]);
    } else {
        const double quotient = static_cast<double>(bytes) / static_cast<double>(divisor);
        std::snprintf(buffer, size, "%.1f %s", quotient, size_units[unit]);
    }
    return buffer;
}

const char* int_to_text(std::int32_t value) noexcept {
    if (std::snprintf(int_text_buf, sizeof int_text_buf, "%" PRId32, value) < 0) return nullptr;
    return int_text_buf;
}

const char* ulong_to_text(std::uint64_t value) noexcept {
    if (std::snprintf(ulong_text_buf, sizeof ulong_text_buf, "%" PRIu64, value) < 0) return nullptr;
    return ulong_text_buf;
}

const char* clock_stamp(std::time_t when) noexcept {
    const std::tm* local = std::localtime(&when);
    if (local == nullptr) {
        // Years beyond what struct tm holds: show that there is no time
        // rather than leave the previous stamp or garbage in the buffer.
        std::snprintf(clock_text_buf, sizeof clock_text_buf, "[--:--]");
        return clock_text_buf;
    }
    std::snprintf(clock_text_buf, sizeof clock_text_buf, "[%02d:%02d]", local->tm_hour,
                  local->tm_min);
    return clock_text_buf;
}

}  // namespace corvane
