#include <corvane/plist.hpp>

#include <cstdlib>

#include <corvane/log.hpp>

namespace corvane {

void* zalloc(std::size_t size) noexcept { return std::calloc(1, size); }

plist* plist_create() noexcept { return static_cast<plist*>(zalloc(sizeof(plist))); }

void plist_destroy(plist* list) noexcept { std::free(list); }

void plist_clear(plist* list, plist_release_fn release) {
    plist_node* node = list->first;
    while (node != nullptr) {
        plist_node* const next = node->next;
        if (release != nullptr) release(node->data);
        std::free(node);
        node = next;
    }
    *list = plist{};
}

void plist_append(plist* list, void* item) noexcept {
    auto* node = static_cast<plist_node*>(zalloc(sizeof(plist_node)));
    if (node == nullptr) {
        log_write(LVL_FATAL, "Unable to allocate memory");
        return;
    }
    node->data = item;
    if (list->last != nullptr) {
        list->last->next = node;
        node->prev = list->last;
    } else {
        list->first = node;
    }
    list->last = node;
    ++list->count;
}

void plist_append_list(plist* list, plist* other) noexcept {
    // Linking a list after itself would make a cycle.
    if (other->count == 0 || other == list) return;
    if (list->count == 0) {
        *list = *other;
    } else {
        list->last->next = other->first;
        other->first->prev = list->last;
        list->last = other->last;
        list->count += other->count;
    }
    *other = plist{};
}

void plist_remove(plist* list, void* item) noexcept {
    list->cursor = nullptr;
    plist_node* node = list->first;
    while (node != nullptr && node->data != item) node = node->next;
    if (node == nullptr) return;

    if (node->next != nullptr) node->next->prev = node->prev;
    if (node->prev != nullptr) node->prev->next = node->next;
    if (list->last == node) list->last = node->prev;
    if (list->first == node) list->first = node->next;
    std::free(node);
    --list->count;
}

void plist_remove_first(plist* list, plist_release_fn release) {
    list->cursor = nullptr;
    plist_node* const node = list->first;
    if (node == nullptr) return;

    list->first = node->next;
    if (list->first != nullptr) list->first->prev = nullptr;
    if (list->last == node) list->last = nullptr;
    --list->count;
    if (release != nullptr) release(node->data);
    std::free(node);
}

std::size_t plist_size(const plist* list) noexcept { return list->count; }

void* plist_get(const plist* list, std::size_t index) noexcept {
    if (index >= list->count) return nullptr;
    const plist_node* node = list->first;
    for (std::size_t at = 0; at < index; ++at) node = node->next;
    return node->data;
}

namespace {

void* item_at_cursor(const plist* list) noexcept {
    return list->cursor != nullptr ? list->cursor->data : nullptr;
}

}  // namespace

void* plist_first(plist* list) noexcept {
    list->cursor = list->first;
    return item_at_cursor(list);
}

void* plist_last(plist* list) noexcept {
    list->cursor = list->last;
    return item_at_cursor(list);
}

void* plist_next(plist* list) noexcept {
    list->cursor = list->cursor != nullptr ? list->cursor->next : list->first;
    return item_at_cursor(list);
}

void* plist_prev(plist* list) noexcept {
    if (list->cursor == nullptr) return nullptr;
    list->cursor = list->cursor->prev;
    return item_at_cursor(list);
}

void plist_seek_first(plist* list) noexcept { list->cursor = list->first; }

void plist_seek_last(plist* list) noexcept { list->cursor = list->last; }

}  // namespace corvane
