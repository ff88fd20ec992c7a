// tarn.hpp: a typed C++ face for tarn.h, header-only, for C++17 and later.
//
// The tree is named by its record and two of the record's members, so no
// offset ever appears in user code:
//
//     struct timer {
//         void (*fire)(timer &);
//         tarn_node link;             // the tree's node, anywhere in the record
//         std::uint8_t deadline[8];   // the key: big-endian nanoseconds
//     };
//     tarn::tree<timer, &timer::link, &timer::deadline> timers;
//
//     timers.insert(t);                       // false: key already there
//     timer *due = timers.first();            // earliest, or nullptr
//     for (timer &t : timers) ...             // in key order
//     for (timer &t : timers.range(lo, hi))   // lo <= key <= hi
//     timers.find(keys, n, out);              // n keys at once, interleaved
//     timers.erase(*due);
//     timers.clear();                         // unlinks all, O(n)
//
// Every member but clear() and the iterators' steps is one C call (or a
// field read) on the tree's tarn_head, which is the tree's only state: no
// allocation, no hidden bookkeeping, and each call keeps the behaviour
// tarn.h documents for it. clear() and the steps of iterators and range
// views follow the links themselves, inline; the steps answer as the C
// steps (a range view's under an order that answers consistently). Anything
// not covered here (walks, printing, balance checks, probe searches,
// replicas, lookups with an extra value) is reached with the C calls through
// head(), record_of() and node_of().
//
// Ordering is byte-wise over the key member by default. Another order is a
// type whose static member `compare` is a tarn_compare_fn, given as the
// fourth argument; tarn::order_by<Key> builds one from operator<=> (from
// operator< before C++20).
#ifndef TARN_HPP
#define TARN_HPP

#if defined(__cpp_impl_three_way_comparison) && __has_include(<compare>)
#include <compare>
#endif
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <type_traits>

#include "tarn.h"
#include "tarn/bytewise.hpp"
#include "tarn/descent.hpp"
#include "tarn/steps.hpp"

namespace tarn {

// The default order: memcmp over the key's bytes (the descriptor's compare
// stays NULL, so the library's byte-wise fast paths apply).
struct bytewise {};

namespace detail {

template <class MemberPointer>
struct member_traits;
template <class Record, class Member>
struct member_traits<Member Record::*> {
    using record = Record;
    using member = Member;
};

// Storage shaped like Record in which no Record is ever constructed: only
// member addresses are formed, nothing is read or written through them.
template <class Record>
union layout_probe {
    char none;
    Record record;
    layout_probe() : none() {}
    ~layout_probe() {}
};

// offsetof for a member named by pointer. The operands are known at compile
// time, so optimised code sees a constant; standard layout (checked by the
// tree) makes the offset the same in every record.
template <auto Member>
inline std::size_t offset_of() noexcept {
    using Record = typename member_traits<decltype(Member)>::record;
    layout_probe<Record> probe;
    return std::size_t(reinterpret_cast<const unsigned char *>(&(probe.record.*Member)) -
                       reinterpret_cast<const unsigned char *>(&probe.record));
}

// Whether Order has a static compare usable as a tarn_compare_fn.
template <class Order, class = void>
struct has_compare : std::false_type {};
template <class Order>
struct has_compare<Order, std::void_t<decltype(&Order::compare)>>
    : std::is_convertible<decltype(&Order::compare), tarn_compare_fn> {};

template <class Order>
inline tarn_compare_fn compare_of() noexcept {
    if constexpr (std::is_same_v<Order, bytewise>)
        return nullptr;
    else
        return &Order::compare;
}

// A key copied out of bytes that carry no alignment promise.
template <class Key>
inline Key copied_key(const void *bytes) noexcept {
    Key key;
    std::memcpy(&key, bytes, sizeof(Key));
    return key;
}

} // namespace detail

// An order built from the comparison of typed keys, e.g.
// order_by<std::uint64_t> for numeric order of a native integer key. Keys are
// copied out before comparing: the probe side may be a cursor's saved key,
// which carries no alignment promise. With C++20 it makes one three-way
// comparison (std::compare_three_way, or the one given); before, it asks
// operator< up to twice.
#if defined(__cpp_lib_three_way_comparison) && __cpp_lib_three_way_comparison >= 201907L
template <class Key, auto ThreeWay = std::compare_three_way{}>
struct order_by {
    static_assert(std::is_trivially_copyable_v<Key>, "keys are copied as bytes");
    static std::uint32_t compare(const void *tree_side, const void *probe) noexcept {
        const auto order = std::invoke(ThreeWay, detail::copied_key<Key>(tree_side),
                                       detail::copied_key<Key>(probe));
        return std::is_gt(order)   ? TARN_CMP_GREATER
               : std::is_lt(order) ? TARN_CMP_LESS
                                   : TARN_CMP_EQUAL;
    }
};
#else
template <class Key>
struct order_by {
    static_assert(std::is_trivially_copyable_v<Key>, "keys are copied as bytes");
    static std::uint32_t compare(const void *tree_side, const void *probe) noexcept {
        const Key tree_key = detail::copied_key<Key>(tree_side);
        const Key probe_key = detail::copied_key<Key>(probe);
        return tree_key < probe_key   ? TARN_CMP_LESS
               : probe_key < tree_key ? TARN_CMP_GREATER
                                      : TARN_CMP_EQUAL;
    }
};
#endif

template <class Record, tarn_node Record::*Node, auto Key, class Order = bytewise>
class tree {
    using key_traits = detail::member_traits<decltype(Key)>;

