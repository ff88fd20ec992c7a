// SPDX-License-Identifier: MIT
// tarn.hpp: a typed C++ face for tarn.h, header-only, for C++17 and later.
//
// An ordered container of the caller's records, as intrusive as tarn.h: the
// tree is named by its record and two of the record's members, so no offset
// ever appears in user code, and it never allocates.
//
//     struct timer {
//         void (*fire)(timer &);
//         tarn::hook link;              // the tree's node: starts unlinked
//         std::uint64_t deadline;       // the key: integers order numerically
//     };
//     tarn::tree<timer, &timer::link, &timer::deadline> timers;
//
//     timers.insert(t);                         // false: key already there
//     auto it = timers.insert(timers.end(), t); // hinted: O(1) for an append
//     for (timer &t : timers) ...               // in key order; also reversed
//     it = timers.erase(it);                    // the record after it
//     timer *due = timers.first();              // earliest, or nullptr
//     for (timer &t : timers.range(lo, hi))     // lo <= key <= hi
//     t.deadline += 10; timers.reposition(t);   // after a change of key
//     timers.find(keys, n, out);                // n keys at once, interleaved
//
// Every change and search runs inline on the core of tarn's algorithms
// (include/tarn/), under the order the type names, with the answers tarn.h
// documents for the matching C call. The tree's descriptor holds that
// order's C comparator too, so the C calls on head() answer the same.
//
// Orders. Integral and enumeration keys order numerically, arrays of bytes
// byte-wise (memcmp's order), by default. Any other key names its order:
// tarn::bytewise (for a key without padding bits), tarn::order_by<Key>
// (operator<=> under C++20, operator< before), tarn::order_by<Key, f> (f a
// three-way comparison, or a "less" returning bool), or a type whose static
// `compare` is a tarn_compare_fn.
//
// Safe by default. A build of the user's program without NDEBUG stops, with
// one line naming the call, at inserting a linked record, erasing a record
// linked in another tree, and stepping an iterator past either end. With
// NDEBUG none of it is checked, and none of it costs anything. A record
// whose node is a tarn::hook starts unlinked; records still linked when
// their tree is destroyed are left unlinked.
#ifndef TARN_HPP
#define TARN_HPP

#if defined(__cpp_impl_three_way_comparison) && __has_include(<compare>)
#include <compare>
#endif
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <type_traits>
#include <utility>

#include "tarn.h"
#include "tarn/algebra.hpp"
#include "tarn/batch.hpp"
#include "tarn/build.hpp"
#include "tarn/removal.hpp"
#include "tarn/searches.hpp"

// What a build without NDEBUG stops: one line naming the call and the
// misuse on standard error, then abort. With NDEBUG nothing is checked.
#ifdef NDEBUG
#define TARN_EXPECT(cond, call, what) static_cast<void>(0)
#else
#define TARN_EXPECT(cond, call, what)                                                              \
    ((cond) ? static_cast<void>(0) : ::tarn::detail::misuse(call, what))
#endif

