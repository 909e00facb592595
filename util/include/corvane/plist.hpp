// A doubly linked list of opaque item pointers with a cursor kept in the
// list, and zero-filled allocation.
//
// The list never owns its items: it stores the pointers it is given, and an
// item is released only by a release function handed to plist_clear or
// plist_remove_first.
#pragma once

#include <cstddef>

namespace corvane {

struct plist_node {
    void* data;
    plist_node* next;
    plist_node* prev;
};

// A zero-filled record is a valid empty list.
struct plist {
    std::size_t count;
    plist_node* first;
    plist_node* last;
    plist_node* cursor;
};

using plist_release_fn = void (*)(void* item);

[[nodiscard]] void* zalloc(std::size_t size);
[[nodiscard]] plist* plist_create();
void plist_destroy(plist* list);
void plist_clear(plist* list, plist_release_fn release);
void plist_append(plist* list, void* item);
void plist_append_list(plist* list, plist* other);
void plist_remove(plist* list, void* item);
void plist_remove_first(plist* list, plist_release_fn release);
[[nodiscard]] std::size_t plist_size(const plist* list);
[[nodiscard]] void* plist_get(const plist* list, std::size_t index);
void* plist_first(plist* list);
void* plist_last(plist* list);
void* plist_next(plist* list);
void* plist_prev(plist* list);
void plist_seek_first(plist* list);
void plist_seek_last(plist* list);

}  // namespace corvane
