// Vector kernels of the UTF-8 validator for x86-64: SSSE3 (16 bytes a step),
// AVX2 (32) and AVX-512 (64). Each function carries its instruction set as a
// target attribute, so the file builds for the baseline CPU and the kernels
// run only where cpu_x86.cpp has seen the CPU and the OS support them.
//
// The method classifies every byte together with the byte before it through
// three 16-entry table lookups (on the high nibble of the byte before, its
// low nibble, and the high nibble of the byte itself). Each table entry is a
// set of error bits; a bit survives the AND of the three lookups only where
// the pair of bytes shows that error. What a pair cannot show -- a third or
// fourth byte of a sequence that must be a continuation byte -- comes from
// the bytes two and three places back. After Keiser and Lemire, "Validating
// UTF-8 in less than one instruction per byte" (2021).
//
// Loads never leave the run. In the AVX2 and AVX-512 main loops the bytes
// one, two and three places back are loaded from memory (the run holds
// them) rather than shifted into place, which leaves the shuffle unit to the
// lookups. SSSE3 and AVX2 read whole vectors while they fit, then the run's
// last bytes as one window; AVX-512 reads its last part under a mask. Runs
// under 16 bytes are checked from two words read from them (check_short).
#include <cstdint>
#include <cstring>

#include "utf8_kernels.hpp"

#if CORVANE_UTF8_X86

#include <immintrin.h>

// Every helper is inlined into the kernel entry points, which carry the
// same target (declared in utf8_kernels.hpp).
#define CORVANE_SSSE3 CORVANE_TARGET_SSSE3 __attribute__((always_inline)) inline
#define CORVANE_AVX2 CORVANE_TARGET_AVX2 __attribute__((always_inline)) inline
#define CORVANE_AVX512 CORVANE_TARGET_AVX512 __attribute__((always_inline)) inline

