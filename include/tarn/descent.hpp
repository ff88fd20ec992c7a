// SPDX-License-Identifier: MIT
// tarn/descent.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// The descent engine. Every search and insertion goes down the tree by one
// of two ways: the documented one, which takes a row of tarn/codes.hpp at
// every node, or two ways with no test on the way, which answers as a row
// where the proof below holds. with_way is the one rule that picks the way;
// descend runs it down one path, descend_interleaved (tarn/batch.hpp) down
// many at once, by the same levels.
#ifndef TARN_DESCENT_HPP
#define TARN_DESCENT_HPP

#include <cstdint>

#include "codes.hpp"
#include "orders.hpp"
#include "two_way.hpp"

namespace tarn::detail {

// What a descent found.
struct descent {
    tarn_node *stop = nullptr; // the node whose move ended it (a hit or a halt), else NULL
    tarn_node *kept = nullptr; // the last node kept on the way (see keeping_side)
    tarn_node *end = nullptr;  // the last node asked
    side free = side::left;    // when it ran off the tree: end's NULL link
    std::uint32_t code = TARN_CMP_EQUAL; // end's code
};

// A lookup's answer: the node it stopped at, else the last node kept.
inline tarn_node *answer_of(const descent &d) noexcept { return d.stop ? d.stop : d.kept; }

constexpr side way_of(move m) noexcept {
    return m == move::left || m == move::keep_left ? side::left : side::right;
}

// A move's way on, noting a node kept or the node that ends the descent.
inline tarn_node *take(move m, tarn_node *n, descent &d) noexcept {
    if (ends(m)) return d.stop = n, nullptr;
    if (keeps(m)) d.kept = n;
    return child(n, way_of(m));
}

// Floor and ceiling rows: they stop on 0 and, of 1 and 2, keep the node
// one way and pass it the other; floor (left) keeps nodes below the probe,
// ceiling (right) nodes above it.
template <const code_row &Row>
inline constexpr side keeping_side = Row.on_less == move::keep_right ? side::left : side::right;

// The documented descent: Row's move for each node's code. Keys that load
// as integers never give a code outside 0..2, so their levels compare the
// words: a test for equality, taken once per descent at most and so
// predicted well, then the way by 1 or 2, chosen by conditional moves, but
// for floor and ceiling over 16 bytes by a branch, which measured faster on
// large trees (bench/results/descents.md). A comparator call costs more
// than a mispredict: other orders ask for the code.
template <const code_row &Row>
struct by_codes {
    template <class Order>
    static tarn_node *level(tarn_node *n, std::uintptr_t delta, const Order &order,
                            descent &d) noexcept {
        d.end = n;
        const void *key = key_at(n, delta);
        if constexpr (word_keys_v<Order>) {
            const auto word = Order::load(key);
            if (word == order.probe) return take(Row.on_equal, n, d);
            static_assert(!ends(Row.on_greater) && !ends(Row.on_less),
                          "every row goes on from a node that is not equal");
            const bool greater = word > order.probe;
            if (greater ? keeps(Row.on_greater) : keeps(Row.on_less)) d.kept = n;
            const side way = greater ? way_of(Row.on_greater) : way_of(Row.on_less);
            if constexpr (one_word_keys_v<Order> || !(keeps(Row.on_greater) || keeps(Row.on_less)))
                return child(n, way);
            else // floor and ceiling over 16 bytes: the link chosen, then read, by a branch
                return child_link(n, way);
        } else {
            d.code = order(key);
            return take(Row.at(d.code), n, d);
        }
    }
    // The end node's code, asked again of keys that load as integers
    // rather than carried down the levels, which would make the compilers
    // branch on it; and the way it sent the descent, off the tree.
    template <class Order>
    static void finish(descent &d, std::uintptr_t delta, const Order &order) noexcept {
        if constexpr (word_keys_v<Order>)
            if (!d.stop) d.code = code_of_words(Order::load(key_at(d.end, delta)), order.probe);
        d.free = way_of(Row.at(d.code));
    }
};

// Two ways at every node over one-word keys, with no test on the way: keep
// n and go to side S's far side when n is not beyond the probe on side S,
// else go to side S (two_way_level). stop is left NULL, or with NoteEqual
// the last equal node met.
//
// As floor (S = left) or ceiling (S = right) in a tree ordered by this
// order: at every node not equal to the probe the two-way and the
// documented descent decide alike, so their paths agree up to an equal
// node E. The documented descent returns E; this one keeps E and goes to
// S's far side, where in an ordered tree every key lies beyond the probe,
// so it keeps nothing more and returns E too. Without an equal node on the
// path the two agree throughout.
//
// As insertion (S = right, NoteEqual), on any tree: at every node not equal
// to the new key, this goes left at a key above it and right at one below,
// as insert_row does, so the paths agree up to the first equal node, where
// insertion refuses. The new node is refused exactly when this path met an
// equal key; otherwise both end at the same free link, on the side this
// one went from the last node (left when it was kept). In an ordered tree
// the equal node met is the one whose key blocks the new one.
template <side S, bool NoteEqual>
struct two_ways {
    template <class Order>
    static tarn_node *level(tarn_node *n, std::uintptr_t delta, const Order &order,
                            descent &d) noexcept {
        d.end = n;
        bool equal;
        tarn_node *kept = d.kept; // a scalar: the descent stays in registers
        tarn_node *next =
            two_way_level<S>(n, Order::load(key_at(n, delta)), order.probe, kept, equal);
        d.kept = kept;
        if constexpr (NoteEqual) d.stop = equal ? n : d.stop;
        return next;
    }
    template <class Order>
    static void finish(descent &d, std::uintptr_t, const Order &) noexcept {
        d.free = d.kept == d.end ? other(S) : S;
    }
};

// Up to this many nodes, records of a few dozen bytes fit in the caches of
// the machines measured (bench/results/): descents do not wait for memory,
// and the ways that save instructions win over those that overlap waits.
inline constexpr std::uint64_t tree_in_cache = 16384;

// The one rule for the way a descent by Row over Order takes, for every
// caller, single or batched: body(way) is called with the way chosen.
// - Floor and ceiling over one-word keys in a tree ordered by the
//   searching descriptor's own configuration (ordered_by_own: a primary;
//   insertion keeps its tree so, and re-initialisation leaves that to the
//   caller): two ways. A replica may search a tree under another order.
// - Insertion over one-word keys in a tree of at most tree_in_cache nodes:
//   two ways noting equal keys, exact on every tree; larger trees measured
//   faster the documented way (bench/results/descents.md).
// - Everything else: the documented descent.
// Rows are told apart by specialisation, not by comparing their addresses,
// which GCC's sanitizers do not allow in a constant expression.
template <const code_row &Row>
inline constexpr bool way_may_depend_on_tree_order = false;
template <>
inline constexpr bool way_may_depend_on_tree_order<floor_row> = true;
template <>
inline constexpr bool way_may_depend_on_tree_order<ceiling_row> = true;
template <const code_row &Row>
inline constexpr bool inserts = false;
template <>
inline constexpr bool inserts<insert_row> = true;

template <const code_row &Row, class Order, class Body>
inline decltype(auto) with_way(bool ordered_by_own, std::uint64_t count, Body &&body) {
    if constexpr (one_word_keys_v<Order> && way_may_depend_on_tree_order<Row>) {
        if (ordered_by_own) return body(two_ways<keeping_side<Row>, false>{});
    } else if constexpr (one_word_keys_v<Order> && inserts<Row>) {
        if (count <= tree_in_cache) return body(two_ways<side::right, true>{});
    }
    return body(by_codes<Row>{});
}

// The whole descent from n (not NULL) by Way. Searches take two levels a
// turn, which saves a register copy per level; insertion, which carries
// more from level to level, measured best at one.
template <class Way, unsigned LevelsPerTurn = 2, class Order>
inline descent descend(tarn_node *n, std::uintptr_t delta, const Order &order) noexcept {
    if (!n) __builtin_unreachable(); // so the nodes it reports are known not NULL
    descent d;
    if constexpr (LevelsPerTurn == 1)
        while ((n = Way::level(n, delta, order, d))) {
        }
    else
        while ((n = Way::level(n, delta, order, d)) && (n = Way::level(n, delta, order, d))) {
        }
    Way::finish(d, delta, order);
    return d;
}

// Whether head may search a tree ordered under another configuration than
// its own: a replica may.
inline bool ordered_by_own_configuration(const tarn_head &head) noexcept {
    return !(head.flags & TARN_HEAD_REPLICA);
}

} // namespace tarn::detail

#endif // TARN_DESCENT_HPP
