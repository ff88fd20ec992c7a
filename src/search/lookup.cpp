// Key lookups: equality, floor, ceiling, record address and first node.
#include "../detail.hpp"

using namespace tarn::detail;

namespace {

// One function per comparison, entered by a jump: those that call nothing
// need no stack frame, which a body shared with the comparator's calls would
// make every lookup pay.
template <class Steer, class Order, class Pick>
[[gnu::noinline]] tarn_node *descend_and_pick(tarn_node *root, uintptr_t delta, Order order,
                                              Pick pick) {
    return pick(descend<Steer>(root, delta, order));
}

// Runs one descent from the effective root and returns what `pick` chooses
// of it; every failure is NULL.
template <class Steer, class Pick>
tarn_node *key_descent(const tarn_head *head, const void *key, Pick pick) {
    tarn_node *root = effective_root(head);
    if (!root || unreadable_probe(head, key)) return nullptr;
    uintptr_t delta = key_delta(head);
    return with_key_order(
        head, [&](auto bind) { return descend_and_pick<Steer>(root, delta, bind(key), pick); });
}

// Function objects rather than functions, so each descent inlines its pick.
constexpr auto hit = [](const Descent &s) { return s.hit; };
constexpr auto hit_or_candidate = [](const Descent &s) { return s.hit ? s.hit : s.candidate; };

tarn_node *leftmost_into(const tarn_head *head, tarn_node **out) {
    tarn_node *root = effective_root(head);
    if (!root) return nullptr;
    tarn_node *first = outermost<Left>(root);
    if (out) *out = first;
    return first;
}

} // namespace

TARN_EXPORT tarn_node *tarn_lookup(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return key_descent<SteerExact>(head, key, hit);
}

TARN_EXPORT tarn_node *tarn_lookup_exact(const tarn_head *head, const void *key, uint32_t extra) {
    check_descriptor(head, __func__);
    tarn_node *root = effective_root(head);
    if (!root) return nullptr;
    uintptr_t delta = key_delta(head);
    if (tarn_compare_exact_fn fn = head->compare_exact)
        return descend<SteerExact>(root, delta, ExactCallbackOrder{fn, key, extra}).hit;
    // Byte-wise: compare plays no part in this call, even when set.
    if (unreadable_bytes(head, key)) return nullptr;
    return with_bytewise_order(
        head, [&](auto bind) { return descend<SteerExact>(root, delta, bind(key)).hit; });
}

TARN_EXPORT tarn_node *tarn_lookup_le(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return key_descent<SteerBound<Left>>(head, key, hit_or_candidate);
}

TARN_EXPORT tarn_node *tarn_lookup_ge(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return key_descent<SteerBound<Right>>(head, key, hit_or_candidate);
}

TARN_EXPORT void *tarn_lookup_user_data(const tarn_head *head, const void *key) {
    check_descriptor(head, __func__);
    return record_of(tarn_lookup(head, key), head);
}

TARN_EXPORT tarn_node *tarn_get_first_node(const tarn_head *head, tarn_node **out) {
    check_descriptor(head, __func__);
    return leftmost_into(head, out);
}

TARN_EXPORT void *tarn_get_first_user_data(const tarn_head *head, tarn_node **out) {
    check_descriptor(head, __func__);
    return record_of(leftmost_into(head, out), head);
}