namespace corvane::detail {

namespace {

// clang-format off
// Error bits. Each names a pair (byte before, byte) that is refused.
constexpr std::uint8_t TOO_SHORT = 1 << 0;   // 11______ then 0_______ or 11______
constexpr std::uint8_t TOO_LONG = 1 << 1;    // 0_______ then 10______
constexpr std::uint8_t OVERLONG_3 = 1 << 2;  // 11100000 then 100_____
constexpr std::uint8_t TOO_LARGE = 1 << 3;   // 11110100 then 1001____ or 101_____,
                                             // 11110101..11111111 then the same
constexpr std::uint8_t SURROGATE = 1 << 4;   // 11101101 then 101_____
constexpr std::uint8_t OVERLONG_2 = 1 << 5;  // 1100000_ then 10______
constexpr std::uint8_t TOO_LARGE_1000 = 1 << 6;  // 11110101..11111111 then 1000____
constexpr std::uint8_t OVERLONG_4 = 1 << 6;      // 11110000 then 1000____ (shares the bit)
constexpr std::uint8_t TWO_CONTS = 1 << 7;       // 10______ then 10______
// The bits decided by the high nibbles alone pass every low nibble.
constexpr std::uint8_t CARRY = TOO_SHORT | TOO_LONG | TWO_CONTS;

// By the high nibble of the byte before.
alignas(16) constexpr std::uint8_t byte_1_high[16] = {
    TOO_LONG, TOO_LONG, TOO_LONG, TOO_LONG, TOO_LONG, TOO_LONG, TOO_LONG, TOO_LONG,  // ASCII
    TWO_CONTS, TWO_CONTS, TWO_CONTS, TWO_CONTS,                                      // 10__
    TOO_SHORT | OVERLONG_2,                                                          // 1100
    TOO_SHORT,                                                                       // 1101
    TOO_SHORT | OVERLONG_3 | SURROGATE,                                              // 1110
    TOO_SHORT | TOO_LARGE | TOO_LARGE_1000 | OVERLONG_4,                             // 1111
};

// By the low nibble of the byte before.
alignas(16) constexpr std::uint8_t byte_1_low[16] = {
    CARRY | OVERLONG_3 | OVERLONG_2 | OVERLONG_4,    // ____0000
    CARRY | OVERLONG_2,                              // ____0001
    CARRY,                                           // ____0010
    CARRY,                                           // ____0011
    CARRY | TOO_LARGE,                               // ____0100
    CARRY | TOO_LARGE | TOO_LARGE_1000,              // ____0101
    CARRY | TOO_LARGE | TOO_LARGE_1000,              // ____0110
    CARRY | TOO_LARGE | TOO_LARGE_1000,              // ____0111
    CARRY | TOO_LARGE | TOO_LARGE_1000,              // ____1000
    CARRY | TOO_LARGE | TOO_LARGE_1000,              // ____1001
    CARRY | TOO_LARGE | TOO_LARGE_1000,              // ____1010
    CARRY | TOO_LARGE | TOO_LARGE_1000,              // ____1011
    CARRY | TOO_LARGE | TOO_LARGE_1000,              // ____1100
    CARRY | TOO_LARGE | TOO_LARGE_1000 | SURROGATE,  // ____1101
    CARRY | TOO_LARGE | TOO_LARGE_1000,              // ____1110
    CARRY | TOO_LARGE | TOO_LARGE_1000,              // ____1111
};

// By the high nibble of the byte itself.
alignas(16) constexpr std::uint8_t byte_2_high[16] = {
    TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT,
    TOO_LONG | OVERLONG_2 | TWO_CONTS | OVERLONG_3 | TOO_LARGE_1000 | OVERLONG_4,  // 1000
    TOO_LONG | OVERLONG_2 | TWO_CONTS | OVERLONG_3 | TOO_LARGE,                    // 1001
    TOO_LONG | OVERLONG_2 | TWO_CONTS | SURROGATE | TOO_LARGE,                     // 1010
    TOO_LONG | OVERLONG_2 | TWO_CONTS | SURROGATE | TOO_LARGE,                     // 1011
    TOO_SHORT, TOO_SHORT, TOO_SHORT, TOO_SHORT,                                    // 11__
};

// Refused control bytes (0x00..0x1F but TAB, LF, CR): bit 0 marks 0x0_, bit 1
// marks 0x1_. A byte is refused when its two lookups share a bit.
alignas(16) constexpr std::uint8_t control_low[16] = {3, 3, 3, 3, 3, 3, 3, 3,
                                                      3, 2, 2, 3, 3, 2, 3, 3};
alignas(16) constexpr std::uint8_t control_high[16] = {1, 2, 0, 0, 0, 0, 0, 0,
                                                       0, 0, 0, 0, 0, 0, 0, 0};

// A pshufb with the 16 entries from 16 - k on moves a vector's bytes k
// places later, zeros in front (as good as ASCII before a run's start).
alignas(16) constexpr std::uint8_t later_by[32] = {
    0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80,
    0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// The 16 entries from 16 - n on put spaces after a run of n bytes: ASCII, so
// a sequence the run leaves open is still refused, and not a control byte.
alignas(16) constexpr std::uint8_t spaces_after[32] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20};

// ---------------------------------------------------------------- SSSE3

struct state128 {
    __m128i prev;             // the vector before
    __m128i prev_incomplete;  // nonzero when it ends inside a sequence
    __m128i error;
};
// clang-format on

CORVANE_SSSE3 __m128i table128(const std::uint8_t (&table)[16]) noexcept {
    return _mm_load_si128(reinterpret_cast<const __m128i*>(table));
}

CORVANE_SSSE3 __m128i high_nibbles(__m128i v) noexcept {
    return _mm_and_si128(_mm_srli_epi16(v, 4), _mm_set1_epi8(0x0F));
}

CORVANE_SSSE3 __m128i check_pairs(__m128i input, __m128i prev_input) noexcept {
    const __m128i prev1 = _mm_alignr_epi8(input, prev_input, 15);
    const __m128i low = _mm_set1_epi8(0x0F);
    const __m128i special = _mm_and_si128(
        _mm_and_si128(_mm_shuffle_epi8(table128(byte_1_high), high_nibbles(prev1)),
                      _mm_shuffle_epi8(table128(byte_1_low), _mm_and_si128(prev1, low))),
        _mm_shuffle_epi8(table128(byte_2_high), high_nibbles(input)));
    // Where the byte two back is a 3- or 4-byte lead, or the byte three back
    // a 4-byte lead, this byte must be a continuation: the pair tables flag
    // that pair as TWO_CONTS, and the XOR turns expected into accepted.
    const __m128i prev2 = _mm_alignr_epi8(input, prev_input, 14);
    const __m128i prev3 = _mm_alignr_epi8(input, prev_input, 13);
    const __m128i third = _mm_subs_epu8(prev2, _mm_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m128i fourth = _mm_subs_epu8(prev3, _mm_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m128i must_continue =
        _mm_and_si128(_mm_or_si128(third, fourth), _mm_set1_epi8(static_cast<char>(0x80)));
    return _mm_xor_si128(must_continue, special);
}

// Nonzero when the vector ends inside a sequence: a 4-byte lead in its last
// three bytes, a 3-byte lead in its last two, or any lead last.
CORVANE_SSSE3 __m128i incomplete_end(__m128i input) noexcept {
    const __m128i limit = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                        static_cast<char>(0xF0 - 1), static_cast<char>(0xE0 - 1),
                                        static_cast<char>(0xC0 - 1));
    return _mm_subs_epu8(input, limit);
}

CORVANE_SSSE3 __m128i controls(__m128i input) noexcept {
    return _mm_and_si128(
        _mm_shuffle_epi8(table128(control_low), _mm_and_si128(input, _mm_set1_epi8(0x0F))),
        _mm_shuffle_epi8(table128(control_high), high_nibbles(input)));
}

CORVANE_SSSE3 bool all_zero(__m128i v) noexcept {
    return _mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128())) == 0xFFFF;
}

template <bool Printable>
CORVANE_SSSE3 void step128(state128& s, __m128i input) noexcept {
    if (Printable) s.error = _mm_or_si128(s.error, controls(input));
    if (_mm_movemask_epi8(input) == 0) {
        s.error = _mm_or_si128(s.error, s.prev_incomplete);
        s.prev_incomplete = _mm_setzero_si128();
    } else {
        s.error = _mm_or_si128(s.error, check_pairs(input, s.prev));
        s.prev_incomplete = incomplete_end(input);
    }
    s.prev = input;
}

// 0xFF for each byte that is ASCII and, for printable runs, not a refused
// control byte. The lookup sees the low nibble (and gives 0 from 0x80 up):
// a byte equals its own entry only when it is TAB, LF or CR.
CORVANE_SSSE3 __m128i clean_ascii(__m128i input) noexcept {
    const __m128i own =
        _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, 9, 10, -1, -1, 13, -1, -1);
    return _mm_or_si128(_mm_cmpgt_epi8(input, _mm_set1_epi8(0x1F)),
                        _mm_cmpeq_epi8(_mm_shuffle_epi8(own, input), input));
}

