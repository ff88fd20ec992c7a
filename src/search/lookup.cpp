// SPDX-License-Identifier: MIT
// Key lookups: equality, floor, ceiling, record address and first node.
#include "base/checked.hpp"

using namespace tarn::lib;

namespace {

// One function per comparison and way, entered by a jump: those that call
// nothing need no stack frame, which a body shared with the comparator's
// calls would make every lookup pay.
template <class Way, class Order>
[[gnu::noinline]] tarn_node *answer_by(tarn_node *root, uintptr_t delta, Order order) {
    return answer_of(descend<Way>(root, delta, order));
}

// Which tree a search reads, as far as its way may depend on it.
enum class searching { any_tree, primary, replica };

// Row's answer from the effective root, by the way with_way picks; every
// failure is NULL. A primary's tree is its own root.
template <const code_row &Row, searching Tree>
tarn_node *search_from(const tarn_head *head, const void *key) {
    tarn_node *root = Tree == searching::primary ? head->root : effective_root(head);
    if (!root || null_probe_without_comparator(head, key)) return nullptr;
    uintptr_t delta = key_delta(head);
    return with_key_order(*head, [&](auto order_for) {
        auto order = order_for(key);
        return with_way<Row, decltype(order)>(
            Tree == searching::primary, head->count,
            [&](auto way) { return answer_by<decltype(way)>(root, delta, order); });
    });
}

template <const code_row &Row>
tarn_node *key_search(const tarn_head *head, const void *key) {
    if constexpr (way_may_depend_on_tree_order<Row>) {
        if (!head) return nullptr;
        if (ordered_by_own_configuration(*head))
            return search_from<Row, searching::primary>(head, key);
        return search_from<Row, searching::replica>(head, key);
    } else {
        return search_from<Row, searching::any_tree>(head, key);
    }
}

tarn_node *leftmost_into(const tarn_head *head, tarn_node **out) {
    tarn_node *root = effective_root(head);
    if (!root) return nullptr;
    tarn_node *first = outermost<side::left>(root);
    if (out) *out = first;
    return first;
}

} // namespace

TARN_EXPORT tarn_node *tarn_lookup(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return key_search<find_row>(head, key);
}

TARN_EXPORT tarn_node *tarn_lookup_exact(const tarn_head *head, const void *key, uint32_t extra) {
    check_descriptor(head, __func__);
    tarn_node *root = effective_root(head);
    if (!root) return nullptr;
    uintptr_t delta = key_delta(head);
    using way = by_codes<find_row>;
    if (tarn_compare_exact_fn fn = head->compare_exact)
        return answer_of(descend<way>(root, delta, exact_callback_order{fn, key, extra}));
    // Byte-wise: compare plays no part in this call, even when set.
    if (null_probe_to_memcmp(head, key)) return nullptr;
    return with_bytewise_order(head->key_length, [&](auto order_for) {
        return answer_of(descend<way>(root, delta, order_for(key)));
    });
}

TARN_EXPORT tarn_node *tarn_lookup_le(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return key_search<floor_row>(head, key);
}

TARN_EXPORT tarn_node *tarn_lookup_ge(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return key_search<ceiling_row>(head, key);
}

TARN_EXPORT void *tarn_lookup_user_data(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return record_of(key_search<find_row>(head, key), head);
}

TARN_EXPORT tarn_node *tarn_get_first_node(const tarn_head *head, tarn_node **out) {
    check_descriptor(head, __func__);
    return leftmost_into(head, out);
}

TARN_EXPORT void *tarn_get_first_user_data(const tarn_head *head, tarn_node **out) {
    check_descriptor(head, __func__);
    return record_of(leftmost_into(head, out), head);
}
