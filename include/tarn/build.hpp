// SPDX-License-Identifier: MIT
// tarn/build.hpp: machinery that libtarn and tarn.hpp share, not
// interface. Include tarn.h or tarn.hpp; what is here may change in any
// release. C++17.
//
// Changes that need no descent: a tree built at once from nodes in order,
// the free link between two neighbours, and whether a node still lies
// between its neighbours.
#ifndef TARN_BUILD_HPP
#define TARN_BUILD_HPP

#include <cstddef>
#include <cstdint>

#include "rotations.hpp"

namespace tarn::detail {

// The height of a balanced build of n nodes: bit_width(n).
constexpr unsigned built_height(std::size_t n) noexcept {
    unsigned h = 0;
    for (; n; n >>= 1) h++;
    return h;
}

// Links the next n nodes that next() gives, in ascending order, as a
// tree of height built_height(n), and returns its top (NULL for n = 0),
// whose parent is the caller's to set. No comparison, no rotation: the
// left part takes n / 2 nodes and the right part the rest but one, so the
// two heights differ by at most one, the left never the shorter.
template <class Hook, class Next>
inline tarn_node *build_balanced(std::size_t n, Next &next) noexcept {
    if (n == 0) return nullptr;
    const std::size_t below = n / 2, above = n - below - 1;
    tarn_node *left = build_balanced<Hook>(below, next);
    tarn_node *top = next();
    tarn_node *right = build_balanced<Hook>(above, next);
    top->left = left, top->right = right, top->parent = nullptr, top->in_tree = 1;
    top->balance = built_height(below) > built_height(above) ? TARN_BAL_LH : TARN_BAL_EQ;
    if (left) left->parent = top;
    if (right) right->parent = top;
    if constexpr (Hook::active) Hook::refresh(top);
    return top;
}

// Where a descent would link a node that belongs between `before` and
// `after`, neighbours in order (NULL: no neighbour on that side). In a tree
// of distinct keys the gap between two neighbours holds one free link:
// after's left link when after has no left child, else before's right link,
// since before is then the last node of after's left subtree. Both NULL:
// the root of an empty tree.
struct free_link {
    tarn_node *parent;
    side at;
};
inline free_link free_link_between(tarn_node *before, tarn_node *after) noexcept {
    if (after && !after->left) return {after, side::left};
    return {before, side::right};
}

} // namespace tarn::detail

#endif // TARN_BUILD_HPP
