// A straightforward UTF-8 check, one byte at a time, written from RFC 3629's
// table of well-formed byte sequences rather than from the library's code:
//
//   UTF8-1 = %x00-7F
//   UTF8-2 = %xC2-DF UTF8-tail
//   UTF8-3 = %xE0 %xA0-BF UTF8-tail / %xE1-EC 2( UTF8-tail ) /
//            %xED %x80-9F UTF8-tail / %xEE-EF 2( UTF8-tail )
//   UTF8-4 = %xF0 %x90-BF 2( UTF8-tail ) / %xF1-F3 3( UTF8-tail ) /
//            %xF4 %x80-8F 2( UTF8-tail )
//   UTF8-tail = %x80-BF
//
// The oracle of the unit tests and the fuzzers, and the byte walk the
// benchmark measures the library against. Header-only.
#pragma once

#include <cstddef>

namespace corvane::reference {

inline bool utf8_valid(const unsigned char* text, std::size_t length) noexcept {
    std::size_t owed = 0;  // tail bytes still to come
    for (std::size_t at = 0; at < length; ++at) {
        const unsigned char byte = text[at];
        if (owed > 0) {
            if (byte < 0x80 || byte > 0xBF) return false;
            --owed;
            continue;
        }
        if (byte <= 0x7F) continue;
        // The lead: how many tail bytes follow, and the range of the first.
        unsigned char low = 0x80, high = 0xBF;
        if (byte >= 0xC2 && byte <= 0xDF) {
            owed = 1;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            owed = 2;
            if (byte == 0xE0) low = 0xA0;
            if (byte == 0xED) high = 0x9F;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            owed = 3;
            if (byte == 0xF0) low = 0x90;
            if (byte == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (length - at - 1 < owed) return false;
        if (text[at + 1] < low || text[at + 1] > high) return false;
    }
    return true;
}

inline bool utf8_valid(const char* text, std::size_t length) noexcept {
    return utf8_valid(reinterpret_cast<const unsigned char*>(text), length);
}

// No control byte below 0x20 but TAB, LF and CR; then utf8_valid.
inline bool utf8_printable(const char* text, std::size_t length) noexcept {
    for (std::size_t at = 0; at < length; ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') return false;
    }
    return utf8_valid(text, length);
}

}  // namespace corvane::reference