namespace tarn {

// The byte-wise order, memcmp's over the key's bytes: the descriptor's
// compare stays NULL, and the library's byte-wise fast paths apply.
struct bytewise {};

// A node that starts unlinked: records whose node member is a hook need no
// zeroing. A copy starts unlinked too, and assignment leaves a record's own
// links alone, as a copy of a linked record is not linked.
struct hook : tarn_node {
    constexpr hook() noexcept : tarn_node{} {}
    constexpr hook(const hook &) noexcept : tarn_node{} {}
    hook &operator=(const hook &) noexcept { return *this; }
};

namespace detail {

[[noreturn, gnu::cold]] inline void misuse(const char *call, const char *what) noexcept {
    std::fprintf(stderr, "%s: %s\n", call, what);
    std::abort();
}

// Whether n objects at a and m at b share no byte.
template <class A, class B>
inline bool apart(const A *a, std::size_t n, const B *b, std::size_t m) noexcept {
    const auto ia = reinterpret_cast<std::uintptr_t>(a), ib = reinterpret_cast<std::uintptr_t>(b);
    return ia + n * sizeof(A) <= ib || ib + m * sizeof(B) <= ia;
}

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

// A key copied out of bytes that carry no alignment promise.
template <class Key>
inline Key copied_key(const void *bytes) noexcept {
    Key key;
    std::memcpy(&key, bytes, sizeof(Key));
    return key;
}

// Keys compared as numbers: integers and enumerations, bool as a byte.
template <class Key>
inline constexpr bool numeric_v = std::is_integral_v<Key> || std::is_enum_v<Key>;
template <class Key, class = void>
struct numeric_word {
    using type = std::conditional_t<std::is_same_v<Key, bool>, unsigned char, Key>;
};
template <class Key>
struct numeric_word<Key, std::enable_if_t<std::is_enum_v<Key>>> {
    using type = std::underlying_type_t<Key>;
};

template <class Element>
inline constexpr bool byte_like_v =
    std::is_same_v<Element, char> || std::is_same_v<Element, signed char> ||
    std::is_same_v<Element, unsigned char> || std::is_same_v<Element, std::byte>;
template <class Key>
inline constexpr bool byte_array_v =
    std::is_array_v<Key> &&byte_like_v<std::remove_cv_t<std::remove_all_extents_t<Key>>>;

// A's code for a against b, from a three-way result or from "less".
template <class Key, auto Compare>
inline std::uint32_t code_of(const Key &a, const Key &b) noexcept {
    if constexpr (std::is_same_v<decltype(Compare), std::nullptr_t> && numeric_v<Key>) {
        return a == b ? TARN_CMP_EQUAL : a > b ? TARN_CMP_GREATER : TARN_CMP_LESS;
    } else if constexpr (std::is_same_v<decltype(Compare), std::nullptr_t>) {
#if defined(__cpp_lib_three_way_comparison) && __cpp_lib_three_way_comparison >= 201907L
        if constexpr (std::three_way_comparable<Key>)
            return code_of<Key, std::compare_three_way{}>(a, b);
        else
            return a < b ? TARN_CMP_LESS : b < a ? TARN_CMP_GREATER : TARN_CMP_EQUAL;
#else
        return a < b ? TARN_CMP_LESS : b < a ? TARN_CMP_GREATER : TARN_CMP_EQUAL;
#endif
    } else if constexpr (std::is_same_v<decltype(std::invoke(Compare, a, b)), bool>) {
        return std::invoke(Compare, a, b)   ? TARN_CMP_LESS
               : std::invoke(Compare, b, a) ? TARN_CMP_GREATER
                                            : TARN_CMP_EQUAL;
    } else {
        const auto order = std::invoke(Compare, a, b);
#if defined(__cpp_lib_three_way_comparison) && __cpp_lib_three_way_comparison >= 201907L
        if constexpr (std::is_convertible_v<decltype(order), std::partial_ordering>)
            return std::is_lt(order)   ? TARN_CMP_LESS
                   : std::is_gt(order) ? TARN_CMP_GREATER
                                       : TARN_CMP_EQUAL;
        else
#endif
            return order < 0 ? TARN_CMP_LESS : order > 0 ? TARN_CMP_GREATER : TARN_CMP_EQUAL;
    }
}

} // namespace detail

// An order built from the comparison of typed keys, copied out of the
// record before comparing (the probe side may be a cursor's saved key,
// which carries no alignment promise). Compare: nullptr for the keys' own
// comparison (numeric for integers and enumerations; else operator<=> under
// C++20, operator< before), or a three-way comparison, or a "less"
// returning bool.
template <class Key, auto Compare = nullptr>
struct order_by {
    static_assert(std::is_trivially_copyable_v<Key>, "keys are copied as bytes");
    using key_type = Key;
    static std::uint32_t compare(const void *tree_side, const void *probe) noexcept {
        return detail::code_of<Key, Compare>(detail::copied_key<Key>(tree_side),
                                             detail::copied_key<Key>(probe));
    }
};

namespace detail {

// Whether Order has a static compare usable as a tarn_compare_fn.
template <class Order, class = void>
struct has_compare : std::false_type {};
template <class Order>
struct has_compare<Order, std::void_t<decltype(&Order::compare)>>
    : std::is_convertible<decltype(&Order::compare), tarn_compare_fn> {};

template <class Order>
struct order_traits { // a type whose static compare is a tarn_compare_fn
    static constexpr bool typed = false, numeric = false;
    template <class Key>
    static constexpr bool fits = true;
};
template <class OrderKey, auto Compare>
struct order_traits<order_by<OrderKey, Compare>> {
    static constexpr bool typed = true;
    static constexpr bool numeric =
        numeric_v<OrderKey> && std::is_same_v<decltype(Compare), std::nullptr_t>;
    using key_type = OrderKey;
    template <class Key>
    static constexpr bool fits = sizeof(Key) == sizeof(OrderKey);
};

struct no_default_order {};
template <class Key>
using default_order_t =
    std::conditional_t<numeric_v<Key>, order_by<Key>,
                       std::conditional_t<byte_array_v<Key>, bytewise, no_default_order>>;

template <class Order>
inline tarn_compare_fn compare_of() noexcept {
    if constexpr (std::is_same_v<Order, bytewise>)
        return nullptr;
    else
        return &Order::compare;
}

// An order's static compare, inlined, bound to a probe.
template <class Order>
struct static_order {
    const void *probe;
    std::uint32_t operator()(const void *key) const noexcept { return Order::compare(key, probe); }
};

// The order the core descends by, bound to a probe: byte-wise as the
// library compares, numbers as words, anything else by its compare.
template <class Order, class Key>
inline auto bound_order(const void *probe) noexcept {
    if constexpr (std::is_same_v<Order, bytewise>)
        return bytewise_order<sizeof(Key)>(probe);
    else if constexpr (order_traits<Order>::numeric)
        return native_word_order<
            typename numeric_word<typename order_traits<Order>::key_type>::type>(probe);
    else
        return static_order<Order>{probe};
}

// A record out of what an iterator over records gives: a reference or a
// pointer.
template <class Record, class Item>
inline Record &record_ref(Item &&item) noexcept {
    if constexpr (std::is_pointer_v<std::remove_reference_t<Item>>)
        return *item;
    else
        return item;
}

// A key copied into storage aligned for its type, handed to C calls by
// address.
template <class Key>
struct key_copy {
    alignas(Key) unsigned char bytes[sizeof(Key)];
    explicit key_copy(const Key &key) noexcept { std::memcpy(bytes, &key, sizeof(Key)); }
    const void *get() const noexcept { return bytes; }
};

} // namespace detail

// Summaries a tree keeps in each record, recomputed from the record and its
// two children's summaries through every change the tree makes: a policy
// type whose static summarize(Record &record, const Record *left, const
// Record *right) recomputes record's summary (a child is nullptr when
// absent) and returns whether it changed. It may also have gained(Record
// &ancestor, const Record &added) and lost(Record &ancestor, const Record
// &removed), called on the ancestors of a record linked or unlinked above
// what the change rearranged, whose subtrees differ by that record alone:
// each updates the summary by the difference and returns whether it
// changed, sparing the read of the other child at every level; without
// one, those ancestors are recomputed. no_summary keeps none, and costs
// nothing. Three are ready:
struct no_summary {};

// The number of records below each record, itself included, in its
// std::size_t member Size: nth, rank and count(low, high) in O(log n).
template <auto Size>
struct subtree_size {
    static constexpr auto size = Size;
    template <class Record>
    static bool summarize(Record &record, const Record *left, const Record *right) noexcept {
        using count = std::remove_reference_t<decltype(record.*Size)>;
        const count n = count(1 + (left ? left->*Size : 0) + (right ? right->*Size : 0));
        return std::exchange(record.*Size, n) != n;
    }
    template <class Record>
    static bool gained(Record &ancestor, const Record &) noexcept {
        return ++(ancestor.*Size), true;
    }
    template <class Record>
    static bool lost(Record &ancestor, const Record &) noexcept {
        return --(ancestor.*Size), true;
    }
};

// The largest Value below each record, itself included, in its member
// Largest: first_where finds, say, the lowest-addressed free extent of at
// least n bytes in O(log n).
template <auto Value, auto Largest>
struct largest_below {
    static constexpr auto value = Value, largest = Largest;
    template <class Record>
    static bool summarize(Record &record, const Record *left, const Record *right) noexcept {
        auto most = record.*Value;
        if (left && most < left->*Largest) most = left->*Largest;
        if (right && most < right->*Largest) most = right->*Largest;
        return std::exchange(record.*Largest, most) != most;
    }
    template <class Record>
    static bool gained(Record &ancestor, const Record &added) noexcept {
        if (!(ancestor.*Largest < added.*Value)) return false;
        return ancestor.*Largest = added.*Value, true;
    }
};

// Intervals [key, End) of a tree of numeric keys: the largest End below
// each record, in its member LargestEnd, for overlaps(a, b).
template <auto End, auto LargestEnd>
struct interval_ends : largest_below<End, LargestEnd> {};

namespace detail {
template <class Summary, class Record, class = void>
inline constexpr bool has_gained_v = false;
template <class Summary, class Record>
inline constexpr bool
    has_gained_v<Summary, Record,
                 std::void_t<decltype(Summary::gained(std::declval<Record &>(),
                                                      std::declval<const Record &>()))>> = true;
template <class Summary, class Record, class = void>
inline constexpr bool has_lost_v = false;
template <class Summary, class Record>
inline constexpr bool has_lost_v<Summary, Record,
                                 std::void_t<decltype(Summary::lost(
                                     std::declval<Record &>(), std::declval<const Record &>()))>> =
    true;
template <class Summary>
inline constexpr bool sized_v = false;
template <auto Size>
inline constexpr bool sized_v<subtree_size<Size>> = true;
template <class Summary>
inline constexpr bool intervals_v = false;
template <auto End, auto LargestEnd>
inline constexpr bool intervals_v<interval_ends<End, LargestEnd>> = true;
} // namespace detail

template <class Record, auto Node, auto Key,
          class Order =
              detail::default_order_t<typename detail::member_traits<decltype(Key)>::member>,
          class Summary = no_summary>
class tree {
    using key_traits = detail::member_traits<decltype(Key)>;
    using node_member = typename detail::member_traits<decltype(Node)>::member;
    using side = detail::side;
    static constexpr bool summarised = !std::is_same_v<Summary, no_summary>;
    // The core's hook: each node's summary, recomputed by Summary.
    struct summary_hook {
        static constexpr bool active = summarised;
        static bool refresh(tarn_node *n) noexcept {
            if constexpr (summarised)
                return Summary::summarize(*record_at(n), record_of(n->left), record_of(n->right));
            else
                return static_cast<void>(n), false;
        }
        static bool gained(tarn_node *n, const tarn_node *added) noexcept {
            if constexpr (detail::has_gained_v<Summary, Record>)
                return Summary::gained(*record_at(n), *record_at(const_cast<tarn_node *>(added)));
            else
                return static_cast<void>(added), refresh(n);
        }
        static bool lost(tarn_node *n, const tarn_node *removed) noexcept {
            if constexpr (detail::has_lost_v<Summary, Record>)
                return Summary::lost(*record_at(n), *record_at(const_cast<tarn_node *>(removed)));
            else
                return static_cast<void>(removed), refresh(n);
        }
    };
    using core_hook = std::conditional_t<summarised, summary_hook, detail::no_hook>;

  public:
    using record_type = Record;
    using key_type = typename key_traits::member;
    using order_type = Order;
    using summary_type = Summary;
    using value_type = Record;
    using reference = Record &;
    using pointer = Record *;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;

