// SPDX-License-Identifier: MIT
// Cursors: steps through links while holding a node, searches by saved key
// after a yield, and the two strict key searches they rely on.
#include <cstring>

#include "base/checked.hpp"

using namespace tarn::lib;

namespace {

// Nearest node strictly beyond key on side S, from the effective root.
template <side S>
tarn_node *search_beyond_key(const tarn_head *head, const void *key) {
    tarn_node *root = effective_root(head);
    if (!root || null_probe_without_comparator(head, key)) return nullptr;
    uintptr_t delta = key_delta(head);
    return with_key_order(
        *head, [&](auto order_for) { return strictly_beyond<S>(root, delta, order_for(key)); });
}

// A detached cursor searches from its saved key and stores only a node
// found. Out of line, so that the step from a holding cursor needs no frame.
template <side S>
[[gnu::noinline]] tarn_node *resume_cursor(const tarn_head *head, tarn_iterator *it) {
    tarn_node *found = search_beyond_key<S>(head, it->saved_key);
    if (found) it->current = found;
    return found;
}

// A holding cursor steps and stores whatever it finds.
template <side S>
tarn_node *step_cursor(const tarn_head *head, tarn_iterator *it) {
    if (!it) return nullptr;
    if (it->current) return it->current = step<S>(it->current);
    return resume_cursor<S>(head, it);
}

} // namespace

TARN_EXPORT int32_t tarn_init_iterator(const tarn_head *head, tarn_iterator *iterator) {
    check_descriptor(head, __func__);
    if (!head || !iterator) return 0;
    iterator->current = nullptr;
    return 1;
}

TARN_EXPORT void tarn_pre_sched_yield(const tarn_head *head, tarn_iterator *iterator) {
    check_descriptor(head, __func__);
    if (!head || !iterator || !iterator->current) return;
    std::memcpy(iterator->saved_key, key_at(iterator->current, key_delta(head)), head->key_length);
    iterator->current = nullptr;
}

TARN_EXPORT tarn_node *tarn_get_next_node(const tarn_head *head, tarn_iterator *iterator) {
    check_descriptor(head, __func__);
    check_cursor(iterator, __func__);
    return step_cursor<side::right>(head, iterator);
}

TARN_EXPORT tarn_node *tarn_get_previous_node(const tarn_head *head, tarn_iterator *iterator) {
    check_descriptor(head, __func__);
    check_cursor(iterator, __func__);
    return step_cursor<side::left>(head, iterator);
}

TARN_EXPORT void *tarn_get_next_user_data(const tarn_head *head, tarn_iterator *iterator) {
    check_descriptor(head, __func__);
    check_cursor(iterator, __func__);
    tarn_node *found = step_cursor<side::right>(head, iterator);
    return head ? record_of(found, head) : nullptr;
}

TARN_EXPORT tarn_node *tarn_get_next_node_from_key(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return search_beyond_key<side::right>(head, key);
}

TARN_EXPORT tarn_node *tarn_get_previous_node_from_key(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return search_beyond_key<side::left>(head, key);
}
