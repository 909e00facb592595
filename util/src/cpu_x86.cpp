// What an x86-64 CPU offers the UTF-8 kernels. A kernel on wider registers
// also needs the operating system to save them on a context switch, which
// it announces in XCR0: SSE and AVX state (bits 1, 2) for AVX2, and the
// opmask and upper ZMM state (bits 5 to 7) as well for AVX-512.
//
// With glibc the C library has already asked the CPU and the OS at start-up,
// and the answer is read from it: a cpuid instruction traps under a
// hypervisor, which makes it slow. Elsewhere, or when the build sets
// CORVANE_CPUID_DETECTION, cpuid and xgetbv are asked directly.
#include "utf8_kernels.hpp"

#if CORVANE_UTF8_X86

#if defined(__GLIBC__) && __has_include(<sys/platform/x86.h>) && !defined(CORVANE_CPUID_DETECTION)
#if defined(__clang__)
// The header spells C's boolean type, which clang's C++ does not know.
#define _Bool bool  // NOLINT(bugprone-reserved-identifier): the header needs it
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif
#define CORVANE_GLIBC_CPU_FEATURES 1
#else
#include <cpuid.h>
#define CORVANE_GLIBC_CPU_FEATURES 0
#endif

namespace corvane::detail {

#if CORVANE_GLIBC_CPU_FEATURES

cpu_features detect_cpu_features() noexcept {
    // "Active" means the CPU has the feature and the OS enabled its state.
    cpu_features cpu;
    cpu.ssse3 = CPU_FEATURE_ACTIVE(SSSE3);
    cpu.avx2 = CPU_FEATURE_ACTIVE(AVX2);
    cpu.avx512 = CPU_FEATURE_ACTIVE(AVX512F) && CPU_FEATURE_ACTIVE(AVX512BW) &&
                 CPU_FEATURE_ACTIVE(AVX512_VBMI);
    return cpu;
}

#else

cpu_features detect_cpu_features() noexcept {
    constexpr unsigned XCR0_AVX = (1u << 1) | (1u << 2);
    constexpr unsigned XCR0_AVX512 = XCR0_AVX | (1u << 5) | (1u << 6) | (1u << 7);
    cpu_features cpu;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) return cpu;
    cpu.ssse3 = (c & bit_SSSE3) != 0;
    if ((c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0) return cpu;
    unsigned xcr0 = 0, xcr0_high = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0_high) : "c"(0));
    if ((xcr0 & XCR0_AVX) != XCR0_AVX || __get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) return cpu;
    cpu.avx2 = (b & bit_AVX2) != 0;
    cpu.avx512 = (xcr0 & XCR0_AVX512) == XCR0_AVX512 && (b & bit_AVX512F) != 0 &&
                 (b & bit_AVX512BW) != 0 && (c & bit_AVX512VBMI) != 0;
    return cpu;
}

#endif

}  // namespace corvane::detail

#endif  // CORVANE_UTF8_X86