// True when the 128 bytes at p are all ASCII (and free of refused control
// bytes, for printable runs): the fast way through plain text.
template <bool Printable>
CORVANE_SSSE3 bool ascii_run128(const std::uint8_t* p) noexcept {
    const auto* v = reinterpret_cast<const __m128i*>(p);
    __m128i all = Printable ? _mm_set1_epi8(-1) : _mm_setzero_si128();
    for (int i = 0; i < 8; ++i) {
        const __m128i input = _mm_loadu_si128(v + i);
        all = Printable ? _mm_and_si128(all, clean_ascii(input)) : _mm_or_si128(all, input);
    }
    return _mm_movemask_epi8(all) == (Printable ? 0xFFFF : 0);
}

CORVANE_SSSE3 __m128i moved_later(__m128i v, std::size_t k) noexcept {
    const auto* index = reinterpret_cast<const __m128i*>(later_by + 16 - k);
    return _mm_shuffle_epi8(v, _mm_loadu_si128(index));
}

// The run from `at` on, fewer than 64 bytes: whole 16-byte vectors, then the
// last 16 bytes of the run as one window, which may overlap bytes already
// checked. Checking those again, with the bytes before them as context,
// finds what it found before, so only the new ones can change the result;
// and nothing outside the run is read.
template <bool Printable>
CORVANE_SSSE3 bool finish128(state128& s, const std::uint8_t* bytes, std::size_t length,
                             std::size_t at) noexcept {
    for (; length - at >= 16; at += 16) {
        step128<Printable>(s, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at)));
    }
    if (at < length) {
        const auto* end = reinterpret_cast<const __m128i*>(bytes + length);
        const __m128i window = _mm_loadu_si128(end - 1);
        // The 16 bytes before the window; in a run shorter than 32 bytes,
        // the run's first bytes moved later, zeros before them.
        const __m128i before =
            length >= 32 ? _mm_loadu_si128(end - 2)
                         : moved_later(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes)),
                                       32 - length);
        if (Printable) s.error = _mm_or_si128(s.error, controls(window));
        if (_mm_movemask_epi8(window) == 0) {
            // All ASCII: the bytes from `at` on cannot close an open sequence.
            s.error = _mm_or_si128(s.error, s.prev_incomplete);
            s.prev_incomplete = _mm_setzero_si128();
        } else {
            s.error = _mm_or_si128(s.error, check_pairs(window, before));
            s.prev_incomplete = incomplete_end(window);
        }
    }
    s.error = _mm_or_si128(s.error, s.prev_incomplete);
    return all_zero(s.error);
}

