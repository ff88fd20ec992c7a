// Insertion: descend to a free link, then retrace until a subtree stops
// growing, with at most one single or double rotation.
#include <cstdlib>
#include <cstring>

#include "base/checked.hpp"
#include "base/orders.hpp"
#include "core/rebalance.hpp"

using namespace tarn::lib;

namespace {

// p's subtree on side d grew by one level and p was already heavy there:
// its child c on side d is heavy on side d (rotate p, both end balanced) or
// on the inner side (lift c's inner child). At most once per insertion, so
// out of line: the retrace loop stays small.
template <Dir d>
[[gnu::noinline]] void fix_heavy_side(tarn_head *head, tarn_node *p) {
    tarn_node *c = child(p, d);
    if (c->balance == TARN_BAL_EQ) return; // impossible in a sound tree
    if (c->balance == heavy(d)) {
        rotate_up<d>(head, p);
        p->balance = c->balance = TARN_BAL_EQ;
        return;
    }
    rotate_up_twice<d>(head, p);
    // The integrity check: in a sound tree p keeps a child whenever it is
    // left unbalanced, so a leaf marked otherwise means links or codes were
    // damaged from outside. The documented insertion makes it after the
    // right side's double rotation only; a check on the mirror side would
    // abort where that insertion goes on.
    if constexpr (d == Right)
        if (!p->left && !p->right && p->balance != TARN_BAL_EQ) std::abort();
}

// Where the new node belongs: the parent of a free link and the link's
// side, or no parent when a linked node compares equal.
struct Slot {
    tarn_node *parent;
    Dir side;
};

// The documented descent: an equal node refuses the new one at once, a
// node above it sends the descent left, any other code right.
template <class Order>
Slot free_slot(tarn_node *n, uintptr_t delta, const Order &order) {
    for (;;) {
        bool left;
        if constexpr (kWordKeys<Order>) {
            auto key = Order::load(key_at(n, delta));
            if (key == order.probe) return {nullptr, Left};
            left = key > order.probe;
        } else {
            uint32_t r = order(key_at(n, delta));
            if (r == TARN_CMP_EQUAL) return {nullptr, Left};
            left = r == TARN_CMP_GREATER;
        }
        tarn_node *next = left ? n->left : n->right;
        if (!next) return {n, left ? Left : Right};
        n = next;
    }
}

// Over one-word keys, two ways with no test on the way: left at a key not
// below the new one, right otherwise, noting any key equal to it. At
// every node not equal to the new key this is the documented descent's
// step, so the two paths agree up to the first equal node, where the
// documented descent refuses: the new node is refused exactly when the
// two-way path met an equal key, and otherwise both end at the same link.
// Faster than the documented loop in a tree that fits in the caches,
// slower in one that does not (bench/results/descents.md).
// The last node kept (one not below the new key) tells the free link's side:
// the path went left from it, and from no node after it.
template <class Word>
Slot free_slot_two_ways(tarn_node *n, uintptr_t delta, const WordOrder<Word> &order) {
    tarn_node *parent, *kept = nullptr;
    bool met_equal = false;
    do {
        bool equal;
        parent = n;
        n = two_way_level<Right>(n, WordOrder<Word>::load(key_at(n, delta)), order.probe, kept,
                                 equal);
        met_equal |= equal;
    } while (n);
    if (met_equal) return {nullptr, Left};
    return {parent, kept == parent ? Left : Right};
}

// One function per comparison, entered by a jump, so that byte-wise
// insertions do not save the registers a comparator's calls need.
template <class Order>
[[gnu::noinline]] int32_t link_and_rebalance(tarn_head *head, tarn_node *node, Order order) {
    Slot slot;
    if constexpr (kOneWordKeys<Order>)
        slot = head->count <= kTreeInCache ? free_slot_two_ways(head->root, key_delta(head), order)
                                           : free_slot(head->root, key_delta(head), order);
    else
        slot = free_slot(head->root, key_delta(head), order);
    tarn_node *p = slot.parent;
    if (!p) return 0;
    child(p, slot.side) = node;
    node->parent = p;
    node->in_tree = 1;
    // Climb while subtrees grow. The side that grew is named by its balance
    // code, computed rather than branched on: it is a coin toss per level.
    for (tarn_node *c = node; p; c = p, p = p->parent) {
        uint32_t grown = p->right == c ? TARN_BAL_RH : TARN_BAL_LH;
        if (p->balance == TARN_BAL_EQ) {
            p->balance = grown;
            continue;
        }
        if (p->balance == grown)
            on_side(Dir(grown == TARN_BAL_RH), [&]<Dir d>() { fix_heavy_side<d>(head, p); });
        else
            p->balance = TARN_BAL_EQ;
        break;
    }
    head->count++;
    return 1;
}

} // namespace

TARN_EXPORT int32_t tarn_insert(tarn_head *head, tarn_node *node) {
    if (!head || !node) return 0;
    check_changeable(head, __func__);
    check_unlinked(node, __func__);
    std::memset(node, 0, sizeof *node);
    if (!head->root) {
        head->root = node;
        node->in_tree = 1;
        head->count++;
        return 1;
    }
    const void *key = key_at(node, key_delta(head));
    return with_key_order(
        head, [&](auto order_for) { return link_and_rebalance(head, node, order_for(key)); });
}
