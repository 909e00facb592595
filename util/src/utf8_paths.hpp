// Internal to the library: the implementations of the UTF-8 validator, one
// per instruction set, and the choice among them. Not installed.
//
// Every path gives exactly the result of the scalar walk for every input,
// and none reads outside bytes[0, length). utf8_valid_n and utf8_printable_n
// use the fastest path the CPU can run, chosen on their first call.
#pragma once

#include <cstddef>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define CORVANE_UTF8_X86 1
// The instruction sets of the x86 kernels, on every declaration of them.
#define CORVANE_TARGET_SSSE3 __attribute__((target("ssse3")))
#define CORVANE_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define CORVANE_UTF8_X86 0
#endif

namespace corvane::detail {

enum class utf8_path { scalar, ssse3, avx2 };

// "scalar", "ssse3" or "avx2".
[[nodiscard]] const char* utf8_path_name(utf8_path path) noexcept;

// True when this build holds `path` and this CPU can run it.
[[nodiscard]] bool utf8_path_available(utf8_path path) noexcept;

// The path utf8_valid_n and utf8_printable_n use on this CPU.
[[nodiscard]] utf8_path utf8_chosen_path() noexcept;

// utf8_valid_n and utf8_printable_n on a named path; a path that is not
// available falls back to the scalar walk. For tests and benchmarks.
[[nodiscard]] bool utf8_valid_with(utf8_path path, const char* bytes, std::size_t length) noexcept;
[[nodiscard]] bool utf8_printable_with(utf8_path path, const char* bytes,
                                       std::size_t length) noexcept;

// The kernels. `printable` adds the refusal of control bytes other than
// TAB, LF and CR.
[[nodiscard]] bool utf8_check_scalar(const unsigned char* bytes, std::size_t length,
                                     bool printable) noexcept;
#if CORVANE_UTF8_X86
[[nodiscard]] CORVANE_TARGET_SSSE3 bool utf8_check_ssse3(const unsigned char* bytes,
                                                         std::size_t length,
                                                         bool printable) noexcept;
[[nodiscard]] CORVANE_TARGET_AVX2 bool utf8_check_avx2(const unsigned char* bytes,
                                                       std::size_t length, bool printable) noexcept;

// Whether this CPU, and the OS for AVX2's registers, support the kernel.
[[nodiscard]] bool cpu_has_ssse3() noexcept;
[[nodiscard]] bool cpu_has_avx2() noexcept;
#endif

}  // namespace corvane::detail
