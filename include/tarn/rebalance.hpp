// SPDX-License-Identifier: MIT
// tarn/rebalance.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// Linking a node where a descent found its free link, with the retrace
// that restores the balance, and the climb that keeps summaries: tarn_insert
// is this behind its checks; tarn.hpp calls it directly. Hook
// (tarn/rotations.hpp) hears of every node whose subtree it changes;
// tarn/removal.hpp unlinks.
#ifndef TARN_REBALANCE_HPP
#define TARN_REBALANCE_HPP

#include <cstdlib>

#include "descent.hpp"
#include "rotations.hpp"

namespace tarn::detail {

// Refreshes low and its ancestors, children before parents: every node up
// to `through` (the highest node a change restructured, NULL for the root),
// then on until a node's summary stays as it was. A node above `through`
// held the summary of its subtree before the change, so one that stays
// leaves its ancestors right; at or below `through` a summary may be stale
// (a node linked anew keeps whatever its record held), so none ends the
// climb there. Above `through`, each subtree differs from before by what
// the change added or took away, so `adjust` may update a summary by that
// difference (Hook::gained, Hook::lost) instead of reading both children.
template <class Hook, class Adjust>
inline void refresh_upwards(tarn_node *low, const tarn_node *through, Adjust adjust) noexcept {
    tarn_node *n = low;
    for (bool passed = false; n && !passed; n = n->parent) {
        Hook::refresh(n);
        passed = n == through;
    }
    while (n && adjust(n)) n = n->parent;
}
template <class Hook>
inline void refresh_upwards(tarn_node *low, const tarn_node *through) noexcept {
    refresh_upwards<Hook>(low, through, [](tarn_node *n) { return Hook::refresh(n); });
}

// p's subtree on side S grew by one level and p was already heavy there:
// its child c on side S is heavy on side S (rotate p, both end balanced) or
// on the inner side (lift c's inner child). At most once per insertion, so
// out of line: the retrace loop stays small.
template <side S, class Hook>
[[gnu::noinline]] void fix_heavy_side(tarn_head &head, tarn_node *p) noexcept {
    tarn_node *c = child(p, S);
    if (c->balance == TARN_BAL_EQ) return; // impossible in a sound tree
    if (c->balance == heavy(S)) {
        rotate_up<S, Hook>(head, p);
        p->balance = c->balance = TARN_BAL_EQ;
        return;
    }
    rotate_up_twice<S, Hook>(head, p);
    // The integrity check: in a sound tree p keeps a child whenever it is
    // left unbalanced, so a leaf marked otherwise means links or codes were
    // damaged from outside. The documented insertion makes it after the
    // right side's double rotation only; a check on the mirror side would
    // abort where that insertion goes on.
    if constexpr (S == side::right)
        if (!p->left && !p->right && p->balance != TARN_BAL_EQ) std::abort();
}

// Where a climb after growth stopped: the top of the subtree (NULL when the
// whole tree grew), and how many rotations lifted that top into place.
struct growth_end {
    tarn_node *top;
    int rotations;
};

// node's subtree grew by one level (a node linked as a leaf, or a tree
// joined in): climbs while subtrees grow, with at most one single or double
// rotation. The side that grew is named by its balance code, computed
// rather than branched on: it is a coin toss per level.
template <class Hook>
inline growth_end retrace_after_growth(tarn_head &head, tarn_node *node) noexcept {
    for (tarn_node *c = node, *p = node->parent; p; c = p, p = p->parent) {
        std::uint32_t grown = p->right == c ? TARN_BAL_RH : TARN_BAL_LH;
        if (p->balance == TARN_BAL_EQ) {
            p->balance = grown;
            continue;
        }
        if (p->balance != grown) return p->balance = TARN_BAL_EQ, growth_end{p, 0};
        on_side(side(grown == TARN_BAL_RH),
                [&](auto d) { fix_heavy_side<decltype(d)::value, Hook>(head, p); });
        // The node lifted over p: c after a single rotation. Nothing is
        // computed of the count where no hook reads it.
        return {p->parent, p->parent == c ? 1 : 2};
    }
    return {nullptr, 0};
}

// The climb after linking node, whose own summary was refreshed before the
// retrace. Every ancestor of node then holds its subtree's summary but for
// node, and takes it by Hook::gained, reading no other child, except where
// a rotation changed a node's children: the top it lifted, and after a
// double rotation the top's child on node's side, which the rotation
// refreshed from a child that may or may not have held node (it holds it
// when it is node). Those two are refreshed from their children, which are
// in cache. Below the top a rearranged subtree lies ahead, so none there
// ends the climb.
template <class Hook>
inline void refresh_after_link(tarn_node *node, growth_end end) noexcept {
    tarn_node *n = node;
    if (n != end.top) { // a double rotation may lift node itself
        for (n = n->parent; n != end.top; n = n->parent)
            if (end.rotations == 2 && n->parent == end.top)
                Hook::refresh(n);
            else
                Hook::gained(n, node);
        if (!n) return;
    }
    if (end.rotations)
        Hook::refresh(n);
    else
        Hook::gained(n, node);
    while ((n = n->parent) && Hook::gained(n, node)) continue;
}

// Links node, whose five fields are zero, as parent's child on side s (the
// free link a descent ended at; no parent: the root of an empty tree),
// then retraces.
template <class Hook = no_hook>
inline void link_at(tarn_head &head, tarn_node *node, tarn_node *parent, side s) noexcept {
    node->in_tree = 1;
    head.count++;
    if constexpr (Hook::active) Hook::refresh(node);
    if (!parent) {
        head.root = node;
        return;
    }
    child_link(parent, s) = node;
    node->parent = parent;
    const growth_end end = retrace_after_growth<Hook>(head, node);
    if constexpr (Hook::active) refresh_after_link<Hook>(node, end);
    static_cast<void>(end);
}

// Where insertion's descent under order ends in head's tree (not empty),
// by with_way's way: the node whose key blocks a new one with that key, or
// the free link the new node takes.
struct insertion_point {
    tarn_node *blocked, *parent;
    side at;
};
template <class Order>
inline insertion_point find_insertion_point(const tarn_head &head, std::uintptr_t delta,
                                            const Order &order) noexcept {
    insertion_point point;
    with_way<insert_row, Order>(true, head.count, [&](auto way) {
        descent d = descend<decltype(way), 1>(head.root, delta, order);
        point = {d.stop, d.end, d.free};
    });
    return point;
}

// Links node, whose five fields are zero and whose key is in place, where
// insertion's descent under order ends in head's tree (not empty). head is a
// primary, whose own root and count change. Gives NULL, or the node whose
// key blocks the new one, leaving the tree as it was.
template <class Hook = no_hook, class Order>
inline tarn_node *insert_below_root(tarn_head &head, tarn_node *node, std::uintptr_t delta,
                                    const Order &order) noexcept {
    const insertion_point point = find_insertion_point(head, delta, order);
    if (point.blocked) return point.blocked;
    link_at<Hook>(head, node, point.parent, point.at);
    return nullptr;
}

// As insert_below_root, in a tree that may be empty.
template <class Hook = no_hook, class Order>
inline tarn_node *insert(tarn_head &head, tarn_node *node, std::uintptr_t delta,
                         const Order &order) noexcept {
    if (!head.root) return link_at<Hook>(head, node, nullptr, side::left), nullptr;
    return insert_below_root<Hook>(head, node, delta, order);
}

} // namespace tarn::detail

#endif // TARN_REBALANCE_HPP