// True when every byte of `word` is ASCII and, for printable runs, 0x20 or
// above. (Adding 0x60 lifts a byte below 0x80 to 0x80 or above exactly when
// it is 0x20 or above; below 0x80 no carry crosses bytes.)
template <bool Printable>
constexpr bool plain_ascii(std::uint64_t word, std::uint64_t high_bits) noexcept {
    if ((word & high_bits) != 0) return false;
    return !Printable || ((word + (high_bits >> 7) * 0x60) & high_bits) == high_bits;
}

// A run of 4 to 15 bytes: its first and its last 8 (or 4) bytes, which may
// overlap. Plain ASCII is settled on those two words; anything else is
// checked as one vector built in registers, the last word moved into place
// and spaces after the run. Shorter runs take the scalar walk.
template <bool Printable>
CORVANE_SSSE3 bool check_short(const std::uint8_t* bytes, std::size_t length) noexcept {
    if (length < 4) return utf8_check_scalar(bytes, length, Printable);
    const std::size_t part = length >= 8 ? 8 : 4;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    std::memcpy(&first, bytes, part);
    std::memcpy(&last, bytes + length - part, part);
    const std::uint64_t high_bits = part == 8 ? 0x8080808080808080ULL : 0x80808080ULL;
    if (plain_ascii<Printable>(first, high_bits) && plain_ascii<Printable>(last, high_bits)) {
        return true;
    }
    const __m128i head = _mm_cvtsi64_si128(static_cast<long long>(first));
    const __m128i tail = _mm_cvtsi64_si128(static_cast<long long>(last));
    const __m128i run =
        _mm_or_si128(_mm_or_si128(head, moved_later(tail, length - part)),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(spaces_after + 16 - length)));
    __m128i error = _mm_or_si128(check_pairs(run, _mm_setzero_si128()), incomplete_end(run));
    if (Printable) error = _mm_or_si128(error, controls(run));
    return all_zero(error);
}

template <bool Printable>
CORVANE_SSSE3 bool check128(const std::uint8_t* bytes, std::size_t length) noexcept {
    if (length < 16) return check_short<Printable>(bytes, length);
    state128 s{_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
    std::size_t at = 0;
    while (length - at >= 64) {
        const auto* p = reinterpret_cast<const __m128i*>(bytes + at);
        const __m128i a = _mm_loadu_si128(p);
        const __m128i b = _mm_loadu_si128(p + 1);
        const __m128i c = _mm_loadu_si128(p + 2);
        const __m128i d = _mm_loadu_si128(p + 3);
        if (Printable) {
            s.error = _mm_or_si128(s.error, _mm_or_si128(_mm_or_si128(controls(a), controls(b)),
                                                         _mm_or_si128(controls(c), controls(d))));
        }
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) == 0) {
            // ASCII: an open sequence before it is refused; then skip on
            // through ASCII as fast as it can be tested.
            if (!all_zero(_mm_or_si128(s.error, s.prev_incomplete))) return false;
            at += 64;
            while (length - at >= 128 && ascii_run128<Printable>(bytes + at)) at += 128;
            s.prev = _mm_setzero_si128();  // as good as the ASCII that was there
            s.prev_incomplete = _mm_setzero_si128();
            continue;
        }
        s.error = _mm_or_si128(s.error,
                               _mm_or_si128(_mm_or_si128(check_pairs(a, s.prev), check_pairs(b, a)),
                                            _mm_or_si128(check_pairs(c, b), check_pairs(d, c))));
        if (!all_zero(s.error)) return false;
        s.prev_incomplete = incomplete_end(d);
        s.prev = d;
        at += 64;
    }
    return finish128<Printable>(s, bytes, length, at);
}

// ----------------------------------------------------------------- AVX2

struct state256 {
    __m256i prev;
    __m256i prev_incomplete;
    __m256i error;
};

