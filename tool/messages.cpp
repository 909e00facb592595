#include "messages.hpp"

#include <stdio.h>
#include <unistd.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <corvane/chars.hpp>

namespace corvane::userdb {

namespace {

// The length of the sequence a lead byte opens, or 0 for a byte that opens
// none; utf8_valid_n then judges the rest (overlong forms, surrogates, the
// upper limit).
std::size_t sequence_length(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

std::uint32_t code_point(const unsigned char* bytes, std::size_t length) {
    std::uint32_t value = bytes[0] & (0x7Fu >> length);
    for (std::size_t i = 1; i < length; ++i) value = (value << 6) | (bytes[i] & 0x3Fu);
    return value;
}

bool is_hidden_control(std::uint32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F || c == 0x2028 ||
           c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

__attribute__((format(printf, 1, 0))) void write_message(const char* format, va_list values) {
    if (isatty(STDERR_FILENO) == 0) {
        std::vfprintf(stderr, format, values);
        return;
    }
    // Formatted whole first, so that the filter sees every byte of each
    // value; a message too long for the stack goes to the heap, and is cut
    // short only when that fails too.
    char small[1024];
    va_list measure;
    va_copy(measure, values);
    const int length = std::vsnprintf(small, sizeof small, format, measure);
    va_end(measure);
    if (length < 0) return;
    char* text = small;
    if (static_cast<std::size_t>(length) >= sizeof small) {
        char* large = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
        if (large != nullptr) {
            std::vsnprintf(large, static_cast<std::size_t>(length) + 1, format, values);
            text = large;
        }
    }
    const std::size_t end = std::strlen(text);
    const bool line_feed = end > 0 && text[end - 1] == '\n';
    flockfile(stderr);
    put_for_terminal({text, line_feed ? end - 1 : end}, stderr);
    if (line_feed) putc_unlocked('\n', stderr);
    funlockfile(stderr);
    if (text != small) std::free(text);
}

}  // namespace

void report(const char* format, ...) {
    va_list values;
    va_start(values, format);
    write_message(format, values);
    va_end(values);
}

void print(const char* format, ...) {
    va_list values;
    va_start(values, format);
    std::vfprintf(stdout, format, values);
    va_end(values);
}

void fail(const char* format, ...) {
    va_list values;
    va_start(values, format);
    write_message(format, values);
    va_end(values);
    std::exit(EXIT_FAILURE);
}

void put_for_terminal(std::string_view text, std::FILE* stream) {
    const auto* at = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* const end = at + text.size();
    while (at != end) {
        const unsigned char lead = *at;
        if (lead < 0x80) {
            putc_unlocked(lead < 0x20 || lead == 0x7F ? '?' : lead, stream);
            ++at;
            continue;
        }
        std::size_t length = sequence_length(lead);
        // A sequence cut short by the end of the text is malformed.
        if (length > static_cast<std::size_t>(end - at)) length = 0;
        for (std::size_t i = 1; i < length; ++i) {
            if (!is_continuation(at[i])) length = 0;
        }
        if (length == 0 || !utf8_valid_n(reinterpret_cast<const char*>(at), length)) {
            putc_unlocked('?', stream);
            ++at;
            continue;
        }
        if (is_hidden_control(code_point(at, length))) {
            putc_unlocked('?', stream);
        } else {
            for (std::size_t i = 0; i < length; ++i) putc_unlocked(at[i], stream);
        }
        at += length;
    }
}

}  // namespace corvane::userdb
