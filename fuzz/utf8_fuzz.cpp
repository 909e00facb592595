// utf8_valid_n, utf8_printable_n and utf8_valid against the independent
// RFC 3629 check, on arbitrary bytes in an exact-size heap buffer.
#include <corvane/chars.hpp>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "oracle_utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy lets AddressSanitizer catch a read past the run.
    const auto bytes = std::make_unique<char[]>(size);
    if (size > 0) std::memcpy(bytes.get(), data, size);

    const bool expected = corvane::fuzz::oracle_utf8_valid(data, size);
    if (corvane::utf8_valid_n(bytes.get(), size) != expected) std::abort();

    bool control = false;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] < 0x20 && data[i] != '\t' && data[i] != '\n' && data[i] != '\r') control = true;
    }
    if (corvane::utf8_printable_n(bytes.get(), size) != (!control && expected)) std::abort();

    // The terminated form sees the bytes before the first NUL.
    const auto terminated = std::make_unique<char[]>(size + 1);
    if (size > 0) std::memcpy(terminated.get(), data, size);
    terminated[size] = '\0';
    const std::size_t length = std::strlen(terminated.get());
    if (corvane::utf8_valid(terminated.get()) != corvane::fuzz::oracle_utf8_valid(data, length)) {
        std::abort();
    }
    return 0;
}
