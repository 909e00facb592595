// Runs the heap of the calling process dry, for real, so that a test can
// watch allocation failures happen: the address space is capped a little
// above what the process uses, then taken in blocks of falling size until
// even the smallest allocation fails. Nothing is given back, so this is for
// a child process that ends right after (a gtest death test).
//
// Linux and glibc only (it reads /proc/self/statm, and a sanitizer's
// allocator neither honours the cap nor returns null): elsewhere
// heap_exhaustion_unavailable() names the reason to skip.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define CORVANE_TEST_SANITIZED 1
#endif
#endif

// For the child of an allocation-failure test: reports a failed check on
// stderr and records it in the child's `failures`, which becomes its exit
// status.
#define CHILD_CHECK(condition)                                                          \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "check failed: %s (line %d)\n", #condition, __LINE__); \
            failures = 1;                                                               \
        }                                                                               \
    } while (0)

namespace corvane::test {

// Null when exhaust_heap() works here, else why it does not.
inline const char* heap_exhaustion_unavailable() {
#if defined(CORVANE_TEST_SANITIZED)
    return "a sanitizer's allocator does not fail under an address-space cap";
#elif !defined(__linux__) || !defined(__GLIBC__)
    return "heap exhaustion is set up for Linux with glibc only";
#else
    return nullptr;
#endif
}

// The blocks taken, chained through their first word so that they stay
// reachable and no allocation is optimised away.
inline void* exhausted_blocks = nullptr;

// Touches stack pages now, so that deeper calls after the cap do not need
// address space that is no longer there.
inline int grow_stack() {
    constexpr std::size_t depth = 512 * 1024;
    volatile char pad[depth];
    int sum = 0;
    for (std::size_t at = 0; at < depth; at += 1024) {
        pad[at] = 1;
        sum += pad[at];
    }
    return sum;
}

// Allocates size bytes and keeps the block, so that the call is never
// optimised away; null when the heap has run dry.
inline void* take(std::size_t size) {
    void* const block = std::malloc(size < sizeof(void*) ? sizeof(void*) : size);
    if (block != nullptr) {
        *static_cast<void**>(block) = exhausted_blocks;
        exhausted_blocks = block;
    }
    return block;
}

inline bool exhaust_heap() {
    if (grow_stack() == 0) return false;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return false;
    unsigned long pages = 0;
    const int fields = std::fscanf(statm, "%lu", &pages);
    std::fclose(statm);
    if (fields != 1) return false;

    rlimit cap{};
    if (getrlimit(RLIMIT_AS, &cap) != 0) return false;
    const long page_size = sysconf(_SC_PAGESIZE);
    if (page_size <= 0) return false;
    cap.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(page_size) + (8u << 20);
    if (setrlimit(RLIMIT_AS, &cap) != 0) return false;

    constexpr std::size_t sizes[] = {1u << 20, 1u << 16, 1u << 12,     1u << 8,
                                     1u << 6,  1u << 4,  sizeof(void*)};
    for (const std::size_t size : sizes) {
        while (take(size) != nullptr) {
        }
    }
    return take(1) == nullptr;
}

}  // namespace corvane::test
