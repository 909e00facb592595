// An independent UTF-8 check for the fuzzers, written from RFC 3629's table
// of well-formed byte sequences rather than from the library's code:
//
//   UTF8-1 = %x00-7F
//   UTF8-2 = %xC2-DF UTF8-tail
//   UTF8-3 = %xE0 %xA0-BF UTF8-tail / %xE1-EC 2( UTF8-tail ) /
//            %xED %x80-9F UTF8-tail / %xEE-EF 2( UTF8-tail )
//   UTF8-4 = %xF0 %x90-BF 2( UTF8-tail ) / %xF1-F3 3( UTF8-tail ) /
//            %xF4 %x80-8F 2( UTF8-tail )
//   UTF8-tail = %x80-BF
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane::fuzz {

struct byte_range {
    std::uint8_t low;
    std::uint8_t high;
};

// One production: the ranges its bytes must lie in, in order.
struct production {
    std::size_t length;
    byte_range bytes[4];
};

inline constexpr byte_range tail{0x80, 0xBF};

inline constexpr production productions[] = {
    {1, {{0x00, 0x7F}}},
    {2, {{0xC2, 0xDF}, tail}},
    {3, {{0xE0, 0xE0}, {0xA0, 0xBF}, tail}},
    {3, {{0xE1, 0xEC}, tail, tail}},
    {3, {{0xED, 0xED}, {0x80, 0x9F}, tail}},
    {3, {{0xEE, 0xEF}, tail, tail}},
    {4, {{0xF0, 0xF0}, {0x90, 0xBF}, tail, tail}},
    {4, {{0xF1, 0xF3}, tail, tail, tail}},
    {4, {{0xF4, 0xF4}, {0x80, 0x8F}, tail, tail}},
};

inline bool matches(const production& p, const std::uint8_t* at, std::size_t left) {
    if (left < p.length) return false;
    for (std::size_t i = 0; i < p.length; ++i) {
        if (at[i] < p.bytes[i].low || at[i] > p.bytes[i].high) return false;
    }
    return true;
}

inline bool oracle_utf8_valid(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 0;
    while (at < size) {
        std::size_t step = 0;
        for (const production& p : productions) {
            if (matches(p, data + at, size - at)) {
                step = p.length;
                break;
            }
        }
        if (step == 0) return false;
        at += step;
    }
    return true;
}

}  // namespace corvane::fuzz
