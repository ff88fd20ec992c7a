// SPDX-License-Identifier: MIT
// The whole-tree check shared by the tests and the fuzz harness: parent
// links, in_tree, balance codes against subtree heights, count, a depth
// bound of 100 (a cycle) and, given a comparison, ascending order. It names
// the first failure instead of stopping, and lists the nodes in the three
// walk orders; the lists keep their storage from check to check.
#pragma once

#include <algorithm>
#include <vector>

#include "tarn.h"

namespace tarn_tests {

class TreeCheck {
  public:
    using Before = bool (*)(const tarn_node *a, const tarn_node *b); // a's key before b's

    // Nodes of head's own tree as the last check found them, indexed by
    // TARN_WALK_PREORDER, _INORDER and _POSTORDER.
    std::vector<tarn_node *> walk[3];

    // The first failure found, or nullptr; without before, order goes unchecked.
    const char *operator()(const tarn_head &head, Before before = nullptr) {
        for (auto &nodes : walk) nodes.clear();
        failure_ = nullptr;
        height(head.root, nullptr, 1);
        const std::vector<tarn_node *> &in = walk[TARN_WALK_INORDER];
        for (size_t i = 1; !failure_ && before && i < in.size(); i++)
            if (!before(in[i - 1], in[i])) failure_ = "in-order keys not strictly ascending";
        if (!failure_ && head.count != in.size()) failure_ = "count is not the number of nodes";
        return failure_;
    }

  private:
    const char *failure_ = nullptr;

    // Height of n's subtree, listing its nodes; 0 once a failure is found.
    int height(tarn_node *n, const tarn_node *parent, int depth) {
        if (!n || failure_) return 0;
        if (depth > 100) return failure_ = "deeper than 100 levels", 0;
        if (n->parent != parent) return failure_ = "parent link does not point back", 0;
        if (n->in_tree != 1) return failure_ = "linked node with in_tree other than 1", 0;
        walk[TARN_WALK_PREORDER].push_back(n);
        int left = height(n->left, n, depth + 1);
        walk[TARN_WALK_INORDER].push_back(n);
        int right = height(n->right, n, depth + 1);
        walk[TARN_WALK_POSTORDER].push_back(n);
        if (failure_) return 0;
        if (left - right > 1 || right - left > 1) return failure_ = "subtree heights two apart", 0;
        uint32_t taller = left > right ? TARN_BAL_LH : right > left ? TARN_BAL_RH : TARN_BAL_EQ;
        if (n->balance != taller) return failure_ = "balance code not the taller side", 0;
        return std::max(left, right) + 1;
    }
};

} // namespace tarn_tests
