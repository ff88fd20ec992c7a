// SPDX-License-Identifier: MIT
// Probe searches: the comparator sees tree node addresses and an opaque
// probe, from the descriptor's own root, with no byte-wise fallback.
#include "base/checked.hpp"

using namespace tarn::lib;

namespace {

// The finding descent shared by search and delete: its stop node (NULL
// when it ran off the tree, or found no root or comparator to start with)
// and whether that node's code was a hit.
struct found {
    tarn_node *stop;
    bool equal;
};

found find_probe(const tarn_head *head, const void *probe) {
    if (!head->root || !head->compare) return {nullptr, false};
    descent d = descend<by_codes<probe_row>>(head->root, 0, callback_order{head->compare, probe});
    return {d.stop, d.stop && d.code == TARN_CMP_EQUAL};
}

template <side S>
tarn_node *beyond_probe_from_root(const tarn_head *head, const void *probe) {
    if (!head || !probe || !head->compare || !head->root) return nullptr;
    return beyond_probe<S>(head->root, callback_order{head->compare, probe});
}

} // namespace

TARN_EXPORT int32_t tarn_search_for_node(const tarn_head *head, const void *probe,
                                         tarn_node **out) {
    check_descriptor(head, __func__);
    if (!head || !probe || !out) return 0;
    found f = find_probe(head, probe);
    *out = f.equal ? f.stop : nullptr;
    return f.stop != nullptr;
}

TARN_EXPORT int32_t tarn_delete_node(tarn_head *head, const void *probe, tarn_node **out) {
    check_changeable(head, __func__);
    found f = head && probe ? find_probe(head, probe) : found{nullptr, false};
    if (f.equal) unlink(*head, f.stop);
    if (out) *out = f.equal ? f.stop : nullptr;
    return f.stop != nullptr;
}

TARN_EXPORT tarn_node *tarn_get_next_from_node(const tarn_head *head, const void *probe) {
    check_descriptor(head, __func__);
    return beyond_probe_from_root<side::right>(head, probe);
}

TARN_EXPORT tarn_node *tarn_get_prev_from_node(const tarn_head *head, const void *probe) {
    check_descriptor(head, __func__);
    return beyond_probe_from_root<side::left>(head, probe);
}
