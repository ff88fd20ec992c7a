// SPDX-License-Identifier: MIT
// tarn/rotations.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// The balance code of a side, the two rotations and the balance tables of
// a double rotation, which insertion and removal share, and the hook that
// hears of every node whose subtree they change. Each mirror-image pair is
// written once, for a side chosen at compile time; the pictures show
// S = left, and S = right is their mirror.
#ifndef TARN_ROTATIONS_HPP
#define TARN_ROTATIONS_HPP

#include <cstdint>
#include <type_traits>

#include "links.hpp"

namespace tarn::detail {

// The rebalancing hook, for trees that keep a summary in each record (a
// subtree size, the largest end below): refresh(n) recomputes n's summary
// from n and its children, and says whether it changed. The changes call it
// on every node whose subtree they changed, children before parents, and
// end the climb to the root at the first node above all they restructured
// whose summary stayed as it was. Above that point a subtree only gained
// the linked node or lost the unlinked one: there gained(n, added) and
// lost(n, removed) update n's summary by that difference, or refresh it,
// and say whether it changed. A size then moves by one without reading a
// child, which on a large tree is a cache miss per level. With active
// false nothing is called, and no code is left of it.
struct no_hook {
    static constexpr bool active = false;
    static bool refresh(tarn_node *) noexcept { return false; }
    static bool gained(tarn_node *, const tarn_node *) noexcept { return false; }
    static bool lost(tarn_node *, const tarn_node *) noexcept { return false; }
};

// The balance code that names side S as the taller one.
constexpr std::uint32_t heavy(side s) noexcept {
    return s == side::left ? TARN_BAL_LH : TARN_BAL_RH;
}

// Lifts n's child on side S into n's place, and refreshes n, which the
// changes' climbs may no longer pass; the lifted node is left to them.
// Balance codes are the caller's.
/*
 *          n                 c
 *         / \               / \
 *        c   C     ==>     A   n
 *       / \                   / \
 *      A   B                 B   C
 */
template <side S, class Hook>
inline void rotate_up(tarn_head &head, tarn_node *n) noexcept {
    tarn_node *lifted = child(n, S);
    tarn_node *inner = child(lifted, other(S));
    child_link(n, S) = inner;
    if (inner) inner->parent = n;
    link_to(head, n) = lifted;
    lifted->parent = n->parent;
    child_link(lifted, other(S)) = n;
    n->parent = lifted;
    if constexpr (Hook::active) Hook::refresh(n);
}

// Balance of the node that a double rotation leaves as g's child on side
// `s`, indexed by g's old balance code: below, c takes A and B, and p
// takes C and D; whichever of B and C was the shorter leaves its new parent
// heavy on the far side.
inline constexpr std::uint32_t double_rotation_balance[2][3] = {
    /* left  */ {TARN_BAL_EQ, TARN_BAL_LH, TARN_BAL_EQ},
    /* right */ {TARN_BAL_EQ, TARN_BAL_EQ, TARN_BAL_RH},
};

// p's child c on side S is heavy on its inner side: lifts c's inner child g
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
template <side S, class Hook>
inline tarn_node *rotate_up_twice(tarn_head &head, tarn_node *p) noexcept {
    tarn_node *c = child(p, S);
    tarn_node *g = child(c, other(S));
    if (g->balance <= TARN_BAL_LH) {
        p->balance = double_rotation_balance[unsigned(other(S))][g->balance];
        c->balance = double_rotation_balance[unsigned(S)][g->balance];
    }
    g->balance = TARN_BAL_EQ;
    rotate_up<other(S), Hook>(head, c);
    rotate_up<S, Hook>(head, p);
    return g;
}

// Calls body(std::integral_constant<side, ...>{}): turns a side known only
// at run time into one of two instantiations.
template <class Body>
inline decltype(auto) on_side(side s, Body &&body) {
    if (s == side::left) return body(std::integral_constant<side, side::left>{});
    return body(std::integral_constant<side, side::right>{});
}

} // namespace tarn::detail

#endif // TARN_ROTATIONS_HPP
