// SPDX-License-Identifier: MIT
// Insertion: the core's insert (tarn/rebalance.hpp) behind the checks, with
// the node zeroed first, also when it is then refused.
#include <cstring>

#include "base/checked.hpp"

using namespace tarn::lib;

namespace {

// One function per comparison, entered by a jump, so that byte-wise
// insertions do not save the registers a comparator's calls need.
template <class Order>
[[gnu::noinline]] int32_t insert_by(tarn_head *head, tarn_node *node, Order order) {
    return insert_below_root(*head, node, key_delta(head), order) == nullptr;
}

} // namespace

TARN_EXPORT int32_t tarn_insert(tarn_head *head, tarn_node *node) {
    if (!head || !node) return 0;
    check_changeable(head, __func__);
    check_unlinked(node, __func__);
    std::memset(node, 0, sizeof *node);
    if (!head->root) return link_at(*head, node, nullptr, side::left), 1;
    const void *key = key_at(node, key_delta(head));
    return with_key_order(*head,
                          [&](auto order_for) { return insert_by(head, node, order_for(key)); });
}
