// The conversions on arbitrary text: parse_decimal against std::from_chars
// within the 32-bit range, parse_flag against its vocabulary, and
// format_byte_size always terminated and inside its buffer.
#include <corvane/convert.hpp>

#include <strings.h>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

void check_parse_decimal(const std::string& text) {
    std::int32_t value = 12345;
    const bool parsed = corvane::parse_decimal(text.c_str(), &value);

    const std::size_t digits_at = !text.empty() && text[0] == '-' ? 1 : 0;
    const bool well_formed = text.size() > digits_at &&
                             text.find_first_not_of("0123456789", digits_at) == std::string::npos;
    if (parsed != well_formed) std::abort();
    if (!parsed) {
        if (value != 12345) std::abort();  // untouched on failure
        return;
    }
    std::int64_t wide = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), wide);
    if (error == std::errc() && end == text.data() + text.size() && wide >= INT32_MIN &&
        wide <= INT32_MAX && value != wide) {
        std::abort();
    }
}

void check_parse_flag(const std::string& text) {
    static const char* const yes_words[] = {"1", "on", "yes", "true"};
    static const char* const no_words[] = {"0", "no", "off", "false"};
    int expected = -1;
    for (const char* word : yes_words) {
        if (text.size() == std::strlen(word) && strcasecmp(text.c_str(), word) == 0) expected = 1;
    }
    for (const char* word : no_words) {
        if (text.size() == std::strlen(word) && strcasecmp(text.c_str(), word) == 0) expected = 0;
    }
    std::int32_t flag = 7;
    const bool parsed = corvane::parse_flag(text.c_str(), &flag);
    if (parsed != (expected >= 0)) std::abort();
    if (flag != (parsed ? expected : 7)) std::abort();
}

void check_format_byte_size(const std::uint8_t* data, std::size_t size) {
    std::uint64_t count = 0;
    std::memcpy(&count, data, size < 8 ? size : 8);
    const std::size_t capacity = size > 8 ? data[8] % 16 : 11;
    // An exact-size heap buffer: a write past it is caught.
    const auto buffer = std::make_unique<char[]>(capacity + 1);
    if (corvane::format_byte_size(count, buffer.get(), capacity) != buffer.get()) std::abort();
    if (capacity == 0) return;
    const std::size_t length = strnlen(buffer.get(), capacity);
    if (length >= capacity) std::abort();  // always terminated inside the buffer
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));
    check_parse_decimal(text);
    check_parse_flag(text);
    check_format_byte_size(data, size);
    (void)corvane::text_to_int(text.c_str());
    return 0;
}
