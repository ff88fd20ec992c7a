// SPDX-License-Identifier: MIT
// tarn/links.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// Sides, a node's links, where its key lies, and the in-order steps through
// links alone. Each mirror-image pair is written once, for a side chosen at
// compile time.
#ifndef TARN_LINKS_HPP
#define TARN_LINKS_HPP

#include <cstdint>

#include "../tarn.h"

namespace tarn::detail {

enum class side : unsigned { left = 0, right = 1 };

constexpr side other(side s) noexcept { return side(unsigned(s) ^ 1u); }

// n's child on side s. Read as a value, so that a choice between the two
// compiles to a conditional move; child_link gives the link, to change it.
inline tarn_node *child(const tarn_node *n, side s) noexcept {
    return s == side::left ? n->left : n->right;
}

inline tarn_node *&child_link(tarn_node *n, side s) noexcept {
    return s == side::left ? n->left : n->right;
}

// n's side under its parent; the root counts as a right child.
inline side side_of(const tarn_node *n) noexcept {
    return n->parent && n->parent->left == n ? side::left : side::right;
}

// The link that points at n: its parent's child link, or the root word.
inline tarn_node *&link_to(tarn_head &head, tarn_node *n) noexcept {
    tarn_node *p = n->parent;
    if (!p) return head.root;
    return p->left == n ? p->left : p->right;
}

// Where a node's key lies: delta bytes on from the node, in plain unsigned
// arithmetic, so the key may sit before or after it.
inline const void *key_at(const tarn_node *n, std::uintptr_t delta) noexcept {
    return reinterpret_cast<const void *>(reinterpret_cast<std::uintptr_t>(n) + delta);
}

template <side S>
inline tarn_node *outermost(tarn_node *n) noexcept {
    while (tarn_node *c = child(n, S)) n = c;
    return n;
}

// Successor (S = right) or predecessor (S = left) of n. The climb tests
// only the parent's left link, in both directions. Prefetch serves scans;
// a lone step (a neighbour to compare with) is better without.
template <side S, bool Prefetch = true>
inline tarn_node *step(tarn_node *n) noexcept {
    if (tarn_node *c = child(n, S)) {
        // Every node passed on the way down is the answer of a later step,
        // and the step after that one enters its child on side S: start
        // loading those children now. A scan of a tree larger than the
        // caches then waits for memory about half as often.
        for (;;) {
            if constexpr (Prefetch) {
                tarn_node *later = child(c, S);
                __builtin_prefetch(later ? later : c); // not NULL: that costs a page walk
            }
            tarn_node *next = child(c, other(S));
            if (!next) return c;
            c = next;
        }
    }
    for (tarn_node *m = n, *p = n->parent; p; m = p, p = p->parent)
        if ((p->left == m) == (S == side::right)) return p;
    return nullptr;
}

} // namespace tarn::detail

#endif // TARN_LINKS_HPP
