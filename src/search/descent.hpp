// The key descents of the search calls. Each call's documented code table
// is a Steer policy: with this code at this node, stop, or go which way,
// and keep the node as the candidate? One loop, descend, runs any policy
// under any order; floor and ceiling over keys that load as integers have
// a loop of their own that answers the same. The strict searches and the
// range calls build on these.
#pragma once

#include "base/orders.hpp"

namespace tarn::lib {

enum class Move : uint8_t { Stop, Left, Right, LeftKeep, RightKeep };

// Equality: 0 stops; 1 left; everything else right.
struct SteerExact {
    static constexpr Move at(uint32_t r) {
        return r == TARN_CMP_EQUAL ? Move::Stop : r == TARN_CMP_GREATER ? Move::Left : Move::Right;
    }
};

// Floor (d = Left) keeps nodes below the probe; ceiling (d = Right) keeps
// nodes above it, including those with codes outside 0..2.
template <Dir d>
struct SteerBound {
    static constexpr Move at(uint32_t r) {
        if (r == TARN_CMP_LESS) return d == Left ? Move::RightKeep : Move::Right;
        if (r == TARN_CMP_EQUAL) return Move::Stop;
        return d == Left ? Move::Left : Move::LeftKeep;
    }
};

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
        if (m == Move::LeftKeep || m == Move::RightKeep) candidate = n;
        tarn_node *next = m == Move::Left || m == Move::LeftKeep ? n->left : n->right;
        if (!next) return {nullptr, candidate, n, r};
        n = next;
    }
}

// One level of a two-way descent: when lhs < rhs, n becomes the candidate
// and the way on is `kept`, else it is `passed`. The caller gives the mirror
// by the order of lhs and rhs. The way down is a coin toss per level, which
// a branch mispredicts half the time. Clang 14 emits two conditional moves
// for the plain spelling below; GCC 12 turns it into a branch on every other
// level of the two-level loop in bound, so for GCC on x86-64 the moves are
// written out.
template <class Word>
inline tarn_node *keep_if_below(Word lhs, Word rhs, tarn_node *n, tarn_node *&candidate,
                                tarn_node *kept, tarn_node *passed) {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
    if constexpr (sizeof(Word) <= sizeof(uint64_t)) {
        uint64_t a = lhs, b = rhs;
        asm("cmp %[b], %[a]\n\tcmovb %[n], %[candidate]\n\tcmovb %[kept], %[passed]"
            : [candidate] "+r"(candidate), [passed] "+r"(passed)
            : [a] "r"(a), [b] "r"(b), [n] "r"(n), [kept] "r"(kept)
            : "cc");
        return passed;
    }
#endif
#if defined(__clang__)
    bool keep = __builtin_unpredictable(lhs < rhs);
#else
    bool keep = lhs < rhs;
#endif
    candidate = keep ? n : candidate;
    return keep ? kept : passed;
}

// Floor (d = Left) or ceiling (d = Right) of the probe: the descent of
// SteerBound<d>, which ends at the first equal node on its path and
// otherwise returns the last node it kept. Over keys that load as integers
// its three ways are a test for equality, taken once per search at most and
// so predicted well, and a two-way step: by conditional moves for one word,
// by branches for 16-byte keys, which measured faster on large trees
// (bench/results/descents.md). The stop on equality decides the answer
// whenever the tree is not ordered by this descriptor's configuration (a
// replica, or a descriptor re-initialised to another key), so it is never
// left out. A comparator call costs more than a mispredict: it keeps the
// plain loop.
template <Dir d, class Order>
inline tarn_node *bound(tarn_node *n, uintptr_t delta, const Order &order) {
    tarn_node *candidate = nullptr;
    if constexpr (kOneWordKeys<Order>) {
        auto level = [&](tarn_node *at) -> tarn_node * {
            auto key = Order::load(key_at(at, delta));
            if (key == order.probe) return candidate = at, nullptr;
            if constexpr (d == Left) // floor: keep a key below the probe
                return keep_if_below(key, order.probe, at, candidate, at->right, at->left);
            else // ceiling: keep a key above it
                return keep_if_below(order.probe, key, at, candidate, at->left, at->right);
        };
        while ((n = level(n)) && (n = level(n))) { // two levels a turn: no register copy
        }
    } else if constexpr (kWordKeys<Order>) {
        do {
            auto key = Order::load(key_at(n, delta));
            if (key == order.probe) return n;
            bool keep = d == Left ? key < order.probe : key > order.probe;
            candidate = keep ? n : candidate;
            n = child(n, keep ? other(d) : d);
        } while (n);
    } else {
        Descent s = descend<SteerBound<d>>(n, delta, order);
        return s.hit ? s.hit : s.candidate;
    }
    return candidate;
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
