// SPDX-License-Identifier: MIT
// What every call builds on: the export mark, where a node's key and record
// lie, the tree a read-only call reads, the probes byte-wise comparison
// cannot read, and the depth no sound tree reaches. The library's own
// machinery lives in tarn::lib; tarn::detail is the core it shares with
// tarn.hpp (include/tarn/), so the two never define one name twice.
#pragma once

#include <cstdint>

#include "tarn.h"
#include "tarn/batch.hpp"
#include "tarn/removal.hpp"
#include "tarn/searches.hpp"

#define TARN_EXPORT extern "C" __attribute__((visibility("default")))

namespace tarn::lib {

using namespace tarn::detail;

// ---- Addresses --------------------------------------------------------------

// Distance from a node to its record's key (key_at adds it); plain unsigned
// arithmetic, so the key may sit before or after the node.
inline uintptr_t key_delta(const tarn_head *head) {
    return uintptr_t(head->key_offset - head->node_offset);
}

inline void *record_of(const tarn_node *n, const tarn_head *head) {
    if (!n) return nullptr;
    return reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(n) - uintptr_t(head->node_offset));
}

// ---- The tree a read-only call reads ----------------------------------------

// origin's root for a replica (one level only), else the descriptor's own.
// NULL for a NULL head or an orphan replica, as for an empty tree.
inline tarn_node *effective_root(const tarn_head *head) {
    if (!head) return nullptr;
    if (head->flags & TARN_HEAD_REPLICA) return head->origin ? head->origin->root : nullptr;
    return head->root;
}

// ---- Probes byte-wise comparison cannot read --------------------------------

// Byte-wise comparison would hand memcmp a NULL probe: the call finds
// nothing instead. A comparator sees NULL unchanged; key length 0 reads no
// byte.
inline bool null_probe_to_memcmp(const tarn_head *head, const void *probe) {
    return !probe && head->key_length != 0;
}

inline bool null_probe_without_comparator(const tarn_head *head, const void *probe) {
    return !head->compare && null_probe_to_memcmp(head, probe);
}

// ---- Corrupted links ----------------------------------------------------------

// No AVL tree that fits in memory is this deep (height 100 needs over 1e20
// nodes); deeper means corrupted links, such as a cycle. The recursions stop
// here rather than exhaust the stack, and the checked climbs give up here.
constexpr uint32_t max_depth = 100;

} // namespace tarn::lib