  public:
    using record_type = Record;
    using key_type = typename key_traits::member;
    using order_type = Order;

    static_assert(std::is_standard_layout_v<Record>,
                  "records need standard layout: the node and key sit at fixed offsets");
    static_assert(std::is_same_v<typename key_traits::record, Record>,
                  "the key must be a member of the record");
    static_assert(std::is_trivially_copyable_v<key_type>,
                  "the key is compared and saved as plain bytes");
    static_assert(sizeof(key_type) <= TARN_MAX_KEY_LEN, "keys are at most 140 bytes");
    static_assert(std::is_same_v<Order, bytewise> || detail::has_compare<Order>::value,
                  "an order is a type with a static tarn_compare_fn named compare");

    // Record and node addresses of the same record, for mixing in C calls.
    static tarn_node *node_of(Record &record) noexcept { return &(record.*Node); }
    static Record *record_of(tarn_node *node) noexcept { return node ? record_at(node) : nullptr; }

    template <class Step>
    class node_iterator;
    struct link_step;
    using iterator = node_iterator<link_step>;
    class range_view;
    class cursor;
    class range_cursor;

    tree() noexcept { configure(); }

    // No node points at the descriptor (the root's parent is NULL), so the
    // descriptor may move: the new tree takes every record, the old one is
    // left empty and ready. A C replica made of the old descriptor, and any
    // scan of it, would still point at the old address. Assignment is left
    // out, since it would have to orphan the target's records; use swap.
    tree(tree &&other) noexcept : head_(other.head_) {
        other.head_.root = nullptr;
        other.configure();
    }
    tree(const tree &) = delete;
    tree &operator=(const tree &) = delete;
    tree &operator=(tree &&) = delete;
    void swap(tree &other) noexcept {
        const tarn_head mine = head_;
        head_ = other.head_;
        other.head_ = mine;
    }
    friend void swap(tree &a, tree &b) noexcept { a.swap(b); }

    // Nothing to tear down: records left linked keep in_tree set until they
    // are inserted again (insert resets a node) or forgotten. The checked
    // build refuses to insert such a record: erase it first, or zero its node.
    ~tree() = default;

    // Links record, whose key is in place. false, with the record unlinked,
    // when a linked record has an equal key; the record must not be linked
    // in any tree, since its node is zeroed first either way (the checked
    // build aborts on a node whose in_tree reads 1).
    bool insert(Record &record) noexcept { return tarn_insert(&head_, node_of(record)) != 0; }

    // Unlinks record; does nothing when it is not linked. It must not be
    // linked in another tree.
    void erase(Record &record) noexcept { tarn_delete(&head_, node_of(record)); }

    // Unlinks every record in O(n), without rebalancing or comparing: each
    // record is left as erase leaves it (in_tree 0, NULL links, balance as
    // it was) and the tree empty, ready for new records.
    void clear() noexcept {
        clear_and_dispose([](Record &) noexcept {});
    }
    // As clear(), handing each record to dispose(Record &) after unlinking
    // it, in no particular order, so dispose may free it. The tree already
    // reads as empty while dispose runs. dispose must not throw.
    template <class Dispose>
    void clear_and_dispose(Dispose dispose) noexcept {
        tarn_node *node = head_.root;
        head_.root = nullptr;
        head_.count = 0;
        // Post-order without a stack: descend to a leaf, cut it off its
        // parent, carry on from the parent.
        while (node) {
            if (node->left) {
                node = node->left;
            } else if (node->right) {
                node = node->right;
            } else {
                tarn_node *parent = node->parent;
                if (parent) (parent->left == node ? parent->left : parent->right) = nullptr;
                node->in_tree = 0;
                node->parent = nullptr;
                dispose(*record_at(node));
                node = parent;
            }
        }
    }

