// The pointer list against std::list<void*>, both one heap node per item:
// appending 1000 items and clearing, walking 1000 items front to back, and
// fetching 32 items spread over 1000 by position. Before each benchmark
// both lists are filled the same way and must give the same items in the
// same order, or the program aborts.
#include <corvane/plist.hpp>

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <list>

namespace {

constexpr std::size_t ITEMS = 1000;
constexpr std::size_t FETCHES = 32;

std::array<int, ITEMS> storage{};

void* item(std::size_t index) { return &storage[index]; }

void fill(corvane::plist& list) {
    for (std::size_t i = 0; i < ITEMS; ++i) corvane::plist_append(&list, item(i));
}

void fill(std::list<void*>& list) {
    for (std::size_t i = 0; i < ITEMS; ++i) list.push_back(item(i));
}

// Positions 0, 31, 62, ... up to the last item.
std::size_t fetch_position(std::size_t k) { return k * (ITEMS - 1) / (FETCHES - 1); }

void check_agree() {
    corvane::plist ours{};
    std::list<void*> theirs;
    fill(ours);
    fill(theirs);
    bool same = corvane::plist_size(&ours) == theirs.size();
    void* walked = corvane::plist_first(&ours);
    for (void* expected : theirs) {
        same = same && walked == expected;
        walked = corvane::plist_next(&ours);
    }
    same = same && walked == nullptr;
    for (std::size_t k = 0; k < FETCHES; ++k) {
        const std::size_t at = fetch_position(k);
        same = same && corvane::plist_get(&ours, at) ==
                           *std::next(theirs.begin(), static_cast<std::ptrdiff_t>(at));
    }
    corvane::plist_clear(&ours, nullptr);
    if (!same) {
        std::fprintf(stderr, "plist benchmark: plist and std::list disagree\n");
        std::abort();
    }
}

void BM_plist_append(benchmark::State& state) {
    check_agree();
    corvane::plist list{};
    for (auto _ : state) {
        fill(list);
        benchmark::DoNotOptimize(list.last);
        corvane::plist_clear(&list, nullptr);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ITEMS));
}

void BM_std_list_append(benchmark::State& state) {
    check_agree();
    std::list<void*> list;
    for (auto _ : state) {
        fill(list);
        benchmark::DoNotOptimize(list.back());
        list.clear();
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ITEMS));
}

void BM_plist_walk(benchmark::State& state) {
    check_agree();
    corvane::plist list{};
    fill(list);
    for (auto _ : state) {
        std::uintptr_t sum = 0;
        for (void* at = corvane::plist_first(&list); at != nullptr;
             at = corvane::plist_next(&list)) {
            sum += reinterpret_cast<std::uintptr_t>(at);
        }
        benchmark::DoNotOptimize(sum);
    }
    corvane::plist_clear(&list, nullptr);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ITEMS));
}

void BM_std_list_walk(benchmark::State& state) {
    check_agree();
    std::list<void*> list;
    fill(list);
    for (auto _ : state) {
        std::uintptr_t sum = 0;
        for (void* at : list) sum += reinterpret_cast<std::uintptr_t>(at);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(ITEMS));
}

void BM_plist_get(benchmark::State& state) {
    check_agree();
    corvane::plist list{};
    fill(list);
    for (auto _ : state) {
        for (std::size_t k = 0; k < FETCHES; ++k) {
            benchmark::DoNotOptimize(corvane::plist_get(&list, fetch_position(k)));
        }
    }
    corvane::plist_clear(&list, nullptr);
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(FETCHES));
}

void BM_std_list_get(benchmark::State& state) {
    check_agree();
    std::list<void*> list;
    fill(list);
    for (auto _ : state) {
        for (std::size_t k = 0; k < FETCHES; ++k) {
            const auto at = static_cast<std::ptrdiff_t>(fetch_position(k));
            benchmark::DoNotOptimize(*std::next(list.begin(), at));
        }
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(FETCHES));
}

BENCHMARK(BM_plist_append);
BENCHMARK(BM_std_list_append);
BENCHMARK(BM_plist_walk);
BENCHMARK(BM_std_list_walk);
BENCHMARK(BM_plist_get);
BENCHMARK(BM_std_list_get);

}  // namespace