    static_assert(std::is_standard_layout_v<Record>,
                  "records need standard layout: the node and key sit at fixed offsets");
    static_assert(std::is_same_v<typename detail::member_traits<decltype(Node)>::record, Record> &&
                      (std::is_same_v<node_member, tarn_node> || std::is_same_v<node_member, hook>),
                  "the node is a tarn_node or tarn::hook member of the record");
    static_assert(std::is_same_v<typename key_traits::record, Record>,
                  "the key must be a member of the record");
    static_assert(std::is_trivially_copyable_v<key_type>,
                  "the key is compared and saved as plain bytes");
    static_assert(sizeof(key_type) <= TARN_MAX_KEY_LEN, "keys are at most 140 bytes");
    static_assert(!std::is_same_v<Order, detail::no_default_order>,
                  "keys other than integers, enumerations and byte arrays name their order: "
                  "tarn::bytewise or tarn::order_by<Key>");
    static_assert(!std::is_same_v<Order, bytewise> ||
                      std::has_unique_object_representations_v<key_type>,
                  "the byte-wise order compares every byte, and this key has bytes that are not "
                  "its value (padding, or a floating-point type): order it by tarn::order_by");
    static_assert(std::is_same_v<Order, bytewise> ||
                      std::is_same_v<Order, detail::no_default_order> ||
                      detail::has_compare<Order>::value,
                  "an order is tarn::bytewise, tarn::order_by, or a type with a static "
                  "tarn_compare_fn named compare");
    static_assert(detail::order_traits<Order>::template fits<key_type>,
                  "tarn::order_by<T> orders keys of T's size");

    // A bidirectional iterator: a node, and the descriptor for stepping back
    // from the end. Steps follow links only.
    class iterator {
      public:
        using iterator_category = std::bidirectional_iterator_tag;
        using iterator_concept = std::bidirectional_iterator_tag;
        using value_type = Record;
        using difference_type = std::ptrdiff_t;
        using pointer = Record *;
        using reference = Record &;

        iterator() noexcept = default;

        Record &operator*() const noexcept {
            TARN_EXPECT(node_, "tarn::tree::iterator", "dereference of end()");
            return *record_at(node_);
        }
        Record *operator->() const noexcept { return &**this; }
        iterator &operator++() noexcept {
            TARN_EXPECT(node_, "tarn::tree::iterator", "step past the end");
            node_ = detail::step<side::right>(node_);
            return *this;
        }
        iterator &operator--() noexcept {
            TARN_EXPECT(node_ || head_, "tarn::tree::iterator",
                        "step back from an end that knows no tree (reached from iterator_to)");
            if (node_)
                node_ = detail::step<side::left>(node_);
            else if (head_->root)
                node_ = detail::outermost<side::right>(head_->root);
            TARN_EXPECT(node_, "tarn::tree::iterator", "step before the first record");
            return *this;
        }
        iterator operator++(int) noexcept {
            iterator before = *this;
            ++*this;
            return before;
        }
        iterator operator--(int) noexcept {
            iterator before = *this;
            --*this;
            return before;
        }
        friend bool operator==(const iterator &a, const iterator &b) noexcept {
            return a.node_ == b.node_;
        }
        friend bool operator!=(const iterator &a, const iterator &b) noexcept {
            return a.node_ != b.node_;
        }

      private:
        friend class tree;
        iterator(tarn_node *node, const tarn_head *head) noexcept : node_(node), head_(head) {}
        tarn_node *node_ = nullptr;
        const tarn_head *head_ = nullptr;
    };
    using const_iterator = iterator;
    using reverse_iterator = std::reverse_iterator<iterator>;
    using const_reverse_iterator = reverse_iterator;
    class range_view;
    class cursor;
    class range_cursor;

    // Where insert_check found room for a key, for insert_commit. Valid
    // while the tree does not change.
    struct insert_commit_data {
        tarn_node *parent = nullptr;
        side at = side::left;
        std::uint64_t count = 0; // the tree's, checked by insert_commit without NDEBUG
    };

    // Record and node addresses of the same record, for mixing in C calls.
    static tarn_node *node_of(Record &record) noexcept { return &(record.*Node); }
    static Record *record_of(tarn_node *node) noexcept { return node ? record_at(node) : nullptr; }
    static bool is_linked(const Record &record) noexcept { return (record.*Node).in_tree == 1; }

    tree() noexcept { configure(); }

    // No node points at the descriptor (the root's parent is NULL), so a tree
    // may move: the new one takes every record, the old one is left empty and
    // ready. A C replica made of the old descriptor, and any scan of it,
    // would still point at the old address.
    tree(tree &&other) noexcept : head_(other.head_), last_(other.last_) { other.forget(); }
    tree &operator=(tree &&other) noexcept {
        if (this != &other) clear(), head_ = other.head_, last_ = other.last_, other.forget();
        return *this;
    }
    tree(const tree &) = delete;
    tree &operator=(const tree &) = delete;
    void swap(tree &other) noexcept {
        std::swap(head_, other.head_), std::swap(last_, other.last_);
    }
    friend void swap(tree &a, tree &b) noexcept { a.swap(b); }

    // Records still linked are left unlinked, as clear() leaves them.
    ~tree() { clear(); }

    // ---- Insertion ------------------------------------------------------

    // Links record, whose key is in place; false, with the record left
    // unlinked, when a linked record has an equal key.
    bool insert(Record &record) noexcept {
        expect_unlinked(record, "tarn::tree::insert");
        return link_by_key(record) == nullptr;
    }

    // Links record as insert does, and gives it, or the record whose key
    // blocked it. When record belongs just before hint (end() for a new
    // largest key), two comparisons at most find its place, and linking
    // takes amortised O(1); otherwise it descends as insert does. Either
    // way the tree takes the shape insert gives it.
    iterator insert(const_iterator hint, Record &record) noexcept {
        expect_unlinked(record, "tarn::tree::insert");
        const auto order = bind(key_address(record));
        tarn_node *after = hint.node_;
        std::uint32_t r = after ? order(key_of(after)) : TARN_CMP_GREATER;
        if (r == TARN_CMP_EQUAL) return at(after);
        if (r == TARN_CMP_GREATER) {
            tarn_node *before = after ? detail::step<side::left, false>(after) : last_node();
            r = before ? order(key_of(before)) : TARN_CMP_LESS;
            if (r == TARN_CMP_EQUAL) return at(before);
            if (r == TARN_CMP_LESS) {
                const detail::free_link gap = detail::free_link_between(before, after);
                return at(link(record, gap.parent, gap.at));
            }
        }
        tarn_node *blocked = link_by_key(record);
        return at(blocked ? blocked : node_of(record));
    }

    // Find-or-insert in one descent: the record with key and false, or end()
    // and true with the place for a record with key kept in data.
    std::pair<iterator, bool> insert_check(const key_type &key,
                                           insert_commit_data &data) const noexcept {
        data = {nullptr, side::left, head_.count};
        if (!head_.root) return {end(), true};
        const detail::insertion_point point =
            detail::find_insertion_point(head_, delta(), bind(&key));
        if (point.blocked) return {at(point.blocked), false};
        data.parent = point.parent, data.at = point.at;
        return {end(), true};
    }
    // Links record, whose key is the one checked, where insert_check found
    // room: no comparison.
    iterator insert_commit(Record &record, const insert_commit_data &data) noexcept {
        expect_unlinked(record, "tarn::tree::insert_commit");
        TARN_EXPECT(data.count == head_.count, "tarn::tree::insert_commit",
                    "the tree changed since insert_check");
        return at(link(record, data.parent, data.at));
    }

    // After the caller changed a linked record's key: the record stays in
    // place when it still lies between its neighbours (two comparisons at
    // most), else moves to where its key belongs, found from its old place
    // when that is near. false, with the record unlinked, when another record
    // holds the new key.
    bool reposition(Record &record) noexcept {
        TARN_EXPECT(is_linked(record), "tarn::tree::reposition", "the record is not linked");
        tarn_node *node = node_of(record);
        const auto order = bind(key_address(record));
        if (tarn_node *after = detail::step<side::right, false>(node)) {
            const std::uint32_t code = order(key_of(after));
            if (code == TARN_CMP_EQUAL) return unlink(node), false;
            if (code == TARN_CMP_LESS) return move_beyond<side::right>(record, after, order);
        }
        if (tarn_node *before = detail::step<side::left, false>(node)) {
            const std::uint32_t code = order(key_of(before));
            if (code == TARN_CMP_EQUAL) return unlink(node), false;
            if (code == TARN_CMP_GREATER) return move_beyond<side::left>(record, before, order);
        }
        if constexpr (summarised) detail::refresh_upwards<core_hook>(node, node);
        return true;
    }

