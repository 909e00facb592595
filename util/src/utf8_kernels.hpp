// Internal to the library: the kernels of the UTF-8 validator, one per
// instruction set (utf8_scalar.cpp, utf8_x86.cpp), the choice among them
// (utf8_select.cpp), and what the CPU supports (cpu_x86.cpp). Not
// installed.
//
// Every kernel gives exactly the result of the scalar walk for every input,
// and none reads outside bytes[0, length). utf8_valid_n and utf8_printable_n
// use the best kernel the CPU can run, chosen on their first call.
#pragma once

#include <cstddef>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CORVANE_UTF8_X86 1
// The instruction sets of the x86 kernels, on every declaration of them.
#define CORVANE_TARGET_SSSE3 __attribute__((target("ssse3")))
#define CORVANE_TARGET_AVX2 __attribute__((target("avx2")))
#define CORVANE_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi")))
#else
#define CORVANE_UTF8_X86 0
#endif

namespace corvane::detail {

enum class utf8_kernel { scalar, ssse3, avx2, avx512 };

inline constexpr utf8_kernel utf8_kernels[] = {utf8_kernel::scalar, utf8_kernel::ssse3,
                                               utf8_kernel::avx2, utf8_kernel::avx512};

// A kernel: `printable` adds the refusal of control bytes other than TAB, LF
// and CR.
using utf8_check = bool (*)(const unsigned char* bytes, std::size_t length,
                            bool printable) noexcept;

// "scalar", "ssse3", "avx2" or "avx512".
[[nodiscard]] const char* utf8_kernel_name(utf8_kernel kernel) noexcept;

// The kernel's function when this build holds it and this CPU (and the OS,
// for the wider registers) can run it, else nullptr. Tests and benchmarks
// run each kernel through it.
[[nodiscard]] utf8_check utf8_kernel_check(utf8_kernel kernel) noexcept;

// The best kernel this CPU can run: the one utf8_valid_n and
// utf8_printable_n take.
[[nodiscard]] utf8_kernel utf8_chosen_kernel() noexcept;

// The kernel of utf8_valid_n and utf8_printable_n, null until their first
// call: current_check reads it, choose_check sets it and returns it. Threads
// that race there all store the same pointer, so relaxed atomic access
// suffices. The compiler's atomic built-ins stand in for std::atomic here:
// libstdc++ 12 builds std::atomic::load on a memory-order operator that is
// not noexcept, and an unoptimised clang build then links the C++ exception
// runtime into every program that validates UTF-8 -- the tool among them.
// current_check is inline, and the pointer hidden from symbol interposition,
// so the entry points pay one direct load and a jump.
extern utf8_check chosen_check __attribute__((visibility("hidden")));
[[nodiscard]] utf8_check choose_check() noexcept;

[[nodiscard]] inline utf8_check current_check() noexcept {
    const utf8_check check = __atomic_load_n(&chosen_check, __ATOMIC_RELAXED);
    return check != nullptr ? check : choose_check();
}

[[nodiscard]] bool utf8_check_scalar(const unsigned char* bytes, std::size_t length,
                                     bool printable) noexcept;
#if CORVANE_UTF8_X86
[[nodiscard]] CORVANE_TARGET_SSSE3 bool utf8_check_ssse3(const unsigned char* bytes,
                                                         std::size_t length,
                                                         bool printable) noexcept;
[[nodiscard]] CORVANE_TARGET_AVX2 bool utf8_check_avx2(const unsigned char* bytes,
                                                       std::size_t length, bool printable) noexcept;
[[nodiscard]] CORVANE_TARGET_AVX512 bool utf8_check_avx512(const unsigned char* bytes,
                                                           std::size_t length,
                                                           bool printable) noexcept;

// What the kernels need of the CPU, with the OS saving the registers they
// use (cpu_x86.cpp). avx512 stands for AVX-512 F, BW and VBMI.
struct cpu_features {
    bool ssse3 = false;
    bool avx2 = false;
    bool avx512 = false;
};

// Asks the CPU (or the C library, which asked it at start-up) every time.
[[nodiscard]] cpu_features detect_cpu_features() noexcept;
#endif

}  // namespace corvane::detail
