#include <corvane/log.hpp>
#include <corvane/plist.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "support/heap_exhaustion.hpp"

namespace {

using namespace corvane;

// Distinct items with stable addresses.
int a_item, b_item, c_item, d_item;
void* const a = &a_item;
void* const b = &b_item;
void* const c = &c_item;
void* const d = &d_item;

// The items in order, read through the links in both directions; fails the
// test when the links, ends or count disagree.
std::vector<void*> items_of(const plist& list) {
    std::vector<void*> forward, backward;
    const plist_node* tail = nullptr;
    for (const plist_node* node = list.first; node != nullptr && forward.size() <= list.count;
         tail = node, node = node->next) {
        EXPECT_EQ(node->prev, tail) << "prev does not mirror next";
        forward.push_back(node->data);
    }
    EXPECT_EQ(tail, list.last);
    EXPECT_EQ(forward.size(), list.count);
    for (const plist_node* node = list.last; node != nullptr && backward.size() <= list.count;
         node = node->prev) {
        backward.push_back(node->data);
    }
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(backward, forward);
    return forward;
}

// An owned list, cleared (items untouched) and destroyed at the end.
struct Plist : ::testing::Test {
    plist* list = plist_create();

    void fill(std::initializer_list<void*> items) {
        for (void* item : items) plist_append(list, item);
    }
    void TearDown() override {
        plist_clear(list, nullptr);
        plist_destroy(list);
    }
};

using Items = std::vector<void*>;

// A created list, a zero-filled record and a zero-filled block are all
// empty lists.
TEST_F(Plist, EmptyListHasNoItemsAndNoCursorAndTakesItems) {
    ASSERT_NE(list, nullptr);
    plist zeroed{};
    auto* allocated = static_cast<plist*>(zalloc(sizeof(plist)));
    ASSERT_NE(allocated, nullptr);
    for (plist* empty : {list, &zeroed, allocated}) {
        EXPECT_EQ(plist_size(empty), 0u);
        EXPECT_EQ(plist_first(empty), nullptr);
        EXPECT_EQ(plist_last(empty), nullptr);
        EXPECT_EQ(plist_next(empty), nullptr);
        EXPECT_EQ(plist_prev(empty), nullptr);
        EXPECT_EQ(plist_get(empty, 0), nullptr);
        plist_remove_first(empty, nullptr);
        EXPECT_EQ(empty->count, 0u);
        EXPECT_EQ(empty->cursor, nullptr);
        plist_append(empty, a);
        plist_append(empty, b);
        EXPECT_EQ(items_of(*empty), (Items{a, b}));
        EXPECT_EQ(plist_first(empty), a);
        plist_clear(empty, nullptr);
    }
    plist_destroy(allocated);
    plist_destroy(nullptr);
}

TEST_F(Plist, NullItemsAreStoredAndCounted) {
    fill({nullptr, a, nullptr});
    EXPECT_EQ(plist_size(list), 3u);
    EXPECT_EQ(items_of(*list), (Items{nullptr, a, nullptr}));
}

TEST_F(Plist, GetByIndex) {
    fill({a, b, c});
    struct {
        std::size_t index;
        void* item;
    } const cases[] = {{0, a}, {1, b}, {2, c}, {3, nullptr}, {SIZE_MAX, nullptr}};
    plist_seek_first(list);
    for (const auto& row : cases)
        EXPECT_EQ(plist_get(list, row.index), row.item) << "index " << row.index;
    EXPECT_EQ(list->cursor, list->first) << "get must not move the cursor";
}

// Cursor moves over {a, b, c}, each case from a fresh list (cursor none),
// with what each move returns; the seeks return nothing, taken as null.
TEST_F(Plist, CursorMoves) {
    using move = void* (*)(plist*);
    const move first = plist_first, last = plist_last, next = plist_next, prev = plist_prev;
    const move seek_first = [](plist* l) -> void* {
        plist_seek_first(l);
        return nullptr;
    };
    const move seek_last = [](plist* l) -> void* {
        plist_seek_last(l);
        return nullptr;
    };
    struct step {
        move how;
        void* item;
    };
    struct {
        const char* what;
        std::vector<step> steps;
    } const cases[] = {
        {"next walks forward and starts over after the end",
         {{next, a}, {next, b}, {next, c}, {next, nullptr}, {next, a}}},
        {"prev walks backward and does not wrap",
         {{prev, nullptr}, {last, c}, {prev, b}, {prev, a}, {prev, nullptr}, {prev, nullptr}}},
        {"seeks place the cursor without returning",
         {{seek_first, nullptr},
          {next, b},
          {seek_last, nullptr},
          {prev, b},
          {seek_last, nullptr},
          {next, nullptr}}},
        {"first and last return the ends", {{last, c}, {first, a}, {next, b}}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        fill({a, b, c});
        for (std::size_t at = 0; at < row.steps.size(); ++at)
            EXPECT_EQ(row.steps[at].how(list), row.steps[at].item) << "move " << at + 1;
        plist_clear(list, nullptr);
    }
}

TEST_F(Plist, AppendLeavesAWalkInPlace) {
    fill({a, b});
    EXPECT_EQ(plist_first(list), a);
    plist_append(list, c);
    EXPECT_EQ(plist_next(list), b);
    EXPECT_EQ(plist_next(list), c);
}

// Places the cursor on the item at index; leaves it alone when index < 0.
void place_cursor(plist* list, int index) {
    if (index < 0) return;
    plist_first(list);
    for (int step = 0; step < index; ++step) plist_next(list);
}

void* cursor_item(const plist& list) {
    return list.cursor == nullptr ? nullptr : list.cursor->data;
}

// Two items with equal contents at different addresses.
char same_1[] = "same";
char same_2[] = "same";

TEST_F(Plist, RemoveUnlinksTheFrontmostNodeOfThatPointerAndEndsTheWalk) {
    struct {
        const char* what;
        Items items;
        int cursor;  // index of the item under the cursor, -1 for none
        void* removed;
        Items left;
    } const cases[] = {
        {"first", {a, b, c}, -1, a, {b, c}},
        {"middle", {a, b, c}, -1, b, {a, c}},
        {"last, during a walk", {a, b, c}, 0, c, {a, b}},
        {"the only item", {d}, 0, d, {}},
        {"the frontmost of twins", {a, b, a}, 2, a, {b, a}},
        {"by identity, not by contents", {same_1, same_2}, -1, same_2, {same_1}},
        {"missing: only the cursor changes", {a, b}, 1, c, {a, b}},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        for (void* item : row.items) plist_append(list, item);
        place_cursor(list, row.cursor);
        plist_remove(list, row.removed);
        EXPECT_EQ(list->cursor, nullptr);
        EXPECT_EQ(items_of(*list), row.left);
        EXPECT_EQ(plist_next(list), row.left.empty() ? nullptr : row.left.front())
            << "the next walk starts over";
        plist_clear(list, nullptr);
    }
}

TEST_F(Plist, RemovalDuringAWalkRestartsItAndVisitsTheRest) {
    fill({a, b, a, b, c});
    int visits = 0;
    for (void* item = plist_first(list); item != nullptr && visits < 20;
         item = plist_next(list), ++visits) {
        if (item == b) plist_remove(list, item);
    }
    EXPECT_EQ(items_of(*list), (Items{a, a, c}));
}

std::vector<void*> released;
void record_release(void* item) { released.push_back(item); }

TEST_F(Plist, RemoveFirstReleasesOnlyWhenAsked) {
    released.clear();
    fill({a, b, c});
    plist_seek_last(list);
    plist_remove_first(list, record_release);
    EXPECT_EQ(released, (Items{a}));
    EXPECT_EQ(list->cursor, nullptr);
    plist_remove_first(list, nullptr);
    EXPECT_EQ(released, (Items{a}));
    EXPECT_EQ(items_of(*list), (Items{c}));
    plist_remove_first(list, record_release);
    EXPECT_EQ(items_of(*list), Items{});
    EXPECT_EQ(released, (Items{a, c}));
}

TEST_F(Plist, ClearReleasesEveryItemInOrderAndLeavesAReusableList) {
    released.clear();
    fill({a, b, c});
    plist_seek_first(list);
    plist_clear(list, record_release);
    EXPECT_EQ(released, (Items{a, b, c}));
    EXPECT_EQ(list->count, 0u);
    EXPECT_EQ(list->first, nullptr);
    EXPECT_EQ(list->last, nullptr);
    EXPECT_EQ(list->cursor, nullptr);

    fill({d});
    plist_clear(list, nullptr);
    EXPECT_EQ(released.size(), 3u) << "no release function: items untouched";
    fill({a});
    EXPECT_EQ(items_of(*list), (Items{a}));
}

// The nodes move, the other list is left empty and usable; the receiving
// list keeps its cursor, or takes over the other's when it was empty.
TEST_F(Plist, AppendListMovesTheNodesOfTheOtherList) {
    struct {
        const char* what;
        Items items;
        int cursor;  // index of the item under the cursor, -1 for none
        Items other_items;
        int other_cursor;
        Items joined;
        void* joined_cursor;
    } const cases[] = {
        {"onto a list", {a, b}, 0, {c, d}, 1, {a, b, c, d}, a},
        {"into an empty list", {}, -1, {a, b, c}, 1, {a, b, c}, b},
        {"an empty list", {a, b}, 1, {}, -1, {a, b}, b},
        {"an empty list into an empty list", {}, -1, {}, -1, {}, nullptr},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.what);
        plist other{};
        for (void* item : row.items) plist_append(list, item);
        for (void* item : row.other_items) plist_append(&other, item);
        place_cursor(list, row.cursor);
        place_cursor(&other, row.other_cursor);
        plist_append_list(list, &other);
        EXPECT_EQ(items_of(*list), row.joined);
        EXPECT_EQ(cursor_item(*list), row.joined_cursor);
        EXPECT_EQ(items_of(other), Items{});
        EXPECT_EQ(other.cursor, nullptr);
        plist_append(&other, a);
        EXPECT_EQ(items_of(other), (Items{a})) << "the emptied list is still usable";
        plist_clear(&other, nullptr);
        plist_clear(list, nullptr);
    }
}

TEST_F(Plist, AppendListOntoItselfChangesNothing) {
    fill({a, b});
    place_cursor(list, 1);
    plist_append_list(list, list);
    EXPECT_EQ(items_of(*list), (Items{a, b}));
    EXPECT_EQ(cursor_item(*list), b);
}

// Allocation failures, made real in a child whose heap has run dry.
// The child reports failed checks on stderr and through its exit code.

TEST(PlistOutOfMemoryDeathTest, AllocationsFailWithoutChangingTheList) {
    if (const char* reason = corvane::test::heap_exhaustion_unavailable()) GTEST_SKIP() << reason;
    log_close();
    log_set_verbosity(4);
    EXPECT_EXIT(
        {
            plist list{};
            plist_append(&list, a);
            log_write(LVL_USER, "heap still there");  // loads the time zone first
            int failures = 0;
            CHILD_CHECK(corvane::test::exhaust_heap());
            CHILD_CHECK(zalloc(16) == nullptr);
            CHILD_CHECK(plist_create() == nullptr);
            plist_seek_first(&list);
            plist_node* const cursor = list.cursor;
            plist_append(&list, b);
            CHILD_CHECK(list.count == 1 && list.first == list.last && list.first->data == a);
            CHILD_CHECK(list.cursor == cursor);
            std::_Exit(failures);
        },
        ::testing::ExitedWithCode(0), "  FATAL: Unable to allocate memory\n");
}

}  // namespace