    // Links the records of [first, last), which give records or pointers to
    // them in strictly ascending key order, into this empty tree, in O(n)
    // and n - 1 comparisons, with no rebalancing. false, linking nothing,
    // when they do not ascend strictly (or the tree is not empty).
    template <class It>
    bool assign_sorted(It first, It last) noexcept {
        TARN_EXPECT(empty(), "tarn::tree::assign_sorted", "the tree is not empty");
        if (!empty()) return false;
        std::size_t n = 0;
        const void *previous = nullptr;
        for (It it = first; it != last; ++it, n++) {
            Record &record = detail::record_ref<Record>(*it);
            expect_unlinked(record, "tarn::tree::assign_sorted");
            if (previous && bind(previous)(key_address(record)) != TARN_CMP_GREATER) return false;
            previous = key_address(record);
        }
        auto next = [&first]() noexcept {
            tarn_node *node = node_of(detail::record_ref<Record>(*first));
            ++first;
            *node = tarn_node{};
            return node;
        };
        head_.root = detail::build_balanced<core_hook>(n, next);
        head_.count = n;
        last_ = head_.root ? detail::outermost<side::right>(head_.root) : nullptr;
        return true;
    }

    // ---- Erasure --------------------------------------------------------

    // Unlinks the record at it (not end()) and gives the one after it.
    iterator erase(const_iterator it) noexcept {
        TARN_EXPECT(it.node_, "tarn::tree::erase", "erase of end()");
        expect_member(it.node_, "tarn::tree::erase");
        tarn_node *next = detail::step<side::right>(it.node_);
        unlink(it.node_);
        return at(next);
    }
    iterator erase(const_iterator first, const_iterator last) noexcept {
        while (first != last) first = erase(first);
        return last;
    }
    // Unlinks the record with key: 1, or 0 when there is none.
    size_type erase(const key_type &key) noexcept {
        tarn_node *node = search<detail::find_row>(key);
        if (node) unlink(node);
        return node != nullptr;
    }
    // Unlinks record; does nothing when it is not linked.
    void erase(Record &record) noexcept {
        if (!is_linked(record)) return;
        expect_member(node_of(record), "tarn::tree::erase");
        unlink(node_of(record));
    }

    // Unlinks every record in O(n), without rebalancing or comparing: each
    // record is left as erase leaves it (in_tree 0, NULL links) and the tree
    // empty, ready for new records.
    void clear() noexcept {
        clear_and_dispose([](Record &) noexcept {});
    }
    // As clear(), handing each record to dispose(Record &) after unlinking
    // it, in no particular order, so dispose may free it. The tree already
    // reads as empty while dispose runs. dispose must not throw.
    template <class Dispose>
    void clear_and_dispose(Dispose dispose) noexcept {
        tarn_node *root = head_.root;
        head_.root = nullptr, head_.count = 0, last_ = nullptr;
        detail::drop(root, [&dispose](tarn_node *node) { dispose(*record_at(node)); });
    }

    size_type size() const noexcept { return size_type(head_.count); }
    bool empty() const noexcept { return head_.root == nullptr; }

    // ---- Lookups --------------------------------------------------------
    // The tree does not own its records: a const tree keeps its links, the
    // records it hands out are still the caller's to change (but not their
    // keys while linked).

    Record *find(const key_type &key) const noexcept {
        return record_of(search<detail::find_row>(key));
    }
    bool contains(const key_type &key) const noexcept { return find(key) != nullptr; }
    // The equal record, else the nearest below (floor) or above (ceiling).
    Record *floor(const key_type &key) const noexcept {
        return record_of(search<detail::floor_row>(key));
    }
    Record *ceiling(const key_type &key) const noexcept {
        return record_of(search<detail::ceiling_row>(key));
    }
    // The nearest record strictly above or below key.
    Record *next_after(const key_type &key) const noexcept {
        return record_of(beyond<side::right>(key));
    }
    Record *prev_before(const key_type &key) const noexcept {
        return record_of(beyond<side::left>(key));
    }
    Record *first() const noexcept {
        return head_.root ? record_at(detail::outermost<side::left>(head_.root)) : nullptr;
    }
    Record *last() const noexcept { return record_of(last_node()); }

    // The first record not below key, the first above it, and both.
    iterator lower_bound(const key_type &key) const noexcept {
        return at(search<detail::ceiling_row>(key));
    }
    iterator upper_bound(const key_type &key) const noexcept {
        return at(beyond<side::right>(key));
    }
    std::pair<iterator, iterator> equal_range(const key_type &key) const noexcept {
        iterator first = lower_bound(key);
        if (first.node_ && bind(&key)(key_of(first.node_)) == TARN_CMP_EQUAL)
            return {first, at(detail::step<side::right>(first.node_))};
        return {first, first};
    }

    // Batched lookups: out[i] is what find(keys[i]) (floor, ceiling)
    // returns, for every i below count. The descents of a batch run
    // interleaved, so that their waits for memory overlap: on trees larger
    // than the caches a batch answers several times faster per key than
    // single calls. The tree must not change while a batch runs, and out
    // must not overlap keys: a descent may still read a key after an
    // earlier one has written its answer (a build without NDEBUG stops
    // such a call).
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
    // comparator), else one call per key. This is how C programs batch: a
    // small C++ file that names their record type here.
    static void find(const tarn_head &head, const key_type *keys, std::size_t count,
                     Record **out) noexcept {
        batch<detail::find_row>(head, keys, count, out, tarn_lookup);
    }
    static void floor(const tarn_head &head, const key_type *keys, std::size_t count,
                      Record **out) noexcept {
        batch<detail::floor_row>(head, keys, count, out, tarn_lookup_le);
    }
    static void ceiling(const tarn_head &head, const key_type *keys, std::size_t count,
                        Record **out) noexcept {
        batch<detail::ceiling_row>(head, keys, count, out, tarn_lookup_ge);
    }

    // Batched changes: the tree, and each inserted[i], end as count single
    // calls in the order given leave them, duplicate keys within a burst
    // included (a record is not given twice). In a tree larger than the
    // caches, insertion first finds each key's floor by interleaved
    // descents, each prefetching the node it visits next, then links each
    // record a few steps on from its floor, without a second descent.
    void insert(Record *const *records, std::size_t count, bool *inserted = nullptr) noexcept {
        tarn_node *floors[batch_group];
        for (std::size_t at = 0; at < count; at += batch_group) {
            const std::size_t n = count - at < batch_group ? count - at : batch_group;
            const bool found = find_floors(records + at, n, floors);
            for (std::size_t i = 0; i < n; i++) {
                Record &record = *records[at + i];
                expect_unlinked(record, "tarn::tree::insert");
                const bool linked = !(found ? link_after(record, floors[i]) : link_by_key(record));
                if (inserted) inserted[at + i] = linked;
            }
        }
    }
    void erase(Record *const *records, std::size_t count) noexcept {
        for (std::size_t i = 0; i < count; i++) erase(*records[i]);
    }
    // The number of records erased: the record holding each key, as found by
    // a batched find. Erasing one record changes no other record's key, so
    // each record found still holds its key when its turn comes, unless an
    // earlier key of the burst was the same and erased it already.
    size_type erase(const key_type *keys, std::size_t count) noexcept {
        return erase_found(keys, count, [this](tarn_node *node) {
            expect_member(node, "tarn::tree::erase");
            unlink(node);
        });
    }
    // The same over a descriptor that C code owns, as tarn_insert and
    // tarn_delete on each record would leave it (an insertion zeroes the
    // node first, also when it is refused). Inline when head is a primary set
    // up as this type sets up its own, else one call per record.
    static void insert(tarn_head &head, Record *const *records, std::size_t count,
                       bool *inserted = nullptr) noexcept {
        static_assert(!summarised, "the C calls cannot keep a summary");
        const bool own = set_up_as_own(head);
        if (own) warm_insertion_paths(head, records, count);
        for (std::size_t i = 0; i < count; i++) {
            tarn_node *node = node_of(*records[i]);
            bool linked;
            if (!own) {
                linked = tarn_insert(&head, node) == 1;
            } else {
                *node = tarn_node{};
                linked = !head.root ? (detail::link_at(head, node, nullptr, side::left), true)
                                    : !detail::insert_below_root(head, node, delta(),
                                                                 bind(key_address(*records[i])));
            }
            if (inserted) inserted[i] = linked;
        }
    }
    static void erase(tarn_head &head, Record *const *records, std::size_t count) noexcept {
        static_assert(!summarised, "the C calls cannot keep a summary");
        for (std::size_t i = 0; i < count; i++) tarn_delete(&head, node_of(*records[i]));
    }
    static size_type erase(tarn_head &head, const key_type *keys, std::size_t count) noexcept {
        static_assert(!summarised, "the C calls cannot keep a summary");
        return erase_found(head, keys, count,
                           [&head](tarn_node *node) { tarn_delete(&head, node); });
    }

