// Uses a few functions of the installed library and checks their results;
// exits 0 only when every one is right.
#include <corvane/util.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

int failures = 0;

void check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
}

}  // namespace

int main() {
    check(corvane::char_is_blank('\t') && !corvane::char_is_blank('\n'), "char_is_blank");
    check(corvane::utf8_valid("gr\xC3\xBC\xC3\x9F") && !corvane::utf8_valid("\xC0\x80"),
          "utf8_valid");

    std::int32_t number = 0;
    check(corvane::parse_decimal("-2147483648", &number) && number == INT32_MIN, "parse_decimal");
    std::int32_t flag = -1;
    check(corvane::parse_flag("Yes", &flag) && flag == 1, "parse_flag");
    check(std::strcmp(corvane::int_to_text(-42), "-42") == 0, "int_to_text");

    char size_text[16];
    corvane::format_byte_size(3 * 1024 * 1024 / 2, size_text, sizeof size_text);
    check(std::strcmp(size_text, "1.5 MiB") == 0, "format_byte_size");

    const std::uint8_t plain[] = {'f', 'o', 'o', 'b', 'a', 'r'};
    char encoded[11];
    corvane::b32_encode(plain, sizeof plain, encoded);
    check(std::strcmp(encoded, "MZXW6YTBOI") == 0, "b32_encode");
    std::uint8_t decoded[sizeof plain];
    corvane::b32_decode(encoded, decoded, sizeof decoded);
    check(std::memcmp(decoded, plain, sizeof plain) == 0, "b32_decode");

    return failures == 0 ? 0 : 1;
}