CORVANE_AVX2 __m256i table256(const std::uint8_t (&table)[16]) noexcept {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(table)));
}

CORVANE_AVX2 __m256i high_nibbles(__m256i v) noexcept {
    return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
}

// The input moved N bytes later, with the last N bytes of the vector before
// in front. (alignr works within 128-bit lanes; the permute supplies each
// lane with the 16 bytes before it.)
template <int N>
CORVANE_AVX2 __m256i previous(__m256i input, __m256i prev_input) noexcept {
    return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(prev_input, input, 0x21), 16 - N);
}

// The errors of `input`, given the bytes one, two and three places before
// each of its bytes.
CORVANE_AVX2 __m256i check_pairs(__m256i input, __m256i prev1, __m256i prev2,
                                 __m256i prev3) noexcept {
    const __m256i low = _mm256_set1_epi8(0x0F);
    const __m256i special = _mm256_and_si256(
        _mm256_and_si256(_mm256_shuffle_epi8(table256(byte_1_high), high_nibbles(prev1)),
                         _mm256_shuffle_epi8(table256(byte_1_low), _mm256_and_si256(prev1, low))),
        _mm256_shuffle_epi8(table256(byte_2_high), high_nibbles(input)));
    const __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m256i fourth =
        _mm256_subs_epu8(prev3, _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m256i must_continue =
        _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(static_cast<char>(0x80)));
    return _mm256_xor_si256(must_continue, special);
}

// The same with the vector before in a register.
CORVANE_AVX2 __m256i check_pairs(__m256i input, __m256i prev_input) noexcept {
    return check_pairs(input, previous<1>(input, prev_input), previous<2>(input, prev_input),
                       previous<3>(input, prev_input));
}

CORVANE_AVX2 __m256i incomplete_end(__m256i input) noexcept {
    const __m256i limit =
        _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                         -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1),
                         static_cast<char>(0xE0 - 1), static_cast<char>(0xC0 - 1));
    return _mm256_subs_epu8(input, limit);
}

CORVANE_AVX2 __m256i controls(__m256i input) noexcept {
    return _mm256_and_si256(
        _mm256_shuffle_epi8(table256(control_low), _mm256_and_si256(input, _mm256_set1_epi8(0x0F))),
        _mm256_shuffle_epi8(table256(control_high), high_nibbles(input)));
}

CORVANE_AVX2 bool all_zero(__m256i v) noexcept { return _mm256_testz_si256(v, v) != 0; }

CORVANE_AVX2 __m256i load256(const std::uint8_t* p) noexcept {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// step128 on 32 bytes: each vector width keeps its own copy of the step,
// since the intrinsics differ.
template <bool Printable>
CORVANE_AVX2 void step256(state256& s, __m256i input) noexcept {
    if (Printable) s.error = _mm256_or_si256(s.error, controls(input));
    if (_mm256_movemask_epi8(input) == 0) {
        s.error = _mm256_or_si256(s.error, s.prev_incomplete);
        s.prev_incomplete = _mm256_setzero_si256();
    } else {
        s.error = _mm256_or_si256(s.error, check_pairs(input, s.prev));
        s.prev_incomplete = incomplete_end(input);
    }
    s.prev = input;
}

// The errors of the 32 bytes at p, which lies three or more bytes into the
// run: the bytes before each are read from memory.
template <bool Printable>
CORVANE_AVX2 __m256i check_at(const std::uint8_t* p) noexcept {
    const __m256i input = load256(p);
    const __m256i errors = check_pairs(input, load256(p - 1), load256(p - 2), load256(p - 3));
    return Printable ? _mm256_or_si256(errors, controls(input)) : errors;
}

CORVANE_AVX2 __m256i clean_ascii(__m256i input) noexcept {
    const __m256i own =
        _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, 9, 10, -1, -1, 13, -1, -1, -1, -1, -1,
                         -1, -1, -1, -1, -1, -1, 9, 10, -1, -1, 13, -1, -1);
    return _mm256_or_si256(_mm256_cmpgt_epi8(input, _mm256_set1_epi8(0x1F)),
                           _mm256_cmpeq_epi8(_mm256_shuffle_epi8(own, input), input));
}

