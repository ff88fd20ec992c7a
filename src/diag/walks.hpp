// SPDX-License-Identifier: MIT
// The recursive walks of the three-order walk and the print. The order is
// fixed per call, so it is a template argument of the recursion rather than
// a test at every node. visit(n, depth) sees the root at depth 1; nodes
// below max_depth, which only corrupted links reach, are not visited.
#pragma once

#include "base/tree.hpp"

namespace tarn::lib {

// A node's left link is read after its pre-order visit, its right link
// after its in-order visit.
template <uint32_t order, class Visit>
void walk_from(tarn_node *n, int32_t depth, const Visit &visit) {
    bool deeper = uint32_t(depth) < max_depth;
    if (order == TARN_WALK_PREORDER) visit(n, depth);
    if (n->left && deeper) walk_from<order>(n->left, depth + 1, visit);
    if (order == TARN_WALK_INORDER) visit(n, depth);
    if (n->right && deeper) walk_from<order>(n->right, depth + 1, visit);
    if (order == TARN_WALK_POSTORDER) visit(n, depth);
}

// An unknown order visits nothing.
template <class Visit>
void walk_ordered(tarn_node *root, uint32_t order, const Visit &visit) {
    if (!root) return;
    switch (order) {
    case TARN_WALK_PREORDER: return walk_from<TARN_WALK_PREORDER>(root, 1, visit);
    case TARN_WALK_INORDER: return walk_from<TARN_WALK_INORDER>(root, 1, visit);
    case TARN_WALK_POSTORDER: return walk_from<TARN_WALK_POSTORDER>(root, 1, visit);
    default: return;
    }
}

} // namespace tarn::lib
