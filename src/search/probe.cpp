// Probe searches: the comparator sees tree node addresses and an opaque
// probe, from the descriptor's own root, with no byte-wise fallback.
#include "base/checked.hpp"
#include "search/descent.hpp"

using namespace tarn::lib;

namespace {

// Finding descent shared by search and delete: the stop node and whether
// its code was a hit. NULL stop: the descent ran off the tree.
struct Found {
    tarn_node *stop;
    bool equal;
};

Found find_probe(const tarn_head *head, const void *probe) {
    if (!head->root || !head->compare) return {nullptr, false};
    Descent s = descend<SteerProbe>(head->root, 0, CallbackOrder{head->compare, probe});
    return {s.hit, s.hit && s.code == TARN_CMP_EQUAL};
}

// First node after (d = Right) or before (d = Left) the probe. Towards d the
// search moves on; away from d it turns, and the turn node answers when
// nothing nearer turns up below it. An equal node answers with its
// neighbour; an out-of-contract code gives up at the last turn. The
// documented search nests at each turn instead, and a nested search that
// finds nothing hands back its turn node: one loop that remembers the last
// turn makes the same comparator calls and returns the same node, with
// constant stack.
template <Dir d>
tarn_node *nearest_beyond_probe(const tarn_head *head, const void *probe) {
    if (!head || !probe || !head->compare) return nullptr;
    constexpr uint32_t onward = d == Right ? TARN_CMP_LESS : TARN_CMP_GREATER;
    constexpr uint32_t turn = d == Right ? TARN_CMP_GREATER : TARN_CMP_LESS;
    CallbackOrder order{head->compare, probe};
    tarn_node *last_turn = nullptr;
    for (tarn_node *n = head->root; n;) {
        uint32_t r = order(n);
        if (r == onward) {
            n = child(n, d);
        } else if (r == turn) {
            last_turn = n;
            n = child(n, other(d));
        } else {
            if (r != TARN_CMP_EQUAL) break;
            tarn_node *next = step<d>(n);
            return next ? next : last_turn;
        }
    }
    return last_turn;
}

} // namespace

TARN_EXPORT int32_t tarn_search_for_node(const tarn_head *head, const void *probe,
                                         tarn_node **out) {
    check_descriptor(head, __func__);
    if (!head || !probe || !out) return 0;
    Found f = find_probe(head, probe);
    *out = f.equal ? f.stop : nullptr;
    return f.stop != nullptr;
}

TARN_EXPORT int32_t tarn_delete_node(tarn_head *head, const void *probe, tarn_node **out) {
    check_changeable(head, __func__);
    Found f = head && probe ? find_probe(head, probe) : Found{nullptr, false};
    if (f.equal) tarn_delete(head, f.stop);
    if (out) *out = f.equal ? f.stop : nullptr;
    return f.stop != nullptr;
}

TARN_EXPORT tarn_node *tarn_get_next_from_node(const tarn_head *head, const void *probe) {
    check_descriptor(head, __func__);
    return nearest_beyond_probe<Right>(head, probe);
}

TARN_EXPORT tarn_node *tarn_get_prev_from_node(const tarn_head *head, const void *probe) {
    check_descriptor(head, __func__);
    return nearest_beyond_probe<Left>(head, probe);
}