    // ---- Summaries (a Summary other than no_summary) ----------------------

    // After the caller changed, in place, a linked record's summarised value
    // (not its key): recomputes the summaries above it, in O(log n), up to
    // the first that stays as it was.
    void refresh(Record &record) noexcept {
        static_assert(summarised, "a tree without summaries has none to refresh");
        TARN_EXPECT(is_linked(record), "tarn::tree::refresh", "the record is not linked");
        detail::refresh_upwards<core_hook>(node_of(record), node_of(record));
    }

    // The first record in key order that own(record) accepts, found by the
    // summaries in O(log n): below(top) must accept the top record of a
    // subtree exactly when own accepts some record in it, as a summary such
    // as the largest value below allows.
    template <class Below, class Own>
    Record *first_where(Below below, Own own) const noexcept {
        static_assert(summarised, "first_where descends by the summaries");
        for (tarn_node *n = head_.root; n;) {
            if (n->left && below(std::as_const(*record_at(n->left)))) {
                n = n->left;
            } else if (own(std::as_const(*record_at(n)))) {
                return record_at(n);
            } else {
                n = n->right && below(std::as_const(*record_at(n->right))) ? n->right : nullptr;
            }
        }
        return nullptr;
    }

    // Order statistics (subtree_size): the record of rank k (from 0), the
    // rank of a linked record, and the number of records with low <= key <=
    // high, each in O(log n).
    Record *nth(std::size_t k) const noexcept {
        static_assert(detail::sized_v<Summary>, "nth needs tarn::subtree_size");
        // The way down is a coin toss per level: a conditional move, not a
        // branch, and the right child is fetched while the left one's size
        // is read.
        for (tarn_node *n = head_.root, *unused = nullptr; n;) {
            tarn_node *const left = n->left, *const right = n->right;
            __builtin_prefetch(right ? right : n); // not NULL: that costs a page walk
            const std::size_t below = size_of(left);
            bool equal;
            tarn_node *const next =
                detail::keep_unless_above(k, below, n, unused, left, right, equal);
            if (equal) return record_at(n);
            k -= (below + 1) & (std::size_t(0) - std::size_t(k > below));
            n = next;
        }
        return nullptr;
    }
    std::size_t rank(const Record &record) const noexcept {
        static_assert(detail::sized_v<Summary>, "rank needs tarn::subtree_size");
        const tarn_node *n = &(record.*Node);
        std::size_t r = size_of(n->left);
        // Counts p and its left subtree when n is p's right child, without a
        // branch on that coin toss: when n is the left child, the size read
        // is n's own, already in cache, and masked off.
        for (const tarn_node *p = n->parent; p; n = p, p = p->parent) {
            const tarn_node *const left = p->left;
            r += (size_of(left) + 1) & (std::size_t(0) - std::size_t(left != n));
        }
        return r;
    }
    std::size_t count(const key_type &low, const key_type &high) const noexcept {
        static_assert(detail::sized_v<Summary>, "count needs tarn::subtree_size");
        const std::size_t first = rank_at(lower_bound(low)), past = rank_at(upper_bound(high));
        return past > first ? past - first : 0;
    }

    // Intervals (interval_ends): every record whose [key, end) overlaps
    // [a, b), that is key < b and a < end, in key order; by the summaries,
    // the walk skips every subtree that holds none.
    class overlap_iterator {
      public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Record;
        using difference_type = std::ptrdiff_t;
        using pointer = Record *;
        using reference = Record &;
        overlap_iterator() noexcept = default;
        overlap_iterator(tarn_node *node, const key_type &a, const key_type &b) noexcept
            : node_(node), a_(a), b_(b) {}
        Record &operator*() const noexcept { return *record_at(node_); }
        Record *operator->() const noexcept { return record_at(node_); }
        overlap_iterator &operator++() noexcept {
            node_ = next_overlap(node_, a_, b_);
            return *this;
        }
        overlap_iterator operator++(int) noexcept {
            overlap_iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const overlap_iterator &x, const overlap_iterator &y) noexcept {
            return x.node_ == y.node_;
        }
        friend bool operator!=(const overlap_iterator &x, const overlap_iterator &y) noexcept {
            return x.node_ != y.node_;
        }

      private:
        tarn_node *node_ = nullptr;
        key_type a_{}, b_{};
    };
    struct overlap_range {
        overlap_iterator first;
        overlap_iterator begin() const noexcept { return first; }
        overlap_iterator end() const noexcept { return overlap_iterator(); }
        bool empty() const noexcept { return first == end(); }
    };
    overlap_range overlaps(const key_type &a, const key_type &b) const noexcept {
        static_assert(detail::intervals_v<Summary>, "overlaps needs tarn::interval_ends");
        static_assert(std::is_same_v<std::remove_cv_t<std::remove_reference_t<
                                         decltype(std::declval<Record &>().*Summary::value)>>,
                                     key_type>,
                      "an interval's end has its start's type");
        return {overlap_iterator(first_overlap(head_.root, a, b), a, b)};
    }
    template <class Visit>
    void for_each_overlap(const key_type &a, const key_type &b, Visit visit) const {
        for (Record &record : overlaps(a, b)) visit(record);
    }

    // ---- Tree algebra ---------------------------------------------------
    // Summaries stay right through all of these. Without subtree_size, split
    // counts the smaller of its two parts to keep size() right.

    // Moves every record with a key above key into a new tree, in O(log n).
    tree split(const key_type &key) noexcept {
        tree above;
        if (!head_.root) return above;
        const std::size_t total = size();
        const detail::cut c = detail::split<core_hook>(whole(), delta(), bind(&key));
        detail::subtree below = c.below;
        if (c.equal) below = detail::join<core_hook>(below, c.equal, {nullptr, 0});
        const std::size_t moved = count_of(c.above, below, total);
        take(below, total - moved), above.take(c.above, moved);
        return above;
    }
    // Appends higher, whose keys all lie above this tree's, and leaves it
    // empty: O(log n), the heights being derived from the balance codes.
    void join(tree &&higher) noexcept {
        TARN_EXPECT(empty() || higher.empty() ||
                        bind(key_address(*last()))(key_address(*higher.first())) ==
                            TARN_CMP_GREATER,
                    "tarn::tree::join", "the keys of the tree joined do not all lie above");
        const std::size_t total = size() + higher.size();
        take(detail::join<core_hook>(whole(), higher.whole()), total);
        higher.take({nullptr, 0}, 0);
    }
    // Set operations, by split and join in O(m log(n/m + 1)) for trees of m
    // and n records, m <= n. merge: this tree takes other's records whose
    // key it lacks; those whose key it holds stay in other. intersect: this
    // tree keeps its records whose key other holds. subtract: it keeps those
    // whose key other lacks. The records this tree lets go are left unlinked;
    // other keeps all it had but what merge takes.
    void merge(tree &other) noexcept { combine<detail::set_op::merge>(other); }
    void intersect(tree &other) noexcept { combine<detail::set_op::intersect>(other); }
    void subtract(tree &other) noexcept { combine<detail::set_op::subtract>(other); }

