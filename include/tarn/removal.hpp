// SPDX-License-Identifier: MIT
// tarn/removal.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// Unlinking a node, with the successor splice and the retrace that restores
// the balance: tarn_delete is this behind its checks; tarn.hpp calls it
// directly. Hook (tarn/rotations.hpp) hears of every node whose subtree it
// changes.
#ifndef TARN_REMOVAL_HPP
#define TARN_REMOVAL_HPP

#include "rebalance.hpp"

namespace tarn::detail {

// p's subtree on side S lost a level while p was heavy on the far side, so
// p's child x there is lifted (rotate_up; both end balanced when x was
// heavy on the far side too, and the subtree keeps its height when x was
// balanced) or x's inner child is (rotate_up_twice). Gives the subtree's new
// top when the subtree lost a level too, else NULL.
template <side S, class Hook>
inline tarn_node *rotate_after_shrink(tarn_head &head, tarn_node *p) noexcept {
    constexpr side far = other(S);
    tarn_node *x = child(p, far);
    if (x->balance == heavy(far)) {
        rotate_up<far, Hook>(head, p);
        p->balance = x->balance = TARN_BAL_EQ;
        return x;
    }
    if (x->balance == TARN_BAL_EQ) {
        rotate_up<far, Hook>(head, p);
        x->balance = heavy(S);
        return nullptr;
    }
    return rotate_up_twice<far, Hook>(head, p);
}

// Climbs from p, whose side s lost a level, while subtrees shrink; gives
// the top of the subtree where it stopped, or NULL at the root. The far
// side's balance code is computed rather than branched on, since which
// side shrank is a coin toss per level; only a rotation picks a
// mirror-image instantiation. The parent and the side are read only when
// the climb goes on, from the subtree's top: a rotation puts that top where
// p was, under p's old parent on p's old side, so they are the ones the
// climb would have recorded before it. On a large tree each is a cache miss.
template <class Hook>
inline tarn_node *retrace_after_shrink(tarn_head &head, tarn_node *p, side s) noexcept {
    while (p) {
        std::uint32_t far_heavy = s == side::left ? TARN_BAL_RH : TARN_BAL_LH;
        if (p->balance == TARN_BAL_EQ) {
            p->balance = far_heavy;
            return p;
        }
        tarn_node *top = p;          // of the subtree that lost a level
        if (p->balance != far_heavy) // the shrunk side was the taller one
            p->balance = TARN_BAL_EQ;
        else if (!(top = on_side(s, [&](auto d) {
                       return rotate_after_shrink<decltype(d)::value, Hook>(head, p);
                   })))
            return p->parent; // the node lifted over p, its height kept
        s = side_of(top);
        p = top->parent;
    }
    return nullptr;
}

// The higher of two nodes on one path to the root.
inline tarn_node *higher_of(tarn_node *a, tarn_node *b) noexcept {
    for (tarn_node *n = a; n; n = n->parent)
        if (n == b) return b;
    return a;
}

// Unlinks node, which is linked in head's tree: splices out node itself,
// or with two children its in-order successor, retraces while subtrees
// shrink, then lets the successor take node's place. node is left with
// in_tree 0 and NULL links; its balance keeps what the retrace left on it.
template <class Hook = no_hook>
inline void unlink(tarn_head &head, tarn_node *node) noexcept {
    tarn_node *spliced = node->left && node->right ? outermost<side::left>(node->right) : node;
    side s = side_of(spliced);
    tarn_node *p = spliced->parent;
    tarn_node *orphan = spliced->right ? spliced->right : spliced->left;
    link_to(head, spliced) = orphan;
    if (orphan) orphan->parent = p;
    tarn_node *top = retrace_after_shrink<Hook>(head, p, s);
    if (spliced != node) { // the retrace may have moved node: use its links as they stand
        link_to(head, node) = spliced;
        spliced->parent = node->parent;
        spliced->right = node->right;
        spliced->left = node->left;
        if (spliced->right) spliced->right->parent = spliced;
        if (spliced->left) spliced->left->parent = spliced;
        spliced->balance = node->balance;
    }
    head.count--;
    node->in_tree = 0;
    node->right = node->left = node->parent = nullptr;
    if constexpr (Hook::active) {
        // The successor now holds other records below it than before: the
        // climb passes it, from where the splice took a node away.
        // Above both, a subtree lost node and nothing else.
        const auto lost = [node](tarn_node *n) { return Hook::lost(n, node); };
        if (spliced == node) return refresh_upwards<Hook>(p, top, lost);
        if (top == node) top = spliced;
        refresh_upwards<Hook>(p == node ? spliced : p, top ? higher_of(top, spliced) : nullptr,
                              lost);
    }
}

} // namespace tarn::detail

#endif // TARN_REMOVAL_HPP
