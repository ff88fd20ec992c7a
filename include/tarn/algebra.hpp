// SPDX-License-Identifier: MIT
// tarn/algebra.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// Trees joined and split, and the set operations built on them. They work
// on trees apart from any descriptor: a top node, whose parent is NULL, and
// its height. AVL trees keep no heights: a path's are derived from its
// balance codes, a child being one level lower on the taller side (or
// either side when even) and two on the shorter.
#ifndef TARN_ALGEBRA_HPP
#define TARN_ALGEBRA_HPP

#include "removal.hpp"

namespace tarn::detail {

struct subtree {
    tarn_node *top;
    int height;
};

// The height of the tree below n, down the taller side: O(height).
inline int height_of(const tarn_node *n) noexcept {
    int h = 0;
    for (; n; h++) n = n->balance == TARN_BAL_RH ? n->right : n->left;
    return h;
}

// The height of n's child on side s, n's own being h.
inline int child_height(const tarn_node *n, side s, int h) noexcept {
    return n->balance == heavy(other(s)) ? h - 2 : h - 1;
}

// k between a tree of smaller keys on side other(S) and `low`, a shorter
// tree on side S by two levels or more: k goes down the taller tree's S
// spine to the first node c no more than one level taller than `low`,
// takes c's place with c and `low` below it, and the climb retraces as
// after an insertion: k is balanced only where c was the shorter child of
// a node heavy the other way, which the growth balances.
/*
 *        tall                   tall
 *        /  \                   /  \
 *       .    p        ==>      .    p
 *           / \                    / \
 *          .   c                  .   k
 *                                    / \
 *                                   c   low
 */
template <side S, class Hook>
inline subtree join_down(subtree tall, tarn_node *k, subtree low) noexcept {
    tarn_node *parent = nullptr, *c = tall.top;
    int h = tall.height;
    while (h > low.height + 1) h = child_height(c, S, h), parent = c, c = child(c, S);
    child_link(parent, S) = k, k->parent = parent;
    child_link(k, other(S)) = c, child_link(k, S) = low.top;
    if (c) c->parent = k;
    if (low.top) low.top->parent = k;
    k->in_tree = 1;
    k->balance = h > low.height ? heavy(other(S)) : TARN_BAL_EQ;
    tarn_head local{};
    local.root = tall.top;
    const bool grew = !retrace_after_growth<Hook>(local, k).top;
    if constexpr (Hook::active) refresh_upwards<Hook>(k, nullptr);
    return {local.root, tall.height + grew};
}

// The tree of `left`, k and `right`, whose keys ascend in that order; k's
// links are overwritten. O(|height difference| + 1).
template <class Hook>
inline subtree join(subtree left, tarn_node *k, subtree right) noexcept {
    if (left.height > right.height + 1) return join_down<side::right, Hook>(left, k, right);
    if (right.height > left.height + 1) return join_down<side::left, Hook>(right, k, left);
    k->left = left.top, k->right = right.top, k->parent = nullptr, k->in_tree = 1;
    k->balance = left.height > right.height   ? TARN_BAL_LH
                 : right.height > left.height ? TARN_BAL_RH
                                              : TARN_BAL_EQ;
    if (left.top) left.top->parent = k;
    if (right.top) right.top->parent = k;
    if constexpr (Hook::active) Hook::refresh(k);
    return {k, (left.height > right.height ? left.height : right.height) + 1};
}

// The tree of `left` then `right`, with no node between: the smallest of
// `right` is taken out to stand between them.
template <class Hook>
inline subtree join(subtree left, subtree right) noexcept {
    if (!left.top) return right;
    if (!right.top) return left;
    tarn_head local{};
    local.root = right.top, local.count = 1;
    tarn_node *k = outermost<side::left>(right.top);
    unlink<Hook>(local, k);
    return join<Hook>(left, k, {local.root, height_of(local.root)});
}

// A tree cut at a key: the nodes below it, the node equal to it (taken out,
// its links left to the caller), the nodes above it.
struct cut {
    subtree below;
    tarn_node *equal;
    subtree above;
};

// Cuts t by the key order is bound to, steering by find_row: down the
// path, then back up it joining what hangs off each side. The joins'
// costs add up to O(height).
template <class Hook, class Order>
inline cut split(subtree t, std::uintptr_t delta, const Order &order) noexcept {
    struct step {
        tarn_node *node;
        int height;
        bool went_right;
    } path[128];
    int depth = 0, h = t.height;
    tarn_node *n = t.top, *equal = nullptr;
    while (n) {
        const std::uint32_t code = order(key_at(n, delta));
        if (code == TARN_CMP_EQUAL) {
            equal = n;
            break;
        }
        const side way = code == TARN_CMP_GREATER ? side::left : side::right;
        path[depth++] = {n, h, way == side::right};
        h = child_height(n, way, h);
        n = child(n, way);
    }
    subtree below{nullptr, 0}, above{nullptr, 0};
    auto apart = [](tarn_node *top, int height) {
        if (top) top->parent = nullptr;
        return subtree{top, height};
    };
    if (equal) {
        below = apart(equal->left, child_height(equal, side::left, h));
        above = apart(equal->right, child_height(equal, side::right, h));
    }
    while (depth--) {
        const step s = path[depth];
        if (s.went_right)
            below = join<Hook>(apart(s.node->left, child_height(s.node, side::left, s.height)),
                               s.node, below);
        else
            above = join<Hook>(above, s.node,
                               apart(s.node->right, child_height(s.node, side::right, s.height)));
    }
    return {below, equal, above};
}

// Unlinks every node of the tree at n, handing each to done(node) once
// unlinked: post-order without a stack, each leaf cut off its parent and
// the walk carried on from the parent. No rebalancing, no comparison.
template <class Done>
inline void drop(tarn_node *n, Done done) {
    while (n) {
        if (n->left) {
            n = n->left;
        } else if (n->right) {
            n = n->right;
        } else {
            tarn_node *parent = n->parent;
            if (parent) child_link(parent, parent->left == n ? side::left : side::right) = nullptr;
            n->in_tree = 0, n->parent = nullptr;
            done(n);
            n = parent;
        }
    }
}

// The set operations, on a tree `a` (the one changed) and a tree `b`:
// merge keeps every node of a and takes b's nodes whose key a lacks;
// intersect keeps a's nodes whose key b holds; subtract keeps a's nodes
// whose key b lacks. a's nodes not kept are unlinked; b keeps the nodes
// not taken. Each cuts b at a's top key and works on both sides, then
// joins: O(m log(n/m + 1)) for trees of m and n nodes, m <= n.
enum class set_op { merge, intersect, subtract };
struct combined {
    subtree kept, rest;  // what a and b hold after
    std::size_t matched; // keys found in both
};
template <set_op Op, class Hook, class OrderOf>
inline combined combine(subtree a, subtree b, std::uintptr_t delta,
                        const OrderOf &order_of) noexcept {
    if (!a.top) return Op == set_op::merge ? combined{b, {nullptr, 0}, 0} : combined{a, b, 0};
    if (!b.top) {
        if (Op == set_op::intersect) drop(a.top, [](tarn_node *) {}), a = {nullptr, 0};
        return {a, b, 0};
    }
    tarn_node *k = a.top;
    const subtree left{k->left, child_height(k, side::left, a.height)},
        right{k->right, child_height(k, side::right, a.height)};
    if (left.top) left.top->parent = nullptr;
    if (right.top) right.top->parent = nullptr;
    const cut c = split<Hook>(b, delta, order_of(key_at(k, delta)));
    const combined below = combine<Op, Hook>(left, c.below, delta, order_of);
    const combined above = combine<Op, Hook>(right, c.above, delta, order_of);
    const bool keep = Op == set_op::merge || (Op == set_op::intersect) == (c.equal != nullptr);
    combined out{{nullptr, 0}, {nullptr, 0}, below.matched + above.matched + (c.equal != nullptr)};
    if (keep) {
        out.kept = join<Hook>(below.kept, k, above.kept);
    } else {
        k->left = k->right = k->parent = nullptr, k->in_tree = 0;
        out.kept = join<Hook>(below.kept, above.kept);
    }
    out.rest =
        c.equal ? join<Hook>(below.rest, c.equal, above.rest) : join<Hook>(below.rest, above.rest);
    return out;
}

} // namespace tarn::detail

#endif // TARN_ALGEBRA_HPP
