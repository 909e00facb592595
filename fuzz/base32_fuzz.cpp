// base32: encode against a plain bit-stream encoder written here, decode of
// the encoding gives the input back, and decoding arbitrary text never
// writes past its capacity (exact-size heap buffers under AddressSanitizer).
#include <corvane/base32.hpp>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

std::string plain_encode(const std::uint8_t* data, std::size_t size) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";
    std::string text;
    std::uint32_t bits = 0;
    int held = 0;
    for (std::size_t i = 0; i < size; ++i) {
        bits = (bits << 8) | data[i];
        held += 8;
        while (held >= 5) {
            held -= 5;
            text += alphabet[(bits >> held) & 31u];
        }
    }
    if (held > 0) text += alphabet[(bits << (5 - held)) & 31u];
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto input = std::make_unique<std::uint8_t[]>(size);
    if (size > 0) std::memcpy(input.get(), data, size);

    const std::size_t text_size = (8 * size + 4) / 5 + 1;
    const auto text = std::make_unique<char[]>(text_size);
    corvane::b32_encode(input.get(), size, text.get());
    if (std::string(text.get()) != plain_encode(data, size)) std::abort();
    if (std::strlen(text.get()) != text_size - 1) std::abort();

    if (size > 0) {
        const auto decoded = std::make_unique<std::uint8_t[]>(size);
        corvane::b32_decode(text.get(), decoded.get(), size);
        if (std::memcmp(decoded.get(), data, size) != 0) std::abort();
    }

    // The input as text to decode, into a buffer of a capacity the input
    // chooses: only alphabet characters count, the rest stays zero.
    if (size > 0) {
        const std::size_t capacity = 1 + data[0] % 64;
        std::string as_text(reinterpret_cast<const char*>(data) + 1, size - 1);
        as_text = as_text.substr(0, as_text.find('\0'));
        const auto out = std::make_unique<std::uint8_t[]>(capacity);
        corvane::b32_decode(as_text.c_str(), out.get(), capacity);

        std::string accepted;
        for (const char c : as_text) {
            if (corvane::char_is_base32(static_cast<unsigned char>(c))) accepted += c;
        }
        const auto clean = std::make_unique<std::uint8_t[]>(capacity);
        corvane::b32_decode(accepted.c_str(), clean.get(), capacity);
        if (std::memcmp(out.get(), clean.get(), capacity) != 0) std::abort();
        // Bytes that no accepted character reaches stay zero.
        const std::size_t reached = (accepted.size() * 5 + 7) / 8;
        for (std::size_t i = reached; i < capacity; ++i) {
            if (out[i] != 0) std::abort();
        }
    }
    return 0;
}
