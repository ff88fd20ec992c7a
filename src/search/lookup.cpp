// Key lookups: equality, floor, ceiling, record address and first node.
#include "base/checked.hpp"
#include "search/descent.hpp"

using namespace tarn::lib;

namespace {

// One function per comparison, entered by a jump: those that call nothing
// need no stack frame, which a body shared with the comparator's calls would
// make every lookup pay.
template <class Order, class Search>
[[gnu::noinline]] tarn_node *search_with(tarn_node *root, uintptr_t delta, Order order,
                                         Search search) {
    return search(root, delta, order);
}

// Runs one search from the effective root; every failure is NULL.
template <class Search>
tarn_node *key_search(const tarn_head *head, const void *key, Search search) {
    tarn_node *root = effective_root(head);
    if (!root || null_probe_without_comparator(head, key)) return nullptr;
    uintptr_t delta = key_delta(head);
    return with_key_order(
        head, [&](auto order_for) { return search_with(root, delta, order_for(key), search); });
}

// Function objects rather than functions, so each search inlines.
template <class Steer>
constexpr auto answer_of = [](tarn_node *root, uintptr_t delta, const auto &order) {
    return descend_to_answer<Steer>(root, delta, order);
};
template <class Steer>
constexpr auto answer_in_own_order_of = [](tarn_node *root, uintptr_t delta, const auto &order) {
    return answer_in_own_order<Steer>(root, delta, order);
};

// Floor and ceiling: a primary descriptor's tree is ordered by its own
// configuration, where a faster descent answers the same; a replica's tree
// need not be.
template <class Steer>
tarn_node *bound_search(const tarn_head *head, const void *key) {
    if (head && may_search_foreign_order(*head)) return key_search(head, key, answer_of<Steer>);
    return key_search(head, key, answer_in_own_order_of<Steer>);
}

tarn_node *leftmost_into(const tarn_head *head, tarn_node **out) {
    tarn_node *root = effective_root(head);
    if (!root) return nullptr;
    tarn_node *first = outermost<Left>(root);
    if (out) *out = first;
    return first;
}

} // namespace

TARN_EXPORT tarn_node *tarn_lookup(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return key_search(head, key, answer_of<SteerExact>);
}

TARN_EXPORT tarn_node *tarn_lookup_exact(const tarn_head *head, const void *key, uint32_t extra) {
    check_descriptor(head, __func__);
    tarn_node *root = effective_root(head);
    if (!root) return nullptr;
    uintptr_t delta = key_delta(head);
    if (tarn_compare_exact_fn fn = head->compare_exact)
        return descend_to_answer<SteerExact>(root, delta, ExactCallbackOrder{fn, key, extra});
    // Byte-wise: compare plays no part in this call, even when set.
    if (null_probe_to_memcmp(head, key)) return nullptr;
    return with_bytewise_order(head->key_length, [&](auto order_for) {
        return descend_to_answer<SteerExact>(root, delta, order_for(key));
    });
}

TARN_EXPORT tarn_node *tarn_lookup_le(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return bound_search<SteerBound<Left>>(head, key);
}

TARN_EXPORT tarn_node *tarn_lookup_ge(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return bound_search<SteerBound<Right>>(head, key);
}

TARN_EXPORT void *tarn_lookup_user_data(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return record_of(tarn_lookup(head, key), head);
}

TARN_EXPORT tarn_node *tarn_get_first_node(const tarn_head *head, tarn_node **out) {
    check_descriptor(head, __func__);
    return leftmost_into(head, out);
}

TARN_EXPORT void *tarn_get_first_user_data(const tarn_head *head, tarn_node **out) {
    check_descriptor(head, __func__);
    return record_of(leftmost_into(head, out), head);
}
