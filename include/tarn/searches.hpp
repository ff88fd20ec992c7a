// tarn/searches.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// Answers that take more than one descent's stop or candidate: the strict
// searches by key and the steps from a probe.
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
