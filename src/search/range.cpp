// Range scans over inclusive bounds: the two first-node searches and the
// cursor step that ends at the first node outside the bounds.
#include "../detail.hpp"

using namespace tarn::detail;

namespace {

// The checks against a bound: a node passes the lower bound on 0 or 1 and
// the upper bound on 0 or 2; first_in_range's upper check drops only on 1.
constexpr bool not_below(uint32_t r) { return r == TARN_CMP_EQUAL || r == TARN_CMP_GREATER; }
constexpr bool not_above(uint32_t r) { return r == TARN_CMP_EQUAL || r == TARN_CMP_LESS; }

struct Bounds {
    const void *low, *high;
};

// A range step's two checks, high's only when low's passes. Single words
// compare as plain integers, where a code per check would branch twice: a
// byte-wise code is only ever 0, 1 or 2 and calls nothing, so low <= key
// <= high is exactly "low's code is 0 or 1 and high's is 0 or 2".
template <class Order>
bool within(const Order &low, const Order &high, const void *key) {
    if constexpr (kSingleWord<Order>) {
        auto word = load_big_endian<decltype(low.probe)>(key);
        return low.probe <= word && word <= high.probe;
    } else {
        return not_below(low(key)) && not_above(high(key));
    }
}

// Shared entry of the two first-node calls: resolves the tree, runs `find`
// with low bound to the descriptor's comparison and `above` giving a node's
// code against high, stores the result. A byte-wise high that is NULL
// reads as below every node, so the call fails where it would read it.
template <class Find>
tarn_node *first_in_range(const tarn_head *head, Bounds b, tarn_node **out, Find find) {
    tarn_node *root = effective_root(head);
    tarn_node *found = nullptr;
    if (root && !unreadable_probe(head, b.low)) {
        uintptr_t delta = key_delta(head);
        bool high_unreadable = unreadable_probe(head, b.high);
        found = with_key_order(head, [&](auto bind) {
            auto against_high = [&](tarn_node *n) {
                return high_unreadable ? TARN_CMP_GREATER : bind(b.high)(key_at(n, delta));
            };
            return find(root, delta, bind(b.low), against_high);
        });
    }
    if (out) *out = found;
    return found;
}

// Ceiling of low, dropped only when it lies above high.
struct CeilingWithin {
    template <class Order, class AgainstHigh>
    tarn_node *operator()(tarn_node *root, uintptr_t delta, const Order &low,
                          AgainstHigh against_high) const {
        tarn_node *n = bound<Right>(root, delta, low);
        return n && against_high(n) == TARN_CMP_GREATER ? nullptr : n;
    }
};

// A node equal to low at once; else the first node above low, within high.
struct EqualOrNextWithin {
    template <class Order, class AgainstHigh>
    tarn_node *operator()(tarn_node *root, uintptr_t delta, const Order &low,
                          AgainstHigh against_high) const {
        Descent s = descend<SteerExact>(root, delta, low);
        if (s.hit) return s.hit;
        tarn_node *n = nullptr;
        uint32_t r = code_at_end(s, delta, low);
        if (r == TARN_CMP_GREATER) {
            n = s.end;
        } else if (r == TARN_CMP_LESS) {
            tarn_node *next = step<Right>(s.end);
            if (next && low(key_at(next, delta)) == TARN_CMP_GREATER) n = next;
        }
        return n && not_above(against_high(n)) ? n : nullptr;
    }
};

// The node after the cursor's place, before the bound checks.
template <class Order>
tarn_node *next_after_saved_key(tarn_node *root, uintptr_t delta, const Order &saved) {
    Descent s = descend<SteerExact>(root, delta, saved);
    if (s.hit) return step<Right>(s.hit);
    uint32_t r = code_at_end(s, delta, saved);
    if (r == TARN_CMP_GREATER) return s.end;
    if (r == TARN_CMP_LESS) return step<Right>(s.end);
    return nullptr;
}

template <class Bind>
tarn_node *next_in_range(const tarn_head *head, Bounds b, tarn_iterator *it, Bind bind) {
    tarn_node *root = it->current ? nullptr : effective_root(head);
    if (!it->current && !root) return nullptr;
    uintptr_t delta = key_delta(head);
    tarn_node *n = it->current ? step<Right>(it->current)
                               : next_after_saved_key(root, delta, bind(it->saved_key));
    return n && within(bind(b.low), bind(b.high), key_at(n, delta)) ? n : nullptr;
}

// One function per comparison, entered by a jump: those that call nothing
// need no stack frame, which a shared body would make every scan step pay.
template <class Bind>
[[gnu::noinline]] tarn_node *advance_in_range(const tarn_head *head, Bounds b, tarn_iterator *it,
                                              Bind bind) {
    return it->current = next_in_range(head, b, it, bind);
}

} // namespace

TARN_EXPORT tarn_node *tarn_get_first_node_in_range(const tarn_head *head, const void *low_key,
                                                    const void *high_key, tarn_node **out) {
    check_descriptor(head, __func__);
    return first_in_range(head, {low_key, high_key}, out, CeilingWithin{});
}

TARN_EXPORT tarn_node *tarn_get_first_node_in_range2(const tarn_head *head, const void *low_key,
                                                     const void *high_key, tarn_node **out) {
    check_descriptor(head, __func__);
    return first_in_range(head, {low_key, high_key}, out, EqualOrNextWithin{});
}

TARN_EXPORT tarn_node *tarn_get_next_node_in_range(const tarn_head *head, const void *low_key,
                                                   const void *high_key, tarn_iterator *iterator) {
    check_descriptor(head, __func__);
    if (!iterator) return nullptr;
    check_cursor(iterator, __func__);
    Bounds b{low_key, high_key};
    if (!head || unreadable_probe(head, low_key) || unreadable_probe(head, high_key))
        return iterator->current = nullptr;
    return with_key_order(head,
                          [&](auto bind) { return advance_in_range(head, b, iterator, bind); });
}
