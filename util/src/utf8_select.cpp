// The choice among the UTF-8 kernels: which ones this build holds and this
// CPU can run, the best of them, and the one kernel utf8_valid_n and
// utf8_printable_n use, chosen on their first call so that a run which
// validates nothing never asks the CPU.
#include "utf8_kernels.hpp"

namespace corvane::detail {

utf8_check chosen_check = nullptr;

namespace {

// The kernel's function, whether or not this CPU can run it.
utf8_check check_of(utf8_kernel kernel) noexcept {
#if CORVANE_UTF8_X86
    switch (kernel) {
        case utf8_kernel::ssse3:
            return utf8_check_ssse3;
        case utf8_kernel::avx2:
            return utf8_check_avx2;
        case utf8_kernel::avx512:
            return utf8_check_avx512;
        case utf8_kernel::scalar:
            break;
    }
#else
    (void)kernel;
#endif
    return utf8_check_scalar;
}

}  // namespace

utf8_check choose_check() noexcept {
    const utf8_check check = check_of(utf8_chosen_kernel());
    __atomic_store_n(&chosen_check, check, __ATOMIC_RELAXED);
    return check;
}

const char* utf8_kernel_name(utf8_kernel kernel) noexcept {
    switch (kernel) {
        case utf8_kernel::ssse3:
            return "ssse3";
        case utf8_kernel::avx2:
            return "avx2";
        case utf8_kernel::avx512:
            return "avx512";
        case utf8_kernel::scalar:
            break;
    }
    return "scalar";
}

utf8_check utf8_kernel_check(utf8_kernel kernel) noexcept {
#if CORVANE_UTF8_X86
    const cpu_features cpu = detect_cpu_features();
    const bool runs =
        kernel == utf8_kernel::scalar || (kernel == utf8_kernel::ssse3 && cpu.ssse3) ||
        (kernel == utf8_kernel::avx2 && cpu.avx2) || (kernel == utf8_kernel::avx512 && cpu.avx512);
#else
    const bool runs = kernel == utf8_kernel::scalar;
#endif
    return runs ? check_of(kernel) : nullptr;
}

utf8_kernel utf8_chosen_kernel() noexcept {
#if CORVANE_UTF8_X86
    const cpu_features cpu = detect_cpu_features();
    if (cpu.avx512) return utf8_kernel::avx512;
    if (cpu.avx2) return utf8_kernel::avx2;
    if (cpu.ssse3) return utf8_kernel::ssse3;
#endif
    return utf8_kernel::scalar;
}

}  // namespace corvane::detail
