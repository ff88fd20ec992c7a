// tarn/steps.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// Directions, and the in-order steps through links alone: the successor
// that tarn_get_next_node takes from a holding cursor, and its mirror. Each
// mirror-image pair is written once, for a direction chosen at compile time.
#ifndef TARN_STEPS_HPP
#define TARN_STEPS_HPP

#include "../tarn.h"

namespace tarn::detail {

enum Dir : unsigned { Left = 0, Right = 1 };

constexpr Dir other(Dir d) noexcept { return Dir(d ^ 1u); }

inline tarn_node *&child(tarn_node *n, Dir d) noexcept { return d == Left ? n->left : n->right; }

template <Dir d>
inline tarn_node *outermost(tarn_node *n) noexcept {
    while (tarn_node *c = child(n, d)) n = c;
    return n;
}

// Successor (d = Right) or predecessor (d = Left) of n. The climb tests only
// the parent's left link, in both directions.
template <Dir d>
inline tarn_node *step(tarn_node *n) noexcept {
    if (tarn_node *c = child(n, d)) {
        // Every node passed on the way down is the answer of a later step,
        // and the step after that one enters its child on side d: start
        // loading those children now. A scan of a tree larger than the
        // caches then waits for memory about half as often.
        for (;;) {
            tarn_node *later = child(c, d);
            __builtin_prefetch(later ? later : c); // not NULL: that costs a page walk
            tarn_node *next = child(c, other(d));
            if (!next) return c;
            c = next;
        }
    }
    for (tarn_node *m = n, *p = n->parent; p; m = p, p = p->parent)
        if ((p->left == m) == (d == Right)) return p;
    return nullptr;
}

} // namespace tarn::detail

#endif // TARN_STEPS_HPP
