// SPDX-License-Identifier: MIT
// Removal by node: the core's unlink (tarn/removal.hpp) behind the
// checks. No comparator is called.
#include "base/checked.hpp"

using namespace tarn::lib;

TARN_EXPORT void tarn_delete(tarn_head *head, tarn_node *node) {
    if (!head || !node) return;
    check_changeable(head, __func__);
    if (!node->in_tree) return;
    check_member(head, node, __func__);
    unlink(*head, node);
}
