// SPDX-License-Identifier: MIT
// Range scans over inclusive bounds: the two first-node searches and the
// cursor step that ends at the first node outside the bounds.
#include "base/checked.hpp"

using namespace tarn::lib;

namespace {

struct bounds {
    const void *low, *high;
};

// Shared entry of the two first-node calls: resolves the tree, runs `find`
// with low bound to the descriptor's comparison and against_high giving a
// node's code against high, stores the result. A byte-wise high that is
// NULL reads as below every node, so a call fails where it would read it.
template <class Find>
tarn_node *first_in_range(const tarn_head *head, bounds b, tarn_node **out, Find find) {
    tarn_node *root = effective_root(head);
    tarn_node *found = nullptr;
    if (root && !null_probe_without_comparator(head, b.low)) {
        uintptr_t delta = key_delta(head);
        bool null_high = null_probe_without_comparator(head, b.high);
        found = with_key_order(*head, [&](auto order_for) {
            auto against_high = [&](tarn_node *n) {
                return null_high ? TARN_CMP_GREATER : order_for(b.high)(key_at(n, delta));
            };
            return find(root, delta, order_for(b.low), against_high,
                        ordered_by_own_configuration(*head));
        });
    }
    if (out) *out = found;
    return found;
}

// The ceiling of low, dropped only when high's code for it is 1: any other
// code, out-of-contract ones included, keeps it.
struct ceiling_within {
    template <class Order, class AgainstHigh>
    tarn_node *operator()(tarn_node *root, uintptr_t delta, const Order &low,
                          AgainstHigh against_high, bool own_order) const {
        tarn_node *n = with_way<ceiling_row, Order>(own_order, 0, [&](auto way) {
            return answer_of(descend<decltype(way)>(root, delta, low));
        });
        return n && against_high(n) == TARN_CMP_GREATER ? nullptr : n;
    }
};

// A node equal to low at once, without a look at high; else the first node
// above low, kept only when high's code for it is 0 or 2.
struct equal_or_next_within {
    template <class Order, class AgainstHigh>
    tarn_node *operator()(tarn_node *root, uintptr_t delta, const Order &low,
                          AgainstHigh against_high, bool) const {
        descent d = descend<by_codes<find_row>>(root, delta, low);
        if (d.stop) return d.stop;
        tarn_node *n = nullptr;
        uint32_t r = ask_again(d, delta, low);
        if (r == TARN_CMP_GREATER) {
            n = d.end;
        } else if (r == TARN_CMP_LESS) {
            tarn_node *next = step<side::right>(d.end);
            if (next && low(key_at(next, delta)) == TARN_CMP_GREATER) n = next;
        }
        return n && not_above(against_high(n)) ? n : nullptr;
    }
};

template <class OrderFor>
tarn_node *next_in_range(const tarn_head *head, bounds b, tarn_iterator *it, OrderFor order_for) {
    tarn_node *root = it->current ? nullptr : effective_root(head);
    if (!it->current && !root) return nullptr;
    uintptr_t delta = key_delta(head);
    tarn_node *n = it->current ? step<side::right>(it->current)
                               : resume_after(root, delta, order_for(it->saved_key));
    return n && within(order_for(b.low), order_for(b.high), key_at(n, delta)) ? n : nullptr;
}

// One function per comparison, entered by a jump: those that call nothing
// need no stack frame, which a shared body would make every scan step pay.
template <class OrderFor>
[[gnu::noinline]] tarn_node *advance_in_range(const tarn_head *head, bounds b, tarn_iterator *it,
                                              OrderFor order_for) {
    return it->current = next_in_range(head, b, it, order_for);
}

} // namespace

TARN_EXPORT tarn_node *tarn_get_first_node_in_range(const tarn_head *head, const void *low_key,
                                                    const void *high_key, tarn_node **out) {
    check_descriptor(head, __func__);
    return first_in_range(head, {low_key, high_key}, out, ceiling_within{});
}

TARN_EXPORT tarn_node *tarn_get_first_node_in_range2(const tarn_head *head, const void *low_key,
                                                     const void *high_key, tarn_node **out) {
    check_descriptor(head, __func__);
    return first_in_range(head, {low_key, high_key}, out, equal_or_next_within{});
}

// A NULL byte-wise bound fails the step at once: wherever a next node
// exists it would be read, unless the other bound had already failed it.
TARN_EXPORT tarn_node *tarn_get_next_node_in_range(const tarn_head *head, const void *low_key,
                                                   const void *high_key, tarn_iterator *iterator) {
    check_descriptor(head, __func__);
    if (!iterator) return nullptr;
    check_cursor(iterator, __func__);
    bounds b{low_key, high_key};
    if (!head || null_probe_without_comparator(head, low_key) ||
        null_probe_without_comparator(head, high_key))
        return iterator->current = nullptr;
    return with_key_order(
        *head, [&](auto order_for) { return advance_in_range(head, b, iterator, order_for); });
}
