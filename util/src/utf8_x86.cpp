// Vector kernels of the UTF-8 validator for x86-64: SSSE3 (16 bytes a step)
// and AVX2 (32 bytes a step). Each function carries its instruction set as a
// target attribute, so the file builds for the baseline CPU and the kernels
// run only where chars.cpp has seen the CPU support them.
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
// Loads never pass the end of the run: whole vectors are read while they fit,
// and the last partial vector is copied into a padded local buffer.
#include <cstdint>
#include <cstring>

#include "utf8_paths.hpp"

#if CORVANE_UTF8_X86

#include <immintrin.h>

#if defined(__GLIBC__) && __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#define CORVANE_GLIBC_CPU_FEATURES 1
#else
#include <cpuid.h>
#define CORVANE_GLIBC_CPU_FEATURES 0
#endif

#define CORVANE_SSSE3 __attribute__((target("ssse3"), always_inline)) inline
#define CORVANE_AVX2 __attribute__((target("avx2"), always_inline)) inline

namespace corvane::detail {

namespace {

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

// The run's last partial vector is padded with spaces: ASCII, so an open
// sequence before it is still refused, and not a control byte.
constexpr std::uint8_t PAD = 0x20;

// ---------------------------------------------------------------- SSSE3

struct state128 {
    __m128i prev;             // the vector before
    __m128i prev_incomplete;  // nonzero when it ends inside a sequence
    __m128i error;
};

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

template <bool Printable>
__attribute__((target("ssse3"))) bool check128(const std::uint8_t* bytes,
                                                std::size_t length) noexcept {
    state128 s{_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
    std::size_t at = 0;
    for (; length - at >= 64; at += 64) {
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
            s.error = _mm_or_si128(s.error, s.prev_incomplete);
            s.prev_incomplete = _mm_setzero_si128();
        } else {
            s.error = _mm_or_si128(s.error, _mm_or_si128(_mm_or_si128(check_pairs(a, s.prev),
                                                                      check_pairs(b, a)),
                                                         _mm_or_si128(check_pairs(c, b),
                                                                      check_pairs(d, c))));
            s.prev_incomplete = incomplete_end(d);
        }
        s.prev = d;
        if (!all_zero(s.error)) return false;
    }
    for (; length - at >= 16; at += 16) {
        step128<Printable>(s, _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + at)));
    }
    if (at < length) {
        alignas(16) std::uint8_t tail[16];
        std::memset(tail, PAD, sizeof tail);
        std::memcpy(tail, bytes + at, length - at);
        step128<Printable>(s, _mm_load_si128(reinterpret_cast<const __m128i*>(tail)));
    }
    s.error = _mm_or_si128(s.error, s.prev_incomplete);
    return all_zero(s.error);
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

CORVANE_AVX2 __m256i check_pairs(__m256i input, __m256i prev_input) noexcept {
    const __m256i prev1 = previous<1>(input, prev_input);
    const __m256i low = _mm256_set1_epi8(0x0F);
    const __m256i special = _mm256_and_si256(
        _mm256_and_si256(_mm256_shuffle_epi8(table256(byte_1_high), high_nibbles(prev1)),
                         _mm256_shuffle_epi8(table256(byte_1_low), _mm256_and_si256(prev1, low))),
        _mm256_shuffle_epi8(table256(byte_2_high), high_nibbles(input)));
    const __m256i third = _mm256_subs_epu8(previous<2>(input, prev_input),
                                           _mm256_set1_epi8(static_cast<char>(0xE0 - 0x80)));
    const __m256i fourth = _mm256_subs_epu8(previous<3>(input, prev_input),
                                            _mm256_set1_epi8(static_cast<char>(0xF0 - 0x80)));
    const __m256i must_continue = _mm256_and_si256(_mm256_or_si256(third, fourth),
                                                   _mm256_set1_epi8(static_cast<char>(0x80)));
    return _mm256_xor_si256(must_continue, special);
}

CORVANE_AVX2 __m256i incomplete_end(__m256i input) noexcept {
    const __m256i limit = _mm256_setr_epi8(
        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
        -1, -1, -1, -1, -1, -1, static_cast<char>(0xF0 - 1), static_cast<char>(0xE0 - 1),
        static_cast<char>(0xC0 - 1));
    return _mm256_subs_epu8(input, limit);
}

CORVANE_AVX2 __m256i controls(__m256i input) noexcept {
    return _mm256_and_si256(
        _mm256_shuffle_epi8(table256(control_low), _mm256_and_si256(input, _mm256_set1_epi8(0x0F))),
        _mm256_shuffle_epi8(table256(control_high), high_nibbles(input)));
}

CORVANE_AVX2 bool all_zero(__m256i v) noexcept { return _mm256_testz_si256(v, v) != 0; }

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

template <bool Printable>
__attribute__((target("avx2"))) bool check256(const std::uint8_t* bytes,
                                               std::size_t length) noexcept {
    state256 s{_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256()};
    std::size_t at = 0;
    for (; length - at >= 64; at += 64) {
        const auto* p = reinterpret_cast<const __m256i*>(bytes + at);
        const __m256i a = _mm256_loadu_si256(p);
        const __m256i b = _mm256_loadu_si256(p + 1);
        if (Printable) {
            s.error = _mm256_or_si256(s.error, _mm256_or_si256(controls(a), controls(b)));
        }
        if (_mm256_movemask_epi8(_mm256_or_si256(a, b)) == 0) {
            s.error = _mm256_or_si256(s.error, s.prev_incomplete);
            s.prev_incomplete = _mm256_setzero_si256();
        } else {
            s.error = _mm256_or_si256(
                s.error, _mm256_or_si256(check_pairs(a, s.prev), check_pairs(b, a)));
            s.prev_incomplete = incomplete_end(b);
        }
        s.prev = b;
        if (!all_zero(s.error)) return false;
    }
    for (; length - at >= 32; at += 32) {
        step256<Printable>(s, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + at)));
    }
    if (at < length) {
        alignas(32) std::uint8_t tail[32];
        std::memset(tail, PAD, sizeof tail);
        std::memcpy(tail, bytes + at, length - at);
        step256<Printable>(s, _mm256_load_si256(reinterpret_cast<const __m256i*>(tail)));
    }
    s.error = _mm256_or_si256(s.error, s.prev_incomplete);
    return all_zero(s.error);
}

