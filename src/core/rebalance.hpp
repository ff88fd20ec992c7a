// Rebalancing, which insertion and removal share: the balance code of a
// side, the two rotations and the balance tables of a double rotation. Each
// mirror-image pair is written once, for a side d chosen at compile time;
// the pictures show d = Left, and d = Right is their mirror.
#pragma once

#include "base/tree.hpp"

namespace tarn::lib {

// The balance code that names side d as the taller one.
constexpr uint32_t heavy(Dir d) { return d == Left ? TARN_BAL_LH : TARN_BAL_RH; }

// The link that points at n: its parent's child link, or the root word.
inline tarn_node *&link_to(tarn_head *head, tarn_node *n) {
    tarn_node *p = n->parent;
    if (!p) return head->root;
    return p->left == n ? p->left : p->right;
}

// Lifts n's child on side d into n's place. Balance codes are the caller's.
/*
 *          n                 c
 *         / \               / \
 *        c   C     ==>     A   n
 *       / \                   / \
 *      A   B                 B   C
 */
template <Dir d>
inline void rotate_up(tarn_head *head, tarn_node *n) {
    tarn_node *lifted = child(n, d);
    tarn_node *inner = child(lifted, other(d));
    child(n, d) = inner;
    if (inner) inner->parent = n;
    link_to(head, n) = lifted;
    lifted->parent = n->parent;
    child(lifted, other(d)) = n;
    n->parent = lifted;
}

// Balance of the node that a double rotation leaves as g's child on side
// `side`, indexed by g's old balance code: below, c takes A and B, and p
// takes C and D; whichever of B and C was the shorter leaves its new parent
// heavy on the far side.
inline constexpr uint32_t kDoubleRotationBalance[2][3] = {
    /* Left  */ {TARN_BAL_EQ, TARN_BAL_LH, TARN_BAL_EQ},
    /* Right */ {TARN_BAL_EQ, TARN_BAL_EQ, TARN_BAL_RH},
};

// p's child c on side d is heavy on its inner side: lifts c's inner child g
// above both, and sets the three balance codes. A code of g outside 0..2
// leaves p's and c's as they were. Returns g, the subtree's new top.
/*
 *            p                    g
 *           / \                 /   \
 *          c   D               c     p
 *         / \       ==>       / \   / \
 *        A   g               A   B C   D
 *           / \
 *          B   C
 */
template <Dir d>
inline tarn_node *rotate_up_twice(tarn_head *head, tarn_node *p) {
    tarn_node *c = child(p, d);
    tarn_node *g = child(c, other(d));
    if (g->balance <= TARN_BAL_LH) {
        p->balance = kDoubleRotationBalance[other(d)][g->balance];
        c->balance = kDoubleRotationBalance[d][g->balance];
    }
    g->balance = TARN_BAL_EQ;
    rotate_up<other(d)>(head, c);
    rotate_up<d>(head, p);
    return g;
}

// Calls body.template operator()<Left or Right>(): turns a side known only
// at run time into one of two instantiations.
template <class Body>
inline decltype(auto) on_side(Dir d, Body &&body) {
    return d == Left ? body.template operator()<Left>() : body.template operator()<Right>();
}

} // namespace tarn::lib
