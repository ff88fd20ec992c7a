// The key descents of the search calls. Each call's documented code table
// is a Steer policy: with this code at this node, stop, or go which way,
// and keep the node as the candidate? The lookups' tables and the loop that
// answers them (descend_to_answer) are shared with tarn.hpp, in
// tarn/descent.hpp. Here: the probe's table, and descend, which also tells
// where a descent ended, for the strict searches and the range calls.
#pragma once

#include "base/orders.hpp"

namespace tarn::lib {

// Probe finding: 1 left, 2 right, every other code stops.
struct SteerProbe {
    static constexpr Move at(uint32_t r) {
        return r == TARN_CMP_GREATER ? Move::Left : r == TARN_CMP_LESS ? Move::Right : Move::Stop;
    }
};

struct Descent {
    tarn_node *hit;       // node where the policy stopped, else NULL
    tarn_node *candidate; // last node kept on the way
    tarn_node *end;       // last node asked
    uint32_t code;        // its answer
};

template <class Steer, class Order>
inline Descent descend(tarn_node *n, uintptr_t delta, const Order &order) {
    tarn_node *candidate = nullptr;
    for (;;) {
        uint32_t r = order(key_at(n, delta));
        Move m = Steer::at(r);
        if (m == Move::Stop) return {n, candidate, n, r};
        tarn_node *next = follow(m, n, candidate);
        if (!next) return {nullptr, candidate, n, r};
        n = next;
    }
}

// A search that ends without a hit asks its end node once more, and the
// second answer decides: a comparator that answers the same way twice
// cannot tell, one that does not gets the documented answer.
template <class Order>
inline uint32_t ask_end_node_again(const Descent &s, uintptr_t delta, const Order &order) {
    return order(key_at(s.end, delta));
}

// Nearest node strictly after (d = Right) or before (d = Left) the probe:
// an equal node gives its neighbour; otherwise the end node answers itself
// when it lies on the far side, else its neighbour does.
template <Dir d, class Order>
inline tarn_node *strictly_beyond(tarn_node *root, uintptr_t delta, const Order &order) {
    Descent s = descend<SteerExact>(root, delta, order);
    if (s.hit) return step<d>(s.hit);
    constexpr uint32_t far_side = d == Right ? TARN_CMP_GREATER : TARN_CMP_LESS;
    uint32_t r = ask_end_node_again(s, delta, order);
    if (r == TARN_CMP_EQUAL || r == far_side) return s.end;
    return step<d>(s.end);
}

} // namespace tarn::lib