    std::size_t size() const noexcept { return std::size_t(head_.count); }
    bool empty() const noexcept { return head_.root == nullptr; }

    // The tree does not own its records: a const tree keeps its links, the
    // records it hands out are still the caller's to change (but not their
    // keys while linked).
    Record *find(const key_type &key) const noexcept {
        return record_of(tarn_lookup(&head_, &key));
    }
    bool contains(const key_type &key) const noexcept { return find(key) != nullptr; }
    // The equal record, else the nearest below (floor) or above (ceiling).
    Record *floor(const key_type &key) const noexcept {
        return record_of(tarn_lookup_le(&head_, &key));
    }
    Record *ceiling(const key_type &key) const noexcept {
        return record_of(tarn_lookup_ge(&head_, &key));
    }

    // Batched lookups: out[i] is what find(keys[i]) (floor, ceiling)
    // returns, for every i below count. The descents of a batch run
    // interleaved, so that their waits for memory overlap: on trees larger
    // than the caches a batch answers several times faster per key than
    // single calls. The tree must not change while a batch runs.
    void find(const key_type *keys, std::size_t count, Record **out) const noexcept {
        find(head_, keys, count, out);
    }
    void floor(const key_type *keys, std::size_t count, Record **out) const noexcept {
        floor(head_, keys, count, out);
    }
    void ceiling(const key_type *keys, std::size_t count, Record **out) const noexcept {
        ceiling(head_, keys, count, out);
    }
    // The same over a descriptor that C code owns: out[i] is what
    // tarn_lookup (tarn_lookup_le, tarn_lookup_ge) returns for keys[i], as a
    // record. Interleaved when head is a primary set up as this type sets up
    // its own (the offsets of Node and Key, the key's size, Order's
    // comparator), else one call per key. This is how C programs batch: a small C++ file
    // that names their record type here.
    static void find(const tarn_head &head, const key_type *keys, std::size_t count,
                     Record **out) noexcept {
        batch<detail::SteerExact>(head, keys, count, out, tarn_lookup);
    }
    static void floor(const tarn_head &head, const key_type *keys, std::size_t count,
                      Record **out) noexcept {
        batch<detail::SteerBound<detail::Left>>(head, keys, count, out, tarn_lookup_le);
    }
    static void ceiling(const tarn_head &head, const key_type *keys, std::size_t count,
                        Record **out) noexcept {
        batch<detail::SteerBound<detail::Right>>(head, keys, count, out, tarn_lookup_ge);
    }

    // The nearest record strictly above or below key.
    Record *next_after(const key_type &key) const noexcept {
        return record_of(tarn_get_next_node_from_key(&head_, &key));
    }
    Record *prev_before(const key_type &key) const noexcept {
        return record_of(tarn_get_previous_node_from_key(&head_, &key));
    }
    Record *first() const noexcept { return record_of(tarn_get_first_node(&head_, nullptr)); }

    // Forward iteration in key order. Each step follows links only, inline,
    // so the tree must not change while an iterator is in use: erasing the
    // record an iterator stands on ends that iteration early. To change the
    // tree during a pass, use scan() and yield().
    iterator begin() const noexcept { return iterator(tarn_get_first_node(&head_, nullptr)); }
    iterator end() const noexcept { return iterator(); }

    // The records with low <= key <= high, in key order (empty when low lies
    // above high). The view keeps copies of both bounds.
    range_view range(const key_type &low, const key_type &high) const noexcept {
        return range_view(head_, low, high);
    }

    // Scans that may let go of the tree between steps, see cursor below.
    cursor scan() const noexcept { return cursor(head_); }
    range_cursor scan(const key_type &low, const key_type &high) const noexcept {
        return range_cursor(head_, low, high);
    }

    // The descriptor, for the C calls this interface leaves out.
    tarn_head *head() noexcept { return &head_; }
    const tarn_head *head() const noexcept { return &head_; }

  private:
    // The library's order bound to a probe: a node's key address to a code.
    struct compare_order {
        const void *probe;
        std::uint32_t operator()(const void *key) const noexcept {
            return Order::compare(key, probe);
        }
    };
    static auto order_for(const void *probe) noexcept {
        if constexpr (std::is_same_v<Order, bytewise>)
            return detail::bytewise_order<sizeof(key_type)>(probe);
        else
            return compare_order{probe};
    }
    static std::uint32_t node_code(tarn_node *node, const void *probe) noexcept {
        return order_for(probe)(&(record_at(node)->*Key));
    }