    // ---- Iteration ------------------------------------------------------
    // Iterators step through links alone, inline, in either direction: the
    // tree must not change while one is in use, but for erase(it), which
    // gives the next. To change the tree during a pass that lets go of it,
    // use scan() and yield().

    iterator begin() const noexcept {
        return at(head_.root ? detail::outermost<side::left>(head_.root) : nullptr);
    }
    iterator end() const noexcept { return at(nullptr); }
    iterator cbegin() const noexcept { return begin(); }
    iterator cend() const noexcept { return end(); }
    reverse_iterator rbegin() const noexcept { return reverse_iterator(end()); }
    reverse_iterator rend() const noexcept { return reverse_iterator(begin()); }
    // The iterator at a linked record, in O(1). It knows no tree, so it
    // cannot step back from the end it may reach.
    static iterator iterator_to(Record &record) noexcept {
        return iterator(node_of(record), nullptr);
    }

    // The records with low <= key <= high, in key order (empty when low lies
    // above high), as a pair of iterators.
    range_view range(const key_type &low, const key_type &high) const noexcept {
        if (!head_.root || bind(&low)(&high) == TARN_CMP_LESS) return range_view(end(), end());
        return range_view(lower_bound(low), upper_bound(high));
    }

    // Scans that may let go of the tree between steps, see cursor below.
    cursor scan() const noexcept { return cursor(head_); }
    range_cursor scan(const key_type &low, const key_type &high) const noexcept {
        return range_cursor(head_, low, high);
    }

    // The descriptor, for the C calls this interface leaves out. A change
    // through it is seen by the tree from the next call on, but not through
    // a pointer kept from an earlier call: the tree remembers its last record
    // between its own changes and forgets it here.
    // A tree that keeps summaries gives its descriptor read-only: the C
    // calls cannot keep a summary.
    template <class S = Summary, std::enable_if_t<std::is_same_v<S, no_summary>, int> = 0>
    tarn_head *head() noexcept {
        return last_ = nullptr, &head_;
    }
    const tarn_head *head() const noexcept { return &head_; }

  private:
    static constexpr std::uintptr_t delta() noexcept {
        return std::uintptr_t(detail::offset_of<Key>() - detail::offset_of<Node>());
    }
    static auto bind(const void *probe) noexcept {
        return detail::bound_order<Order, key_type>(probe);
    }
    static const void *key_address(const Record &record) noexcept { return &(record.*Key); }
    static const void *key_of(const tarn_node *node) noexcept {
        return detail::key_at(node, delta());
    }
    static Record *record_at(tarn_node *node) noexcept {
        return reinterpret_cast<Record *>(reinterpret_cast<unsigned char *>(node) -
                                          detail::offset_of<Node>());
    }
    iterator at(tarn_node *node) const noexcept { return iterator(node, &head_); }
    // A cursor's yield point: its key saved, its node dropped.
    static void save(tarn_iterator &cursor) noexcept {
        if (!cursor.current) return;
        std::memcpy(cursor.saved_key, key_of(cursor.current), sizeof(key_type));
        cursor.current = nullptr;
    }

    // Row's answer for key, by the way the rule gives the tree's own
    // descriptor, as the C call's.
    template <const detail::code_row &Row>
    tarn_node *search(const key_type &key) const noexcept {
        return search_in<Row>(head_, &key);
    }
    template <const detail::code_row &Row>
    static tarn_node *search_in(const tarn_head &head, const void *key) noexcept {
        if (!head.root) return nullptr;
        const auto order = bind(key);
        return detail::with_way<Row, decltype(order)>(
            detail::ordered_by_own_configuration(head), head.count, [&](auto way) {
                return detail::answer_of(detail::descend<decltype(way)>(head.root, delta(), order));
            });
    }
    template <side S>
    tarn_node *beyond(const key_type &key) const noexcept {
        return head_.root ? detail::strictly_beyond<S>(head_.root, delta(), bind(&key)) : nullptr;
    }

    // The last record, remembered between changes made here: appends by
    // hint then cost no walk down the right spine.
    tarn_node *last_node() const noexcept {
        TARN_EXPECT(!last_ || (last_->in_tree == 1 && !last_->right), "tarn::tree",
                    "changed through a descriptor pointer kept from an earlier head()");
        if (!last_ && head_.root) last_ = detail::outermost<side::right>(head_.root);
        return last_;
    }

    // Every change here goes through link and unlink, which keep last_.
    tarn_node *link(Record &record, tarn_node *parent, side s) noexcept {
        tarn_node *node = node_of(record);
        *node = tarn_node{};
        if (!parent || (s == side::right && parent == last_)) last_ = node;
        detail::link_at<core_hook>(head_, node, parent, s);
        return node;
    }
    tarn_node *link_by_key(Record &record) noexcept {
        if (!head_.root) return link(record, nullptr, side::left), nullptr;
        const detail::insertion_point point =
            detail::find_insertion_point(head_, delta(), bind(key_address(record)));
        if (point.blocked) return point.blocked;
        link(record, point.parent, point.at);
        return nullptr;
    }
    void unlink(tarn_node *node) noexcept {
        if (node == last_) last_ = detail::step<side::left>(node);
        detail::unlink<core_hook>(head_, node);
    }

    static void expect_unlinked(const Record &record, const char *call) noexcept {
        TARN_EXPECT(!is_linked(record), call, "the record is already linked");
        static_cast<void>(record), static_cast<void>(call);
    }
    // A linked node leads up to this tree's root. O(log n), without NDEBUG.
    void expect_member(const tarn_node *node, const char *call) const noexcept {
#ifndef NDEBUG
        const tarn_node *top = node;
        for (unsigned depth = 0; top->parent && depth < 100; depth++) top = top->parent;
        TARN_EXPECT(top == head_.root, call, "the record is linked in another tree");
#endif
        static_cast<void>(node), static_cast<void>(call);
    }

    // Descents of a batch in flight at once: enough for a level's cache
    // misses to overlap, few enough for the lanes to stay in L1. A tree
    // that fits in the caches has no wait to overlap: its batches descend
    // one key after another, inline. Both by measurement
    // (bench/results/batch.md).
    static constexpr std::size_t batch_group = 32;

    // A descriptor set up otherwise than this type sets up its own may
    // search a tree under another order: one call per key. Otherwise each
    // descent takes the way the single calls take (with_way).
    template <const detail::code_row &Row>
    static void batch(const tarn_head &head, const key_type *keys, std::size_t count, Record **out,
                      tarn_node *(*single)(const tarn_head *, const void *)) noexcept {
        TARN_EXPECT(count == 0 || detail::apart(out, count, keys, count),
                    "tarn::tree batched lookup", "out overlaps keys");
        const tarn_head *h = &head;
        if (!set_up_as_own(*h)) {
            for (std::size_t i = 0; i < count; i++) out[i] = record_of(single(h, &keys[i]));
            return;
        }
        if (!h->root) {
            for (std::size_t i = 0; i < count; i++) out[i] = nullptr;
            return;
        }
        using bound = decltype(bind(keys));
        detail::with_way<Row, bound>(true, h->count, [&](auto way) {
            using way_type = decltype(way);
            if (h->count <= detail::tree_in_cache) {
                for (std::size_t i = 0; i < count; i++)
                    out[i] = record_of(detail::answer_of(
                        detail::descend<way_type>(h->root, delta(), bind(&keys[i]))));
                return;
            }
            detail::descend_interleaved<way_type, batch_group>(
                h->root, delta(), count, [keys](std::size_t i) { return bind(&keys[i]); },
                [out](std::size_t i, tarn_node *n) { out[i] = record_of(n); });
        });
    }

