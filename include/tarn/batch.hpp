// SPDX-License-Identifier: MIT
// tarn/batch.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// Many descents at once, by the levels of one way (tarn/descent.hpp), so
// that their waits for memory overlap.
#ifndef TARN_BATCH_HPP
#define TARN_BATCH_HPP

#include <cstddef>

#include "descent.hpp"

namespace tarn::detail {

// The answer of Way's descent from root (not NULL) for every probe i below
// count, handed to emit(i, answer_of(descent)) in the order the descents
// end. Up to Group descents run in lockstep, one level each a turn. Each
// prefetches the node it goes to next, links and key, and reads it a turn
// later, so the cache misses of a level overlap instead of following one
// another. A descent that ends hands its lane to the next probe.
template <class Way, std::size_t Group, class OrderFor, class Emit>
inline void descend_interleaved(tarn_node *root, std::uintptr_t delta, std::size_t count,
                                OrderFor order_for, Emit emit) noexcept {
    struct lane {
        tarn_node *node, *stop, *kept; // all a lookup's answer needs of its descent
        std::size_t index;
        decltype(order_for(std::size_t{})) order;
    };
    lane lanes[Group];
    std::size_t active = 0, next = 0;
    for (; active < Group && next < count; active++, next++)
        lanes[active] = {root, nullptr, nullptr, next, order_for(next)};
    while (active) {
        for (std::size_t l = 0; l < active;) {
            lane &at = lanes[l];
            descent d;
            d.stop = at.stop, d.kept = at.kept;
            tarn_node *n = Way::level(at.node, delta, at.order, d);
            at.stop = d.stop, at.kept = d.kept;
            if (n) {
                __builtin_prefetch(n);
                __builtin_prefetch(key_at(n, delta));
                at.node = n;
                l++;
                continue;
            }
            Way::finish(d, delta, at.order);
            emit(at.index, answer_of(d));
            if (next < count)
                at = {root, nullptr, nullptr, next, order_for(next)}, next++, l++;
            else
                at = lanes[--active];
        }
    }
}

// Descents run for their paths' sake, whose answers nobody reads: each
// answer goes to an empty asm statement, without which the compilers drop
// the loads, and the prefetches with them.
template <class Way, std::size_t Group, class OrderFor>
inline void warm_paths(tarn_node *root, std::uintptr_t delta, std::size_t count,
                       OrderFor order_for) noexcept {
    descend_interleaved<Way, Group>(root, delta, count, order_for, [](std::size_t, tarn_node *n) {
        __asm__ volatile("" : : "r"(n));
    });
}

} // namespace tarn::detail

#endif // TARN_BATCH_HPP
