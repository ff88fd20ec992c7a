// SPDX-License-Identifier: MIT
// Walks: the stoppable in-order walk and the recursive three-order walk.
#include "base/checked.hpp"
#include "diag/walks.hpp"

using namespace tarn::lib;

TARN_EXPORT int32_t tarn_walk_tree(tarn_head *head, void *context, tarn_walk_fn visitor) {
    check_descriptor(head, __func__);
    tarn_node *root = effective_root(head);
    if (!root) return 1;
    // The successor is taken after the visit, from the links as they stand.
    for (tarn_node *n = outermost<side::left>(root); n; n = step<side::right>(n))
        if (visitor && visitor(head, n, context) == 0) return 0;
    return 1;
}

TARN_EXPORT void tarn_walk_tree_v2(tarn_head *head, uint32_t order, void *context,
                                   tarn_walk_fn visitor) {
    check_descriptor(head, __func__);
    walk_ordered(effective_root(head), order, [&](tarn_node *n, int32_t) {
        if (visitor) visitor(head, n, context);
    });
}