    detail::subtree whole() const noexcept { return {head_.root, detail::height_of(head_.root)}; }
    void take(detail::subtree t, std::size_t count) noexcept {
        head_.root = t.top, head_.count = count, last_ = nullptr;
    }
    static std::size_t size_of(const tarn_node *n) noexcept {
        if constexpr (detail::sized_v<Summary>)
            return n ? std::size_t(record_at(const_cast<tarn_node *>(n))->*Summary::size) : 0;
        else
            return static_cast<void>(n), 0;
    }
    std::size_t rank_at(iterator it) const noexcept { return it.node_ ? rank(*it) : size(); }
    // How many nodes x holds, total being x's and y's together: by the
    // summaries, else by walking x and y in step until one ends.
    static std::size_t count_of(detail::subtree x, detail::subtree y, std::size_t total) noexcept {
        if constexpr (detail::sized_v<Summary>)
            return static_cast<void>(y), static_cast<void>(total), size_of(x.top);
        tarn_node *a = x.top ? detail::outermost<side::left>(x.top) : nullptr;
        tarn_node *b = y.top ? detail::outermost<side::left>(y.top) : nullptr;
        std::size_t n = 0;
        for (; a && b; n++) a = detail::step<side::right>(a), b = detail::step<side::right>(b);
        return a ? total - n : n;
    }
    template <detail::set_op Op>
    void combine(tree &other) noexcept {
        const std::size_t mine = size(), theirs = other.size();
        const detail::combined c = detail::combine<Op, core_hook>(
            whole(), other.whole(), delta(), [](const void *probe) { return bind(probe); });
        take(c.kept, Op == detail::set_op::merge       ? mine + theirs - c.matched
                     : Op == detail::set_op::intersect ? c.matched
                                                       : mine - c.matched);
        other.take(c.rest, Op == detail::set_op::merge ? c.matched : theirs);
    }
    // The first record in the subtree at n whose interval overlaps [a, b).
    static tarn_node *first_overlap(tarn_node *n, const key_type &a, const key_type &b) noexcept {
        while (n) {
            // Which child comes next rests on the left one's summary, a cache
            // miss on a large tree: fetch the right one meanwhile.
            __builtin_prefetch(n->right ? n->right : n); // not NULL: that costs a page walk
            const bool starts_before_b = key_value(n) < b;
            if (n->left && a < largest_end(n->left)) {
                n = n->left; // a start below b holds one there; else nothing beyond does
            } else if (!starts_before_b) {
                return nullptr;
            } else if (a < end_of(n)) {
                return n;
            } else {
                n = n->right && a < largest_end(n->right) ? n->right : nullptr;
            }
        }
        return nullptr;
    }
    static tarn_node *next_overlap(tarn_node *n, const key_type &a, const key_type &b) noexcept {
        if (tarn_node *below = first_overlap(n->right, a, b)) return below;
        for (; n->parent; n = n->parent) {
            tarn_node *p = n->parent;
            if (p->right == n) continue;
            if (!(key_value(p) < b)) return nullptr;
            if (a < end_of(p)) return p;
            if (tarn_node *beyond = first_overlap(p->right, a, b)) return beyond;
        }
        return nullptr;
    }
    static const key_type &key_value(tarn_node *n) noexcept { return record_at(n)->*Key; }
    static const key_type &end_of(tarn_node *n) noexcept { return record_at(n)->*Summary::value; }
    static const key_type &largest_end(tarn_node *n) noexcept {
        return record_at(n)->*Summary::largest;
    }

    // The gap a key falls in, found by steps from `near`, a linked node the
    // key lies beyond on side S (NULL: none, the steps start at the
    // outermost node on the other side): the two nodes around it (`far`
    // NULL past the end), else the node holding the key, else, after
    // `steps_near` nodes compared, neither (`near` NULL): farther keys take
    // a descent.
    static constexpr int steps_near = 8;
    struct key_gap {
        tarn_node *near, *far, *equal;
    };
    template <side S, class Bound>
    key_gap step_to_gap(tarn_node *near, const Bound &order) const noexcept {
        constexpr std::uint32_t beyond = S == side::right ? TARN_CMP_LESS : TARN_CMP_GREATER;
        tarn_node *far =
            near ? detail::step<S, false>(near) : detail::outermost<other(S)>(head_.root);
        for (int steps = 0; far; steps++) {
            const std::uint32_t code = order(key_of(far));
            if (code == TARN_CMP_EQUAL) return {nullptr, nullptr, far};
            if (code != beyond) break;
            if (steps + 1 == steps_near) return {nullptr, nullptr, nullptr};
            near = far, far = detail::step<S, false>(far);
        }
        return {near, far, nullptr};
    }
    // Links record at the gap, in its one free link, which is where insert
    // would link it; without a gap, where a descent finds room. Gives NULL,
    // or the node whose key blocks the record.
    template <side S>
    tarn_node *link_at_gap(Record &record, const key_gap &g) noexcept {
        if (g.equal) return g.equal;
        if (!g.near && !g.far) return link_by_key(record);
        const detail::free_link l = S == side::right ? detail::free_link_between(g.near, g.far)
                                                     : detail::free_link_between(g.far, g.near);
        link(record, l.parent, l.at);
        return nullptr;
    }

    // record's new key lies beyond `near`, its old neighbour on side S:
    // steps on to the gap where the key belongs, a few nodes at most, then
    // unlinks record and links it there; farther, by a descent. Unlinking
    // record leaves the gap's two nodes neighbours, since record is neither.
    template <side S, class Bound>
    bool move_beyond(Record &record, tarn_node *near, const Bound &order) noexcept {
        const key_gap g = step_to_gap<S>(near, order);
        unlink(node_of(record));
        return link_at_gap<S>(record, g) == nullptr;
    }

    // Whether head is a primary set up as this type sets up its own, whose
    // tree the core's inline order searches as the C calls do.
    static bool set_up_as_own(const tarn_head &head) noexcept {
        return head.compare == detail::compare_of<Order>() && head.key_length == sizeof(key_type) &&
               head.node_offset == detail::offset_of<Node>() &&
               head.key_offset == detail::offset_of<Key>() &&
               detail::ordered_by_own_configuration(head);
    }

    // The floor of each record's key (NULL: none), by interleaved descents,
    // in a tree larger than the caches; false, finding nothing, in one that
    // fits in them, where there is no wait to overlap.
    bool find_floors(Record *const *records, std::size_t n, tarn_node **floors) const noexcept {
        if (!head_.root || head_.count <= detail::tree_in_cache) return false;
        using bound = decltype(bind(nullptr));
        detail::with_way<detail::floor_row, bound>(
            detail::ordered_by_own_configuration(head_), head_.count, [&](auto way) {
                detail::descend_interleaved<decltype(way), batch_group>(
                    head_.root, delta(), n,
                    [records](std::size_t i) { return bind(key_address(*records[i])); },
                    [floors](std::size_t i, tarn_node *node) { floors[i] = node; });
            });
        return true;
    }

    // Links record where its key belongs, found by steps on from `from`, a
    // linked node below the key or equal to it (NULL: from the first node);
    // farther than a few steps, by a descent. A burst of insertions unlinks
    // nothing, so a floor found as it began is still linked and still not
    // above the key, and the steps compare every node they pass: the gap
    // they end at is the key's, whatever the burst linked meanwhile, and
    // the one free link there is where insert would link the record. Gives
    // NULL, or the node whose key blocks the record.
    tarn_node *link_after(Record &record, tarn_node *from) noexcept {
        const auto order = bind(key_address(record));
        if (from && order(key_of(from)) == TARN_CMP_EQUAL) return from;
        return link_at_gap<side::right>(record, step_to_gap<side::right>(from, order));
    }

