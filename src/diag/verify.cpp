// SPDX-License-Identifier: MIT
// Balance verification: subtree heights against balance codes, post-order.
#include <algorithm>

#include "base/checked.hpp"

using namespace tarn::lib;

namespace {

// Height of n's subtree, or 0 when some node in it fails, or lies deeper
// than max_depth.
uint64_t verified_height(const tarn_node *n, uint32_t depth) {
    if (depth > max_depth) return 0;
    uint64_t hl = 0, hr = 0;
    if (n->left && !(hl = verified_height(n->left, depth + 1))) return 0;
    if (n->right && !(hr = verified_height(n->right, depth + 1))) return 0;
    uint32_t expected = hl > hr ? TARN_BAL_LH : hr > hl ? TARN_BAL_RH : TARN_BAL_EQ;
    if (n->balance != expected || hl > hr + 1 || hr > hl + 1) return 0;
    return std::max(hl, hr) + 1;
}

} // namespace

TARN_EXPORT int32_t tarn_verify_balance_factors(const tarn_head *head) {
    check_descriptor(head, __func__);
    tarn_node *root = effective_root(head);
    return !root || verified_height(root, 1) != 0;
}
