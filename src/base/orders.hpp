// The comparisons a key operation makes, bound to one probe for the length
// of a call: the descriptor's comparator, compare_exact, or the byte-wise
// order (tarn/bytewise.hpp). The choice is made once per call, at its entry,
// so every loop below it is instantiated per comparison and tests no mode.
#pragma once

#include "base/tree.hpp"
#include "tarn/bytewise.hpp"

namespace tarn::lib {

struct CallbackOrder {
    tarn_compare_fn fn;
    const void *probe;
    uint32_t operator()(const void *tree_key) const { return fn(tree_key, probe); }
};

struct ExactCallbackOrder {
    tarn_compare_exact_fn fn;
    const void *probe;
    uint32_t extra;
    uint32_t operator()(const void *tree_key) const { return fn(tree_key, probe, extra); }
};

// Calls body(order_for), where order_for(probe) binds the descriptor's
// comparator to a probe, or its byte-wise order when it has none.
template <class Body>
inline decltype(auto) with_key_order(const tarn_head *head, Body &&body) {
    if (tarn_compare_fn fn = head->compare)
        return body([fn](const void *p) { return CallbackOrder{fn, p}; });
    return with_bytewise_order(head->key_length, body);
}

// Byte-wise comparison would hand memcmp a NULL probe: the call finds
// nothing instead. A comparator sees NULL unchanged; key length 0 reads no
// byte.
inline bool null_probe_to_memcmp(const tarn_head *head, const void *probe) {
    return !probe && head->key_length != 0;
}

inline bool null_probe_without_comparator(const tarn_head *head, const void *probe) {
    return !head->compare && null_probe_to_memcmp(head, probe);
}

} // namespace tarn::lib