    // Runs the insertion descents of a burst interleaved, for their paths'
    // sake: a tree that fits in the caches has none to wait for.
    static void warm_insertion_paths(const tarn_head &head, Record *const *records,
                                     std::size_t count) noexcept {
        if (!head.root || head.count <= detail::tree_in_cache) return;
        using bound = decltype(bind(nullptr));
        detail::with_way<detail::insert_row, bound>(true, head.count, [&](auto way) {
            detail::warm_paths<decltype(way), batch_group>(
                head.root, delta(), count,
                [records](std::size_t i) { return bind(key_address(*records[i])); });
        });
    }

    // Finds the records holding keys by a batched find, then unlinks each
    // that is still linked by unlink(node); gives how many it unlinked.
    template <class Unlink>
    static size_type erase_found(const tarn_head &head, const key_type *keys, std::size_t count,
                                 Unlink unlink) noexcept {
        constexpr std::size_t chunk = 256;
        Record *found[chunk];
        size_type erased = 0;
        for (std::size_t at = 0; at < count; at += chunk) {
            const std::size_t n = count - at < chunk ? count - at : chunk;
            find(head, keys + at, n, found);
            for (std::size_t i = 0; i < n; i++)
                if (found[i] && is_linked(*found[i])) unlink(node_of(*found[i])), erased++;
        }
        return erased;
    }
    template <class Unlink>
    size_type erase_found(const key_type *keys, std::size_t count, Unlink unlink) noexcept {
        return erase_found(head_, keys, count, unlink);
    }

    void configure() noexcept {
        // Cannot fail: the key length was checked above.
        tarn_init_new(&head_, detail::offset_of<Node>(), sizeof(key_type), detail::offset_of<Key>(),
                      detail::compare_of<Order>(), nullptr);
    }
    void forget() noexcept { head_.root = nullptr, last_ = nullptr, configure(); }

    tarn_head head_{};
    mutable tarn_node *last_ = nullptr; // NULL: not known
};

// A range of the tree as two iterators, which stay valid after the view is
// gone, as long as the tree does not change.
template <class Record, auto Node, auto Key, class Order, class Summary>
class tree<Record, Node, Key, Order, Summary>::range_view {
  public:
    range_view(iterator first, iterator last) noexcept : first_(first), last_(last) {}
    iterator begin() const noexcept { return first_; }
    iterator end() const noexcept { return last_; }
    reverse_iterator rbegin() const noexcept { return reverse_iterator(last_); }
    reverse_iterator rend() const noexcept { return reverse_iterator(first_); }
    bool empty() const noexcept { return first_ == last_; }

  private:
    iterator first_, last_;
};

// A cursor over the whole tree that can let go of it. yield() saves the
// current key and drops the record; the tree may then change in any way,
// and the next step finds the first key above the saved one among the
// records linked by then. Without a yield the tree must not change while
// the scan stands on a record. Steps answer as the C cursor's calls
// (tarn_get_next_node, tarn_get_previous_node, tarn_pre_sched_yield), inline.
//
//     auto s = timers.scan();
//     for (timer *t = s.first(); t; t = s.next()) {
//         fire(*t);
//         s.yield();
//         timers.erase(*t);   // the tree may change now
//     }
//
// A scan starts at the first record (next()) or the last (prev()) unless
// first() or seek() placed it. As with the C cursor, the end is not
// remembered: after a step returns nullptr the next step searches again
// from the last saved key, so stop at the first nullptr (or start over with
// first() or seek()).
template <class Record, auto Node, auto Key, class Order, class Summary>
class tree<Record, Node, Key, Order, Summary>::cursor {
  public:
    explicit cursor(const tarn_head &head) noexcept : head_(&head) {}

    // Stands on the smallest record; nullptr (and detached) when empty.
    Record *first() noexcept { return place(outermost<side::left>()); }
    // Detaches at key: next() then gives the first record above key and
    // prev() the last below it; a record whose key is key is skipped.
    void seek(const key_type &key) noexcept {
        placed_ = true, cursor_.current = nullptr;
        std::memcpy(cursor_.saved_key, &key, sizeof(key_type));
    }
    Record *next() noexcept { return placed_ ? record_of(advance<side::right>()) : first(); }
    Record *prev() noexcept {
        return placed_ ? record_of(advance<side::left>()) : place(outermost<side::right>());
    }
    void yield() noexcept { save(cursor_); }

    // The record stood on; nullptr after a yield or at the end.
    Record *current() const noexcept { return record_of(cursor_.current); }
    // The C cursor, for the C calls.
    tarn_iterator &raw() noexcept { return placed_ = true, cursor_; }

  private:
    template <side S>
    tarn_node *outermost() const noexcept {
        return head_->root ? detail::outermost<S>(head_->root) : nullptr;
    }
    Record *place(tarn_node *node) noexcept {
        placed_ = true, cursor_.current = node;
        return record_of(node);
    }
    // Holding: a step through links, stored whatever it finds. Detached: a
    // search beyond the saved key, stored when it finds a node.
    template <side S>
    tarn_node *advance() noexcept {
        if (cursor_.current) return cursor_.current = detail::step<S>(cursor_.current);
        tarn_node *found =
            head_->root ? detail::strictly_beyond<S>(head_->root, delta(), bind(cursor_.saved_key))
                        : nullptr;
        if (found) cursor_.current = found;
        return found;
    }
    const tarn_head *head_;
    tarn_iterator cursor_{};
    bool placed_ = false;
};

// A scan over low <= key <= high, which may yield as cursor does. It ends at
// the first record past either bound; one placed outside them (by seek())
// ends it too. Unplaced, it starts at the first record in range (next()) or
// the last (prev()). Steps answer as tarn_get_first_node_in_range and
// tarn_get_next_node_in_range, inline, and store what they return, nullptr
// included.
template <class Record, auto Node, auto Key, class Order, class Summary>
class tree<Record, Node, Key, Order, Summary>::range_cursor {
  public:
    range_cursor(const tarn_head &head, const key_type &low, const key_type &high) noexcept
        : head_(&head), low_(low), high_(high) {}

    Record *first() noexcept {
        tarn_node *n = search_in<detail::ceiling_row>(*head_, low_.get());
        return place(n && bind(high_.get())(key_of(n)) == TARN_CMP_GREATER ? nullptr : n);
    }
    void seek(const key_type &key) noexcept {
        placed_ = true, cursor_.current = nullptr;
        std::memcpy(cursor_.saved_key, &key, sizeof(key_type));
    }
    Record *next() noexcept {
        if (!placed_) return first();
        tarn_node *n = cursor_.current ? detail::step<side::right>(cursor_.current)
                       : head_->root
                           ? detail::resume_after(head_->root, delta(), bind(cursor_.saved_key))
                           : nullptr;
        return place(n);
    }
    // The step before: the previous record, or from an unplaced scan the
    // last record not above high.
    Record *prev() noexcept {
        tarn_node *n = !placed_          ? search_in<detail::floor_row>(*head_, high_.get())
                       : cursor_.current ? detail::step<side::left>(cursor_.current)
                       : head_->root     ? detail::strictly_beyond<side::left>(head_->root, delta(),
                                                                           bind(cursor_.saved_key))
                                         : nullptr;
        return place(n);
    }
    void yield() noexcept { save(cursor_); }

    Record *current() const noexcept { return record_of(cursor_.current); }
    // The C cursor, for the C calls.
    tarn_iterator &raw() noexcept { return placed_ = true, cursor_; }

  private:
    // Stands on node when it lies within the bounds, else on nothing.
    Record *place(tarn_node *node) noexcept {
        placed_ = true;
        if (node && !detail::within(bind(low_.get()), bind(high_.get()), key_of(node)))
            node = nullptr;
        return record_of(cursor_.current = node);
    }
    const tarn_head *head_;
    detail::key_copy<key_type> low_, high_;
    tarn_iterator cursor_{};
    bool placed_ = false;
};

} // namespace tarn

#endif // TARN_HPP
