// A doubly linked list of opaque item pointers with a cursor kept in the
// list, and zero-filled allocation.
//
//   corvane::plist* names = corvane::plist_create();
//   corvane::plist_append(names, strdup("ada"));
//   for (void* item = corvane::plist_first(names); item; item = corvane::plist_next(names))
//       puts(static_cast<char*>(item));
//   corvane::plist_clear(names, [](void* item) { free(item); });
//   corvane::plist_destroy(names);
//
// Contracts that hold for every operation:
// - The list never owns its items: it stores the pointers it is given (null
//   included, and one pointer may be stored several times). An item is
//   released only by a release function handed to plist_clear or
//   plist_remove_first.
// - Failure leaves the list unchanged: the one operation that allocates,
//   plist_append, logs "Unable to allocate memory" at LVL_FATAL when its
//   node cannot be made, stores nothing, and the item stays the caller's.
// - The cursor belongs to the list, so there is one walk at a time.
//   plist_append and plist_append_list (into a non-empty list) leave it
//   alone; plist_remove, plist_remove_first and plist_clear set it to none,
//   so a walk that removes items starts over at the first item with its
//   next plist_next.
// - Every operation but plist_destroy needs a valid list, never null.
#pragma once

#include <cstddef>

namespace corvane {

struct plist_node {
    void* data;
    plist_node* next;
    plist_node* prev;
};

// A zero-filled record is a valid empty list:
//   corvane::plist list{};  // ready to use
struct plist {
    std::size_t count;
    plist_node* first;
    plist_node* last;
    plist_node* cursor;  // none when no walk is under way
};

using plist_release_fn = void (*)(void* item);

// A block of size bytes, all zero, to be released with free; null when
// memory is exhausted (nothing is logged).
[[nodiscard]] void* zalloc(std::size_t size) noexcept;

// A new empty list; null when memory is exhausted (nothing is logged).
[[nodiscard]] plist* plist_create() noexcept;

// Releases the list record alone; null is ignored. Nodes and items are not
// released: clear a list that holds nodes first.
void plist_destroy(plist* list) noexcept;

// Removes every node, calling release (when not null) on each item in
// order. The list is then empty and can be filled again.
//   plist_clear(list, nullptr);  // the items stay valid
void plist_clear(plist* list, plist_release_fn release);

// Stores item after the last node, in constant time. See the failure
// contract above.
void plist_append(plist* list, void* item) noexcept;

// Moves every node of other to the end of list, in constant time; other is
// left empty and still usable. Into an empty list, other's cursor comes
// along; otherwise list's cursor is left alone. With other empty, or other
// the same list, nothing changes.
//   {a, b} + {c}  ->  list {a, b, c}, other {}
void plist_append_list(plist* list, plist* other) noexcept;

// Unlinks the node nearest the front whose item is this very pointer
// (identity, not contents); the item is not released. The cursor becomes
// none whether or not the item is found.
void plist_remove(plist* list, void* item) noexcept;

// Unlinks the first node and calls release (when not null) on its item.
// The cursor becomes none, on an empty list too.
void plist_remove_first(plist* list, plist_release_fn release);

// The number of nodes, in constant time.
[[nodiscard]] std::size_t plist_size(const plist* list) noexcept;

// The item at position index (from 0); null when index >= plist_size.
// Walks from the front; the cursor is not moved.
//   {a, b, c}: plist_get(list, 2) == c, plist_get(list, 3) == nullptr
[[nodiscard]] void* plist_get(const plist* list, std::size_t index) noexcept;

// Moves the cursor to the first (last) node and returns its item; null
// and cursor none when the list is empty.
void* plist_first(plist* list) noexcept;
void* plist_last(plist* list) noexcept;

// Moves the cursor one node on and returns its item; null once it has run
// past the last node. A cursor that is none starts at the first node, so a
// walk that ran off the end starts over:
//   {a, b}: next -> a, next -> b, next -> null, next -> a
void* plist_next(plist* list) noexcept;

// Moves the cursor one node back and returns its item; null once it has
// run past the first node. A cursor that is none stays none (no wrap):
//   {a, b}: last -> b, prev -> a, prev -> null, prev -> null
void* plist_prev(plist* list) noexcept;

// Move the cursor like plist_first and plist_last, returning nothing.
void plist_seek_first(plist* list) noexcept;
void plist_seek_last(plist* list) noexcept;

}  // namespace corvane
