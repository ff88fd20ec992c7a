// SPDX-License-Identifier: MIT
// tarn/searches.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// Answers that take more than one descent's stop or candidate: the strict
// searches by key, a range cursor's checks and resumption, and the steps
// from a probe.
#ifndef TARN_SEARCHES_HPP
#define TARN_SEARCHES_HPP

#include <type_traits>

#include "descent.hpp"

namespace tarn::detail {

// A search that ends without a hit asks its end node once more, and the
// second answer decides: a comparator that answers the same way twice
// cannot tell, one that does not gets the documented answer.
template <class Order>
inline std::uint32_t ask_again(const descent &d, std::uintptr_t delta, const Order &order) {
    return order(key_at(d.end, delta));
}

// The nearest node strictly after (S = right) or before (S = left) the
// probe, from n (not NULL): an equal node gives its neighbour; otherwise
// the end node answers itself when it lies on the far side (or answers 0
// the second time), else its neighbour does.
template <side S, class Order>
inline tarn_node *strictly_beyond(tarn_node *n, std::uintptr_t delta, const Order &order) {
    descent d = descend<by_codes<find_row>>(n, delta, order);
    if (d.stop) return step<S>(d.stop);
    constexpr std::uint32_t far_side = S == side::right ? TARN_CMP_GREATER : TARN_CMP_LESS;
    std::uint32_t r = ask_again(d, delta, order);
    if (r == TARN_CMP_EQUAL || r == far_side) return d.end;
    return step<S>(d.end);
}

// A node passes the lower bound of a range on 0 or 1 and the upper bound
// on 0 or 2.
constexpr bool not_below(std::uint32_t r) noexcept {
    return r == TARN_CMP_EQUAL || r == TARN_CMP_GREATER;
}
constexpr bool not_above(std::uint32_t r) noexcept {
    return r == TARN_CMP_EQUAL || r == TARN_CMP_LESS;
}

// A range step's two checks, high's only when low's passes. Keys that load
// as integers compare as such, where a code per check would branch twice: a
// code of theirs is only ever 0, 1 or 2 and calls nothing, so low <= key <=
// high is exactly "low's code is 0 or 1 and high's is 0 or 2".
template <class Order>
inline bool within(const Order &low, const Order &high, const void *key) {
    if constexpr (word_keys_v<Order>) {
        auto word = Order::load(key);
        return low.probe <= word && word <= high.probe;
    } else {
        return not_below(low(key)) && not_above(high(key));
    }
}

// Where a detached range cursor resumes: the node after its saved key.
// Unlike strictly_beyond, an end node that answers 0 (or a code outside
// 0..2) the second time gives nothing.
template <class Order>
inline tarn_node *resume_after(tarn_node *root, std::uintptr_t delta, const Order &saved) {
    descent d = descend<by_codes<find_row>>(root, delta, saved);
    if (d.stop) return step<side::right>(d.stop);
    std::uint32_t r = ask_again(d, delta, saved);
    if (r == TARN_CMP_GREATER) return d.end;
    if (r == TARN_CMP_LESS) return step<side::right>(d.end);
    return nullptr;
}

// The first node after (S = right) or before (S = left) a probe, by the
// probe steps' rows from n (not NULL). The documented search nests at each
// turn towards the probe, and a nested search that finds nothing hands
// back its turn node: the rows keep the last turn instead, which makes the
// same comparator calls and gives the same node with constant stack. An
// equal node answers with its neighbour, else with the last turn; a code
// outside 0..2, or running off the tree, gives the last turn.
template <side S, class Order>
inline tarn_node *beyond_probe(tarn_node *n, const Order &order) {
    using way =
        std::conditional_t<S == side::right, by_codes<after_probe_row>, by_codes<before_probe_row>>;
    descent d = descend<way>(n, 0, order);
    if (d.stop && d.code == TARN_CMP_EQUAL)
        if (tarn_node *next = step<S>(d.stop)) return next;
    return d.kept;
}

} // namespace tarn::detail

#endif // TARN_SEARCHES_HPP
