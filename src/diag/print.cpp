// SPDX-License-Identifier: MIT
// Diagnostic print: one block per node to standard output.
#include <cstdio>

#include "base/checked.hpp"
#include "diag/walks.hpp"

using namespace tarn::lib;

namespace {

const char *balance_name(uint32_t balance) {
    return balance == TARN_BAL_RH ? "RH" : balance == TARN_BAL_LH ? "LH" : "EQ";
}

} // namespace

TARN_EXPORT void tarn_print_tree(const tarn_head *head, uint32_t order, tarn_print_fn hook) {
    check_descriptor(head, __func__);
    walk_ordered(effective_root(head), order, [hook](tarn_node *n, int32_t depth) {
        std::printf("\nAVL node %p, depth %d, balance factor: %s\nleft %p, right %p, "
                    "parent %p\n",
                    static_cast<void *>(n), depth, balance_name(n->balance),
                    static_cast<void *>(n->left), static_cast<void *>(n->right),
                    static_cast<void *>(n->parent));
        if (hook) hook(n);
    });
}