    // Descents of a batch in flight at once: enough for a level's cache
    // misses to overlap, few enough for the lanes to stay in L1. A tree
    // that fits in the caches has no wait to overlap: its batches descend
    // one key after another, inline. Both by measurement
    // (bench/results/batch.md).
    static constexpr std::size_t kBatchGroup = 32;

    template <class Steer>
    static void batch(const tarn_head &head, const key_type *keys, std::size_t count, Record **out,
                      tarn_node *(*single)(const tarn_head *, const void *)) noexcept {
        // A replica, or a descriptor set up otherwise, may search a tree its
        // order does not order: one call per key.
        const tarn_head *h = &head;
        if (h->compare != detail::compare_of<Order>() || h->key_length != sizeof(key_type) ||
            h->node_offset != detail::offset_of<Node>() ||
            h->key_offset != detail::offset_of<Key>() || detail::may_search_foreign_order(*h)) {
            for (std::size_t i = 0; i < count; i++) out[i] = record_of(single(h, &keys[i]));
            return;
        }
        if (!h->root) {
            for (std::size_t i = 0; i < count; i++) out[i] = nullptr;
            return;
        }
        const auto delta = std::uintptr_t(detail::offset_of<Key>() - detail::offset_of<Node>());
        if (h->count <= detail::kTreeInCache) {
            for (std::size_t i = 0; i < count; i++)
                out[i] = record_of(
                    detail::answer_in_own_order<Steer>(h->root, delta, order_for(&keys[i])));
            return;
        }
        detail::descend_interleaved<Steer, kBatchGroup>(
            h->root, delta, count, [keys](std::size_t i) { return order_for(&keys[i]); },
            [out](std::size_t i, tarn_node *n) { out[i] = record_of(n); });
    }

    static Record *record_at(tarn_node *node) noexcept {
        return reinterpret_cast<Record *>(reinterpret_cast<unsigned char *>(node) -
                                          detail::offset_of<Node>());
    }

    void configure() noexcept {
        // Cannot fail: the key length was checked above.
        tarn_init_new(&head_, detail::offset_of<Node>(), sizeof(key_type), detail::offset_of<Key>(),
                      detail::compare_of<Order>(), nullptr);
    }

    tarn_head head_{};
};

// A forward iterator holding one node; Step finds the node after it.
template <class Record, tarn_node Record::*Node, auto Key, class Order>
template <class Step>
class tree<Record, Node, Key, Order>::node_iterator : private Step {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Record;
    using difference_type = std::ptrdiff_t;
    using pointer = Record *;
    using reference = Record &;

    node_iterator() noexcept = default;
    explicit node_iterator(tarn_node *node, Step step = {}) noexcept : Step(step), node_(node) {}

    Record &operator*() const noexcept { return *record_at(node_); }
    Record *operator->() const noexcept { return record_at(node_); }
    node_iterator &operator++() noexcept {
        node_ = Step::operator()(node_);
        return *this;
    }
    node_iterator operator++(int) noexcept {
        node_iterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const node_iterator &other) const noexcept { return node_ == other.node_; }
    bool operator!=(const node_iterator &other) const noexcept { return node_ != other.node_; }

    tarn_node *node() const noexcept { return node_; }

  private:
    tarn_node *node_ = nullptr;
};

// tarn_get_next_node on a holding cursor: follows links, never reads the
// descriptor.
template <class Record, tarn_node Record::*Node, auto Key, class Order>
struct tree<Record, Node, Key, Order>::link_step {
    tarn_node *operator()(tarn_node *node) const noexcept {
        return detail::step<detail::Right>(node);
    }
};

namespace detail {

// A key copied into storage aligned for its type, handed to C calls by
// address.
template <class Key>
struct key_copy {
    alignas(Key) unsigned char bytes[sizeof(Key)];
    explicit key_copy(const Key &key) noexcept { std::memcpy(bytes, &key, sizeof(Key)); }
    const void *get() const noexcept { return bytes; }
};

} // namespace detail

template <class Record, tarn_node Record::*Node, auto Key, class Order>
class tree<Record, Node, Key, Order>::range_view {
    // tarn_get_next_node_in_range on a holding cursor: the successor while
    // it is not above high. A view starts at the first record not below low
    // and only climbs, so the C step's check against low, which cannot fail
    // under an order that is consistent, is left out.
    struct bound_step {
        const range_view *view = nullptr;
        tarn_node *operator()(tarn_node *node) const noexcept {
            tarn_node *next = detail::step<detail::Right>(node);
            if (!next) return nullptr;
            std::uint32_t r = node_code(next, view->high_.get());
            return r == TARN_CMP_EQUAL || r == TARN_CMP_LESS ? next : nullptr;
        }
    };

