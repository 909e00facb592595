// The portable UTF-8 walk: the reference every other kernel is held to, and
// the kernel on CPUs without a vector one.
#include <bit>
#include <cstdint>
#include <cstring>

#include "utf8_kernels.hpp"

namespace corvane::detail {

namespace {

// Well-formed UTF-8 (RFC 3629), by lead byte:
//
//   lead        continuation bytes   first continuation byte
//   00..7F      0                    -
//   80..C1      refused (stray continuation byte, overlong 2-byte form)
//   C2..DF      1                    80..BF
//   E0          2                    A0..BF   (no overlong 3-byte form)
//   E1..EC      2                    80..BF
//   ED          2                    80..9F   (no surrogates D800..DFFF)
//   EE..EF      2                    80..BF
//   F0          3                    90..BF   (no overlong 4-byte form)
//   F1..F3      3                    80..BF
//   F4          3                    80..8F   (nothing above U+10FFFF)
//   F5..FF      refused
//
// Every later continuation byte lies in 80..BF.
struct lead_rule {
    std::uint8_t continuations;  // 0 with low > high marks a refused lead
    std::uint8_t low;
    std::uint8_t high;
};

constexpr lead_rule rule_for(std::uint8_t lead) noexcept {
    if (lead < 0xC2) return {0, 1, 0};
    if (lead < 0xE0) return {1, 0x80, 0xBF};
    if (lead == 0xE0) return {2, 0xA0, 0xBF};
    if (lead == 0xED) return {2, 0x80, 0x9F};
    if (lead < 0xF0) return {2, 0x80, 0xBF};
    if (lead == 0xF0) return {3, 0x90, 0xBF};
    if (lead < 0xF4) return {3, 0x80, 0xBF};
    if (lead == 0xF4) return {3, 0x80, 0x8F};
    return {0, 1, 0};
}

constexpr bool is_continuation(std::uint8_t byte) noexcept { return (byte & 0xC0) == 0x80; }

constexpr std::uint64_t HIGH_BITS = 0x8080808080808080ULL;

// One bit (the top one) for each of the eight bytes at p that is not plain:
// not ASCII or, for printable runs, below 0x20. (Adding 0x60 lifts a byte
// below 0x80 to 0x80 or above exactly when it is 0x20 or above. A byte of
// 0x80 or above may carry into the next; the lowest flagged byte is exact.)
template <bool Printable>
std::uint64_t not_plain(const std::uint8_t* p) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if (!Printable) return word & HIGH_BITS;
    return (word | ~(word + 0x6060606060606060ULL)) & HIGH_BITS;
}

// The control bytes a printable run may hold: TAB, LF and CR.
constexpr bool is_refused_control(std::uint8_t byte) noexcept {
    return byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r';
}

// One pass, over plain ASCII eight bytes at a time where it can. A printable
// run's refused control bytes are all ASCII, so testing them in the same
// pass gives the result of a control pass followed by the UTF-8 pass.
template <bool Printable>
bool walk(const std::uint8_t* text, std::size_t length) noexcept {
    std::size_t at = 0;
    while (at < length) {
        const std::uint8_t lead = text[at];
        if (lead < 0x80) {
            // Past the plain bytes ahead, up to eight at a time.
            if (length - at >= 8) {
                const std::uint64_t flags = not_plain<Printable>(text + at);
                if (flags == 0) {
                    at += 8;
                    continue;
                }
                const auto plain = static_cast<std::size_t>(std::countr_zero(flags) / 8);
                if (plain > 0) {
                    at += plain;
                    continue;
                }
            }
            if (Printable && is_refused_control(lead)) return false;
            ++at;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {  // the common two-byte form
            if (length - at < 2 || !is_continuation(text[at + 1])) return false;
            at += 2;
            continue;
        }
        const lead_rule rule = rule_for(lead);
        if (rule.continuations == 0) return false;
        // The whole sequence must lie inside the run before any byte after
        // the lead is read.
        if (length - at - 1 < rule.continuations) return false;
        const std::uint8_t first = text[at + 1];
        if (first < rule.low || first > rule.high) return false;
        for (std::size_t k = 2; k <= rule.continuations; ++k) {
            if (!is_continuation(text[at + k])) return false;
        }
        at += 1 + rule.continuations;
    }
    return true;
}

}  // namespace

bool utf8_check_scalar(const unsigned char* bytes, std::size_t length, bool printable) noexcept {
    return printable ? walk<true>(bytes, length) : walk<false>(bytes, length);
}

}  // namespace corvane::detail
