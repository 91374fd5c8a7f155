// The intrusive list of every program of the kit: a link of two pointers
// (prev, then next) embedded in each record, circular and doubly linked,
// the head a bare link. Elements are only ever appended at the tail, so
// every list, and every table printed from it, keeps creation order.
#ifndef TSKIT_COMMON_INTRUSIVE_LIST_H
#define TSKIT_COMMON_INTRUSIVE_LIST_H

#include <cstddef>

struct ListHead {
    ListHead* prev;
    ListHead* next;
};

// An empty list points to itself both ways.
inline void INIT_LIST_HEAD(ListHead* link) {
    link->next = link;
    link->prev = link;
}

inline void list_add_tail(ListHead* element, ListHead* head) {
    ListHead* last = head->prev;
    element->next = head;
    element->prev = last;
    last->next = element;
    head->prev = element;
}

// Unlinks the element (it is not freed) and nulls both its pointers, so a
// stale walk from it stops at once instead of wandering into the list.
inline void list_del(ListHead* element) {
    element->prev->next = element->next;
    element->next->prev = element->prev;
    element->next = nullptr;
    element->prev = nullptr;
}

inline bool list_empty(const ListHead* head) {
    return head->next == head;
}

// The record that embeds the link.
#define list_entry(link, type, member) \
    (reinterpret_cast<type*>(reinterpret_cast<char*>(link) - offsetof(type, member)))

#endif  // TSKIT_COMMON_INTRUSIVE_LIST_H
