// tarn/descent.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// The key lookups' code tables and one level of their descent. The
// library's lookups, floor and ceiling searches loop over the level down
// one path; tarn.hpp's batched lookups interleave it over many paths at
// once, so both answer by the same lines. Floor and ceiling over one-word
// keys in a primary descriptor's tree take a two-way loop of their own,
// which answers the same there (bound_in_own_order).
#ifndef TARN_DESCENT_HPP
#define TARN_DESCENT_HPP

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "bytewise.hpp"
#include "steps.hpp"

namespace tarn::detail {

// Where a node's key lies: delta bytes on from the node, in plain unsigned
// arithmetic, so the key may sit before or after it.
inline const void *key_at(const tarn_node *n, std::uintptr_t delta) noexcept {
    return reinterpret_cast<const void *>(reinterpret_cast<std::uintptr_t>(n) + delta);
}

// Up to this many nodes, records of a few dozen bytes fit in the caches of
// the machines measured (bench/results/): descents do not wait for memory,
// and the ways that save instructions win over those that overlap waits.
constexpr std::uint64_t kTreeInCache = 16384;

enum class Move : std::uint8_t { Stop, Left, Right, LeftKeep, RightKeep };

// The code tables. Equality (tarn_lookup): 0 stops; 1 left; everything
// else right.
struct SteerExact {
    static constexpr Move at(std::uint32_t r) noexcept {
        return r == TARN_CMP_EQUAL ? Move::Stop : r == TARN_CMP_GREATER ? Move::Left : Move::Right;
    }
};

// Floor (d = Left, tarn_lookup_le) keeps nodes below the probe; ceiling
// (d = Right, tarn_lookup_ge) keeps nodes above it, including those with
// codes outside 0..2.
template <Dir d>
struct SteerBound {
    static constexpr Dir side = d;
    static constexpr Move at(std::uint32_t r) noexcept {
        if (r == TARN_CMP_LESS) return d == Left ? Move::RightKeep : Move::Right;
        if (r == TARN_CMP_EQUAL) return Move::Stop;
        return d == Left ? Move::Left : Move::LeftKeep;
    }
};

// One level of a two-way descent: when lhs <= rhs, n becomes the candidate
// and the way on is `kept`, else it is `passed`; `equal` tells whether
// lhs == rhs. The caller gives the mirror by the order of lhs and rhs. The
// way down is a coin toss per level, which a branch mispredicts half the
// time. Clang 14 emits conditional moves for the plain spelling below; GCC
// 12 turns it into a branch on every other level of a loop that takes two
// levels a turn, so for GCC on x86-64 the moves are written out, and
// `equal` reads the comparison's flags (nothing is computed when unused).
template <class Word>
inline tarn_node *keep_unless_above(Word lhs, Word rhs, tarn_node *n, tarn_node *&candidate,
                                    tarn_node *kept, tarn_node *passed, bool &equal) noexcept {
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
    if constexpr (sizeof(Word) <= sizeof(std::uint64_t)) {
        std::uint64_t a = lhs, b = rhs;
        asm("cmp %[b], %[a]\n\tcmovbe %[n], %[candidate]\n\tcmovbe %[kept], %[passed]"
            : [candidate] "+r"(candidate), [passed] "+r"(passed), "=@cce"(equal)
            : [a] "r"(a), [b] "r"(b), [n] "r"(n), [kept] "r"(kept));
        return passed;
    }
#endif
#if defined(__clang__)
    bool keep = __builtin_unpredictable(lhs <= rhs);
#else
    bool keep = lhs <= rhs;
#endif
    equal = lhs == rhs;
    candidate = keep ? n : candidate;
    return keep ? kept : passed;
}

// One two-way level at n, whose key loads as `word`, for floor (d = Left:
// keeps n when word <= probe and goes right from it) or ceiling (d = Right:
// keeps n when probe <= word and goes left from it). Either keeps an equal
// node, and `equal` tells when n was one.
template <Dir d, class Word>
inline tarn_node *two_way_level(tarn_node *n, Word word, Word probe, tarn_node *&candidate,
                                bool &equal) noexcept {
    if constexpr (d == Left)
        return keep_unless_above(word, probe, n, candidate, n->right, n->left, equal);
    else
        return keep_unless_above(probe, word, n, candidate, n->left, n->right, equal);
}

// The steps of a documented code table: keep n as the candidate when the
// move says so, and give the child it goes to.
inline tarn_node *follow(Move m, tarn_node *n, tarn_node *&candidate) noexcept {
    if (m == Move::LeftKeep || m == Move::RightKeep) candidate = n;
    return m == Move::Left || m == Move::LeftKeep ? n->left : n->right;
}

// One level, at node n whose key is at `key`, of the descent that Steer's
// table documents under `order`: gives the node to visit next, or NULL where
// the descent ends. `answer` carries the last node kept on the way, and once
// the descent ends it holds the result: the node where it stopped, else
// that candidate (NULL when none was kept).
//
// Over keys that load as integers the three ways are a two-way choice and
// a test for equality, taken once per descent at most and so predicted
// well: the choice by conditional moves for one word, by branches for
// 16-byte floor and ceiling, which measured faster on large trees
// (bench/results/descents.md). The stop on equality decides the answer
// whenever the tree is not ordered by the searching descriptor's
// configuration (a replica, or a descriptor re-initialised to another key).
// A comparator call costs more than a mispredict: other orders take the
// table as it stands.
template <class Steer, class Order>
inline tarn_node *descend_level(tarn_node *n, const void *key, const Order &order,
                                tarn_node *&answer) noexcept {
    if constexpr (kOneWordKeys<Order> && !std::is_same_v<Steer, SteerExact>) {
        bool equal; // an equal node is kept: the answer where the descent stops
        tarn_node *next =
            two_way_level<Steer::side>(n, Order::load(key), order.probe, answer, equal);
        return equal ? nullptr : next;
    } else if constexpr (kWordKeys<Order>) {
        auto word = Order::load(key);
        if (word == order.probe) return answer = n, nullptr;
        if constexpr (std::is_same_v<Steer, SteerExact>) {
            return word > order.probe ? n->left : n->right;
        } else {
            bool keep = Steer::side == Left ? word < order.probe : word > order.probe;
            if (keep) answer = n;
            return child(n, keep ? other(Steer::side) : Steer::side);
        }
    } else {
        Move m = Steer::at(order(key));
        if (m == Move::Stop) return answer = n, nullptr;
        return follow(m, n, answer);
    }
}

// Floor (d = Left) or ceiling (d = Right) over one-word keys, in a tree
// that this order orders, as the primary descriptor's tree is (insertion
// keeps it so, and re-initialisation leaves it to the caller): a two-way
// descent that keeps each node not beyond the probe on side d, with no
// test on the way. It answers as the documented descent, which stops at an
// equal node. At every node not equal to the probe the two decide alike
// (keep and go towards d's far side, or go towards d), so their paths agree
// up to an equal node E. The documented descent returns E; this one keeps
// E and goes towards d's far side, where in an ordered tree every key lies
// beyond the probe, so it keeps nothing more and returns E too. Without an
// equal node on the path the two agree throughout. A replica searches a
// tree under an order that may not order it: the documented descent then.
template <Dir d, class Order>
inline tarn_node *bound_in_own_order(tarn_node *n, std::uintptr_t delta,
                                     const Order &order) noexcept {
    tarn_node *candidate = nullptr;
    auto level = [&](tarn_node *at) {
        bool unused;
        return two_way_level<d>(at, Order::load(key_at(at, delta)), order.probe, candidate, unused);
    };
    while ((n = level(n)) && (n = level(n))) { // two levels a turn: no register copy
    }
    return candidate;
}

// The whole descent from n (not NULL): its result, as descend_level gives
// it. Two levels a turn, which saves a register copy per level.
template <class Steer, class Order>
inline tarn_node *descend_to_answer(tarn_node *n, std::uintptr_t delta,
                                    const Order &order) noexcept {
    tarn_node *answer = nullptr;
    while ((n = descend_level<Steer>(n, key_at(n, delta), order, answer)) &&
           (n = descend_level<Steer>(n, key_at(n, delta), order, answer))) {
    }
    return answer;
}

// Many descents at once: the answer of Steer's descent from root (not NULL)
// for every probe i below count, handed to emit(i, answer) in the order the
// descents end. Up to Group descents run in lockstep, one level each a
// turn. Each prefetches the node it goes to next, links and key, and reads
// it a turn later, so the cache misses of a level overlap instead of
// following one another. A descent that ends hands its lane to the next
// probe.
template <class Steer, std::size_t Group, class OrderFor, class Emit>
inline void descend_interleaved(tarn_node *root, std::uintptr_t delta, std::size_t count,
                                OrderFor order_for, Emit emit) noexcept {
    struct Lane {
        tarn_node *node, *answer;
        std::size_t index;
        decltype(order_for(std::size_t{})) order;
    };
    Lane lanes[Group];
    std::size_t active = 0, next = 0;
    for (; active < Group && next < count; active++, next++)
        lanes[active] = {root, nullptr, next, order_for(next)};
    while (active) {
        for (std::size_t l = 0; l < active;) {
            Lane &lane = lanes[l];
            tarn_node *n =
                descend_level<Steer>(lane.node, key_at(lane.node, delta), lane.order, lane.answer);
            if (n) {
                __builtin_prefetch(n);
                __builtin_prefetch(key_at(n, delta));
                lane.node = n;
                l++;
                continue;
            }
            emit(lane.index, lane.answer);
            if (next < count)
                lane = {root, nullptr, next, order_for(next)}, next++, l++;
            else
                lane = lanes[--active];
        }
    }
}

// Whether head may search a tree ordered under another configuration than
// its own, where answer_in_own_order does not hold: a replica may. A
// primary's tree is ordered by its own (insertion keeps it so, and
// re-initialisation leaves it to the caller).
inline bool may_search_foreign_order(const tarn_head &head) noexcept {
    return head.flags & TARN_HEAD_REPLICA;
}

// The same answer in a tree that the order orders: a primary descriptor's.
template <class Steer, class Order>
inline tarn_node *answer_in_own_order(tarn_node *n, std::uintptr_t delta,
                                      const Order &order) noexcept {
    if constexpr (kOneWordKeys<Order> && !std::is_same_v<Steer, SteerExact>)
        return bound_in_own_order<Steer::side>(n, delta, order);
    else
        return descend_to_answer<Steer>(n, delta, order);
}

} // namespace tarn::detail

#endif // TARN_DESCENT_HPP