// True when the 256 bytes at p are all ASCII (and free of refused control
// bytes, for printable runs).
template <bool Printable>
CORVANE_AVX2 bool ascii_run256(const std::uint8_t* p) noexcept {
    __m256i all = Printable ? _mm256_set1_epi8(-1) : _mm256_setzero_si256();
    for (std::size_t i = 0; i < 8; ++i) {
        const __m256i input = load256(p + 32 * i);
        all = Printable ? _mm256_and_si256(all, clean_ascii(input)) : _mm256_or_si256(all, input);
    }
    return _mm256_movemask_epi8(all) == (Printable ? -1 : 0);
}

// A run of 16 to 66 bytes: 32-byte vectors with the one before in a
// register, then the last 0 to 31 bytes in 16-byte steps; what carries over
// from the vector before is all in its upper half.
template <bool Printable>
CORVANE_AVX2 bool check_small256(const std::uint8_t* bytes, std::size_t length) noexcept {
    state256 s{_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
    std::size_t at = 0;
    for (; length - at >= 32; at += 32) step256<Printable>(s, load256(bytes + at));
    if (!all_zero(s.error)) return false;
    state128 rest{_mm256_extracti128_si256(s.prev, 1),
                  _mm256_extracti128_si256(s.prev_incomplete, 1), _mm_setzero_si128()};
    return finish128<Printable>(rest, bytes, length, at);
}

template <bool Printable>
CORVANE_AVX2 bool check256(const std::uint8_t* bytes, std::size_t length) noexcept {
    if (length < 16) return check_short<Printable>(bytes, length);
    if (length < 67) return check_small256<Printable>(bytes, length);
    // The first 32 bytes, with nothing before them; then 64 bytes a step.
    const __m256i first = load256(bytes);
    __m256i error = check_pairs(first, _mm256_setzero_si256());
    if (Printable) error = _mm256_or_si256(error, controls(first));
    std::size_t at = 32;
    while (length - at >= 64) {
        const __m256i a = load256(bytes + at);
        const __m256i b = load256(bytes + at + 32);
        if (_mm256_movemask_epi8(_mm256_or_si256(a, b)) == 0) {
            // ASCII: the check of its first vector refuses a sequence left
            // open before it; then on through ASCII as fast as it can be
            // tested, from a vector boundary in memory (stepping back over
            // bytes just checked), so that no load straddles cache lines.
            error = _mm256_or_si256(error, check_at<Printable>(bytes + at));
            if (Printable) error = _mm256_or_si256(error, controls(b));
            at += 64;
            at -= reinterpret_cast<std::uintptr_t>(bytes + at) % 32;
            while (length - at >= 256 && ascii_run256<Printable>(bytes + at)) at += 256;
            continue;
        }
        error = _mm256_or_si256(error, _mm256_or_si256(check_at<Printable>(bytes + at),
                                                       check_at<Printable>(bytes + at + 32)));
        if (!all_zero(error)) return false;
        at += 64;
    }
    // The last 0 to 63 bytes as the run's last one or two vectors, which may
    // overlap bytes already checked: checked again with the same bytes
    // before them, they give the same result.
    if (length - at > 32) error = _mm256_or_si256(error, check_at<Printable>(bytes + length - 64));
    if (length > at) error = _mm256_or_si256(error, check_at<Printable>(bytes + length - 32));
    error = _mm256_or_si256(error, incomplete_end(load256(bytes + length - 32)));
    return all_zero(error);
}

// -------------------------------------------------------------- AVX-512

// Ternary-logic functions of the three operands A, B, C.
constexpr int AND_AND = 0x80;   // A & B & C
constexpr int OR_AND = 0xA8;    // (A | B) & C
constexpr int OR_XOR = 0xF6;    // A | (B ^ C)
constexpr int OR_ANDED = 0xF8;  // A | (B & C)

// vpermb looks a byte up by its low six bits. A 16-entry table repeated
// four times is looked up by a nibble without clearing the bits above it.
struct alignas(64) table64 {
    std::uint8_t entry[64];
};

constexpr table64 repeated(const std::uint8_t (&table)[16]) noexcept {
    table64 out{};
    for (std::size_t i = 0; i < 64; ++i) out.entry[i] = table[i % 16];
    return out;
}

constexpr table64 byte_1_high_64 = repeated(byte_1_high);
constexpr table64 byte_1_low_64 = repeated(byte_1_low);
constexpr table64 byte_2_high_64 = repeated(byte_2_high);
constexpr table64 control_low_64 = repeated(control_low);
constexpr table64 control_high_64 = repeated(control_high);

// By the low six bits of a byte: a space for TAB, LF and CR. The other
// bytes with those low bits are 0x20 or above, or not ASCII, and stay so
// with the space's bit set.
constexpr table64 spaced_controls = [] {
    table64 out{};
    out.entry[0x09] = out.entry[0x0A] = out.entry[0x0D] = 0x20;  // TAB, LF, CR
    return out;
}();

// Subtracted with saturation, leaves a nonzero byte where the vector ends
// inside a sequence (as incomplete_end above).
constexpr table64 open_end_limit = [] {
    table64 out{};
    for (std::uint8_t& limit : out.entry) limit = 0xFF;
    out.entry[61] = 0xF0 - 1;
    out.entry[62] = 0xE0 - 1;
    out.entry[63] = 0xC0 - 1;
    return out;
}();

CORVANE_AVX512 __m512i table512(const table64& table) noexcept {
    return _mm512_load_si512(table.entry);
}

CORVANE_AVX512 __m512i load512(const std::uint8_t* p) noexcept { return _mm512_loadu_si512(p); }

// The entries of `table` for the low six bits of each byte of `index`.
// (Masked with every lane on: the same instruction, but GCC 12 warns of the
// placeholder vector that its unmasked form passes; so for alignr below.)
CORVANE_AVX512 __m512i lookup(const table64& table, __m512i index) noexcept {
    return _mm512_maskz_permutexvar_epi8(~__mmask64{0}, index, table512(table));
}

// The n bytes at p (all 64 when n >= 64), spaces after them: ASCII, so a
// sequence they leave open is refused, and not a control byte. The lanes
// past them are not read (a masked load does not touch memory there).
CORVANE_AVX512 __m512i load_run(const std::uint8_t* p, std::size_t n) noexcept {
    const __mmask64 lanes = n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
    return _mm512_mask_loadu_epi8(_mm512_set1_epi8(0x20), lanes, p);
}

CORVANE_AVX512 bool all_zero(__m512i v) noexcept { return _mm512_test_epi64_mask(v, v) == 0; }

// The input moved N bytes later, with the last N bytes of `before` in front.
template <int N>
CORVANE_AVX512 __m512i previous(__m512i input, __m512i before) noexcept {
    return _mm512_alignr_epi8(input, _mm512_maskz_alignr_epi64(0xFF, input, before, 6), 16 - N);
}

// `error` with the errors of `input` added, given the bytes one, two and
// three places before each of its bytes.
CORVANE_AVX512 __m512i with_pair_errors(__m512i error, __m512i input, __m512i prev1, __m512i prev2,
                                        __m512i prev3) noexcept {
    const __m512i special = _mm512_ternarylogic_epi32(
        lookup(byte_1_high_64, _mm512_srli_epi16(prev1, 4)), lookup(byte_1_low_64, prev1),
        lookup(byte_2_high_64, _mm512_srli_epi16(input, 4)), AND_AND);
    const __m512i must_continue = _mm512_ternarylogic_epi32(
        _mm512_subs_epu8(prev2, _mm512_set1_epi8(static_cast<char>(0xE0 - 0x80))),
        _mm512_subs_epu8(prev3, _mm512_set1_epi8(static_cast<char>(0xF0 - 0x80))),
        _mm512_set1_epi8(static_cast<char>(0x80)), OR_AND);
    return _mm512_ternarylogic_epi32(error, must_continue, special, OR_XOR);
}

// `error` with the refused control bytes of `input` added.
CORVANE_AVX512 __m512i with_controls(__m512i error, __m512i input) noexcept {
    return _mm512_ternarylogic_epi32(error, lookup(control_low_64, input),
                                     lookup(control_high_64, _mm512_srli_epi16(input, 4)),
                                     OR_ANDED);
}

CORVANE_AVX512 __m512i incomplete_end(__m512i input) noexcept {
    return _mm512_subs_epu8(input, table512(open_end_limit));
}

// One bit for each byte of `input` that is not ASCII or, for printable
// runs, is a refused control byte: TAB, LF and CR are raised to 0x20 or
// above, then every byte must be 0x20..0x7F (0x20 or more, signed).
template <bool Printable>
CORVANE_AVX512 __mmask64 not_plain(__m512i input) noexcept {
    if (!Printable) return _mm512_movepi8_mask(input);
    const __m512i raised = _mm512_or_si512(input, lookup(spaced_controls, input));
    return _mm512_cmplt_epi8_mask(raised, _mm512_set1_epi8(0x20));
}

// True when the 256 bytes at p are all plain, as above.
template <bool Printable>
CORVANE_AVX512 bool ascii_run512(const std::uint8_t* p) noexcept {
    if (!Printable) {
        const __m512i all = _mm512_or_si512(_mm512_or_si512(load512(p), load512(p + 64)),
                                            _mm512_or_si512(load512(p + 128), load512(p + 192)));
        return not_plain<false>(all) == 0;
    }
    return (not_plain<true>(load512(p)) | not_plain<true>(load512(p + 64)) |
            not_plain<true>(load512(p + 128)) | not_plain<true>(load512(p + 192))) == 0;
}

// `error` with the errors of the run's first vector added: nothing before it.
template <bool Printable>
CORVANE_AVX512 __m512i check_first(__m512i input) noexcept {
    const __m512i none = _mm512_setzero_si512();
    const __m512i error = with_pair_errors(none, input, previous<1>(input, none),
                                           previous<2>(input, none), previous<3>(input, none));
    return Printable ? with_controls(error, input) : error;
}

// `error` with the errors of the n bytes at p added (all 64 when n >= 64),
// p three or more bytes into the run: the bytes before each are read from
// memory, under the same mask moved back.
template <bool Printable>
CORVANE_AVX512 __m512i check_at(__m512i error, const std::uint8_t* p, std::size_t n) noexcept {
    const __m512i input = load_run(p, n);
    error = with_pair_errors(error, input, load_run(p - 1, n + 1), load_run(p - 2, n + 2),
                             load_run(p - 3, n + 3));
    return Printable ? with_controls(error, input) : error;
}

template <bool Printable>
CORVANE_AVX512 bool check512(const std::uint8_t* bytes, std::size_t length) noexcept {
    if (length < 16) return check_short<Printable>(bytes, length);
    const __m512i first = load_run(bytes, length);
    if (length <= 64) {
        if (not_plain<Printable>(first) == 0) return true;
        return all_zero(_mm512_or_si512(check_first<Printable>(first), incomplete_end(first)));
    }
    __m512i error = check_first<Printable>(first);
    std::size_t at = 64;
    while (length - at > 128) {
        const __m512i a = load512(bytes + at);
        const __m512i b = load512(bytes + at + 64);
        if (_mm512_movepi8_mask(_mm512_or_si512(a, b)) == 0) {
            // ASCII: the check of its first vector refuses a sequence left
            // open before it; then on through ASCII as fast as it can be
            // tested, from a vector boundary in memory (stepping back over
            // bytes just checked), so that no load straddles cache lines.
            error = check_at<Printable>(error, bytes + at, 64);
            if (Printable) error = with_controls(error, b);
            at += 128;
            at -= reinterpret_cast<std::uintptr_t>(bytes + at) % 64;
            while (length - at > 256 && ascii_run512<Printable>(bytes + at)) at += 256;
            continue;
        }
        error =
            check_at<Printable>(check_at<Printable>(error, bytes + at, 64), bytes + at + 64, 64);
        if (!all_zero(error)) return false;
        at += 128;
    }
    if (length - at > 64) {
        error = check_at<Printable>(error, bytes + at, 64);
        at += 64;
    }
    // The last 1 to 64 bytes, spaces after them.
    const __m512i last = load_run(bytes + at, length - at);
    error = check_at<Printable>(error, bytes + at, length - at);
    return all_zero(_mm512_or_si512(error, incomplete_end(last)));
}

}  // namespace

CORVANE_TARGET_SSSE3 bool utf8_check_ssse3(const unsigned char* bytes, std::size_t length,
                                           bool printable) noexcept {
    return printable ? check128<true>(bytes, length) : check128<false>(bytes, length);
}

CORVANE_TARGET_AVX2 bool utf8_check_avx2(const unsigned char* bytes, std::size_t length,
                                         bool printable) noexcept {
    return printable ? check256<true>(bytes, length) : check256<false>(bytes, length);
}

CORVANE_TARGET_AVX512 bool utf8_check_avx512(const unsigned char* bytes, std::size_t length,
                                             bool printable) noexcept {
    return printable ? check512<true>(bytes, length) : check512<false>(bytes, length);
}

}  // namespace corvane::detail

#endif  // CORVANE_UTF8_X86