  public:
    using iterator = node_iterator<bound_step>;

    range_view(const tarn_head &head, const key_type &low, const key_type &high) noexcept
        : head_(&head), low_(low), high_(high) {}

    iterator begin() const noexcept {
        return iterator(tarn_get_first_node_in_range(head_, low_.get(), high_.get(), nullptr),
                        bound_step{this});
    }
    iterator end() const noexcept { return iterator(nullptr, bound_step{this}); }
    bool empty() const noexcept { return begin() == end(); }

  private:
    const tarn_head *head_;
    detail::key_copy<key_type> low_, high_;
};

// A cursor over the whole tree that can let go of it. yield() saves the
// current key and drops the node; the tree may then change in any way, and
// the next step finds the first key above the saved one among the records
// linked by then. Without a yield the tree must not change while the scan
// stands on a record.
//
//     auto s = timers.scan();
//     for (timer *t = s.first(); t; t = s.next()) {
//         fire(*t);
//         s.yield();
//         timers.erase(*t);   // the tree may change now
//     }
//
// As with the C cursor, the end is not remembered: after a step returns
// nullptr the next step searches again from the last saved key, so stop at
// the first nullptr (or start over with first() or seek()). The cursor
// starts zeroed, so its saved key is all zero bytes until a yield or seek().
template <class Record, tarn_node Record::*Node, auto Key, class Order>
class tree<Record, Node, Key, Order>::cursor {
  public:
    explicit cursor(const tarn_head &head) noexcept : head_(&head) {}

    // Stands on the smallest record; nullptr (and detached) when empty.
    Record *first() noexcept {
        tarn_init_iterator(head_, &cursor_);
        return record_of(tarn_get_first_node(head_, &cursor_.current));
    }
    // Detaches at key: next() then gives the first record above key and
    // prev() the last below it; a record whose key is key is skipped.
    void seek(const key_type &key) noexcept {
        tarn_init_iterator(head_, &cursor_);
        std::memcpy(cursor_.saved_key, &key, sizeof(key_type));
    }
    Record *next() noexcept { return record_of(tarn_get_next_node(head_, &cursor_)); }
    Record *prev() noexcept { return record_of(tarn_get_previous_node(head_, &cursor_)); }
    void yield() noexcept { tarn_pre_sched_yield(head_, &cursor_); }

    // The record stood on; nullptr after a yield or at the end.
    Record *current() const noexcept { return record_of(cursor_.current); }
    // The C cursor, for the C calls (e.g. tarn_get_previous_node).
    tarn_iterator &raw() noexcept { return cursor_; }

  private:
    const tarn_head *head_;
    tarn_iterator cursor_{};
};

// A scan over low <= key <= high, which may yield as cursor does. It ends at
// the first record past high; one placed below low (by seek()) ends it too.
template <class Record, tarn_node Record::*Node, auto Key, class Order>
class tree<Record, Node, Key, Order>::range_cursor {
  public:
    range_cursor(const tarn_head &head, const key_type &low, const key_type &high) noexcept
        : head_(&head), low_(low), high_(high) {}

    Record *first() noexcept {
        tarn_init_iterator(head_, &cursor_);
        return record_of(
            tarn_get_first_node_in_range(head_, low_.get(), high_.get(), &cursor_.current));
    }
    void seek(const key_type &key) noexcept {
        tarn_init_iterator(head_, &cursor_);
        std::memcpy(cursor_.saved_key, &key, sizeof(key_type));
    }
    Record *next() noexcept {
        return record_of(tarn_get_next_node_in_range(head_, low_.get(), high_.get(), &cursor_));
    }
    void yield() noexcept { tarn_pre_sched_yield(head_, &cursor_); }

    Record *current() const noexcept { return record_of(cursor_.current); }
    // The C cursor, for the C calls (e.g. tarn_get_previous_node).
    tarn_iterator &raw() noexcept { return cursor_; }

  private:
    const tarn_head *head_;
    detail::key_copy<key_type> low_, high_;
    tarn_iterator cursor_{};
};

} // namespace tarn

#endif // TARN_HPP