// ------------------------------------------------------- CPU features

enum : unsigned { KNOWN = 1, HAS_SSSE3 = 2, HAS_AVX2 = 4 };

unsigned detect_features() noexcept {
#if CORVANE_GLIBC_CPU_FEATURES
    // The C library examined the CPU when the process started; asking it
    // runs no cpuid instruction (under a hypervisor each one traps, and can
    // take microseconds).
    return KNOWN | (CPU_FEATURE_ACTIVE(SSSE3) ? HAS_SSSE3 : 0u) |
           (CPU_FEATURE_ACTIVE(AVX2) ? HAS_AVX2 : 0u);
#else
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) return KNOWN;
    unsigned features = KNOWN | ((c & bit_SSSE3) != 0 ? HAS_SSSE3 : 0u);
    // AVX2 needs the OS to save the 256-bit registers: XCR0 bits 1 and 2.
    if ((c & bit_OSXSAVE) != 0 && (c & bit_AVX) != 0) {
        unsigned xcr0 = 0, xcr0_high = 0;
        __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
        if ((xcr0 & 6) == 6 && __get_cpuid_count(7, 0, &a, &b, &c, &d) != 0 &&
            (b & bit_AVX2) != 0) {
            features |= HAS_AVX2;
        }
    }
    return features;
#endif
}

// Found on first use, not at start-up: a run that validates nothing long
// never asks. Racing threads store the same value.
unsigned cpu_features = 0;

unsigned features() noexcept {
    unsigned known = __atomic_load_n(&cpu_features, __ATOMIC_RELAXED);
    if (known == 0) {
        known = detect_features();
        __atomic_store_n(&cpu_features, known, __ATOMIC_RELAXED);
    }
    return known;
}

}  // namespace

bool cpu_has_ssse3() noexcept { return (features() & HAS_SSSE3) != 0; }

bool cpu_has_avx2() noexcept { return (features() & HAS_AVX2) != 0; }

bool utf8_check_ssse3(const unsigned char* bytes, std::size_t length, bool printable) noexcept {
    return printable ? check128<true>(bytes, length) : check128<false>(bytes, length);
}

bool utf8_check_avx2(const unsigned char* bytes, std::size_t length, bool printable) noexcept {
    return printable ? check256<true>(bytes, length) : check256<false>(bytes, length);
}

}  // namespace corvane::detail

#endif  // CORVANE_UTF8_X86
