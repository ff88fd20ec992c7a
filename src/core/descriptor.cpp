// SPDX-License-Identifier: MIT
// Descriptor set-up, replicas and the emptiness query.
#include <cstring>

#include "base/checked.hpp"

using namespace tarn::lib;

namespace {

int32_t set_up(tarn_head *head, uint64_t node_offset, uint64_t key_length, uint64_t key_offset,
               tarn_compare_fn compare, tarn_compare_exact_fn compare_exact) {
    if (!head || key_length > TARN_MAX_KEY_LEN) return 0;
    // A populated descriptor keeps its tree; only the configuration changes.
    if (!head->root) std::memset(head, 0, sizeof *head);
    head->compare = compare;
    head->compare_exact = compare_exact;
    head->node_offset = node_offset;
    head->key_length = key_length;
    head->key_offset = key_offset;
    mark_set_up(head);
    return 1;
}

} // namespace

TARN_EXPORT int32_t tarn_init_new(tarn_head *head, uint64_t node_offset, uint64_t key_length,
                                  uint64_t key_offset, tarn_compare_fn compare,
                                  tarn_compare_exact_fn compare_exact) {
    return set_up(head, node_offset, key_length, key_offset, compare, compare_exact);
}

TARN_EXPORT int32_t tarn_init(tarn_head *head, uint64_t key_length, uint64_t key_offset,
                              tarn_compare_fn compare, tarn_compare_exact_fn compare_exact) {
    return set_up(head, 0, key_length, key_offset, compare, compare_exact);
}

TARN_EXPORT void tarn_replicate_head_node(tarn_head *source, tarn_head *replica,
                                          tarn_compare_fn compare) {
    if (!source || !replica) return;
    check_descriptor(source, __func__);
    if (replica != source) std::memcpy(replica, source, sizeof *replica);
    replica->compare = compare;
    replica->origin = source;
    replica->flags |= TARN_HEAD_REPLICA;
}

TARN_EXPORT int32_t tarn_is_empty(const tarn_head *head) {
    check_descriptor(head, __func__);
    return effective_root(head) == nullptr;
}
