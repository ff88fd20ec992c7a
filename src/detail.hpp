// Internal machinery shared by every exported call: directions, key
// addressing, the effective root, comparison policies, rotations, the
// in-order steps and the generic descent. Each mirror-image pair is written
// once, for a direction chosen at compile time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "tarn.h"

#define TARN_EXPORT extern "C" __attribute__((visibility("default")))

namespace tarn::detail {

// ---- Directions -----------------------------------------------------------

enum Dir : unsigned { Left = 0, Right = 1 };

constexpr Dir other(Dir d) { return Dir(d ^ 1u); }

inline tarn_node *&child(tarn_node *n, Dir d) { return d == Left ? n->left : n->right; }

// The balance code that names side d as the taller one.
constexpr uint32_t heavy(Dir d) { return d == Left ? TARN_BAL_LH : TARN_BAL_RH; }

// Balance given to the node that a double rotation makes the grandchild's
// child on side `side`, indexed by the grandchild's old balance code.
inline constexpr uint32_t kDoubleRotationBalance[2][3] = {
    /* Left  */ {TARN_BAL_EQ, TARN_BAL_LH, TARN_BAL_EQ},
    /* Right */ {TARN_BAL_EQ, TARN_BAL_EQ, TARN_BAL_RH},
};

// The link that points at n: its parent's child link, or the root word.
inline tarn_node *&link_to(tarn_head *head, tarn_node *n) {
    tarn_node *p = n->parent;
    if (!p) return head->root;
    return p->left == n ? p->left : p->right;
}

// Lifts n's child on side d into n's place (a rotation towards other(d)).
// Balance codes are the caller's business.
template <Dir d>
inline void rotate_up(tarn_head *head, tarn_node *n) {
    tarn_node *lifted = child(n, d);
    tarn_node *inner = child(lifted, other(d));
    child(n, d) = inner;
    if (inner) inner->parent = n;
    link_to(head, n) = lifted;
    lifted->parent = n->parent;
    child(lifted, other(d)) = n;
    n->parent = lifted;
}

// p's child c on side d is heavy on the inner side: lift c's inner child g
// above both. Afterwards c is g's child on side d and p on side other(d).
template <Dir d>
inline tarn_node *rotate_up_twice(tarn_head *head, tarn_node *p) {
    tarn_node *c = child(p, d);
    tarn_node *g = child(c, other(d));
    if (g->balance <= TARN_BAL_LH) {
        p->balance = kDoubleRotationBalance[other(d)][g->balance];
        c->balance = kDoubleRotationBalance[d][g->balance];
    }
    g->balance = TARN_BAL_EQ;
    rotate_up<other(d)>(head, c);
    rotate_up<d>(head, p);
    return g;
}

// Calls body.template operator()<Left or Right>(); turns a runtime side into
// one of two instantiations.
template <class Body>
inline decltype(auto) on_side(Dir d, Body &&body) {
    return d == Left ? body.template operator()<Left>() : body.template operator()<Right>();
}

// ---- Addresses ------------------------------------------------------------

// Distance from a node to its record's key; plain unsigned arithmetic, so
// the key may sit before or after the node.
inline uintptr_t key_delta(const tarn_head *head) {
    return uintptr_t(head->key_offset - head->node_offset);
}

inline const void *key_at(const tarn_node *n, uintptr_t delta) {
    return reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(n) + delta);
}

inline void *record_of(const tarn_node *n, const tarn_head *head) {
    if (!n) return nullptr;
    return reinterpret_cast<void *>(reinterpret_cast<uintptr_t>(n) - uintptr_t(head->node_offset));
}

// The tree a read-only call searches: origin's root for a replica (one level
// only), else the descriptor's own. NULL for a NULL head or an orphan
// replica, as for an empty tree.
inline tarn_node *effective_root(const tarn_head *head) {
    if (!head) return nullptr;
    if (head->flags & TARN_HEAD_REPLICA) return head->origin ? head->origin->root : nullptr;
    return head->root;
}

// No AVL tree that fits in memory is this deep (height 100 needs over 1e20
// nodes); deeper means corrupted links, such as a cycle. The recursions stop
// here rather than exhaust the stack, and the checked climbs give up here.
constexpr uint32_t kMaxDepth = 100;

// ---- Checked build ------------------------------------------------------------
//
// Built with TARN_CHECKED=1, each call checks what it can afford to and stops
// at the first misuse with one line on standard error naming the call. The
// switch is read here and nowhere else: at 0 every check below is empty, and
// the library is the release one.

#ifndef TARN_CHECKED
#define TARN_CHECKED 0
#endif
inline constexpr bool kChecked = TARN_CHECKED != 0;

// Set-up leaves this mark in the upper half of flags, in the checked build
// only. The all-zero descriptor callers start from lacks it, and it travels
// with every copy, move and replica of a descriptor that was set up.
inline constexpr uint64_t kSetUpMark = uint64_t(0x7461726e) << 32; // "tarn"

[[noreturn, gnu::cold, gnu::noinline]] inline void misuse(const char *call, const char *what) {
    std::fprintf(stderr, "%s: %s\n", call, what);
    std::abort();
}

inline void mark_set_up(tarn_head *head) {
    if constexpr (kChecked) head->flags |= kSetUpMark;
}

// Every call but set-up; a NULL head is left to the call. O(1).
inline void check_descriptor(const tarn_head *head, const char *call) {
    if constexpr (kChecked) {
        if (!head) return;
        if ((head->flags & kSetUpMark) != kSetUpMark) misuse(call, "descriptor used before set-up");
        if (head->key_length > TARN_MAX_KEY_LEN) misuse(call, "descriptor key length above 140");
    }
}

// The changing calls act on the descriptor's own root and count, which a
// replica only copied. O(1).
inline void check_changeable(const tarn_head *head, const char *call) {
    check_descriptor(head, call);
    if constexpr (kChecked)
        if (head && (head->flags & TARN_HEAD_REPLICA))
            misuse(call, "tree changed through a replica descriptor");
}

// Insertion zeroes the node: a linked one would be cut out of its tree
// with the links into it left dangling. O(1).
inline void check_unlinked(const tarn_node *node, const char *call) {
    if constexpr (kChecked)
        if (node->in_tree == 1) misuse(call, "node is already linked");
}

// A linked node must lead up to head's own root. O(log n).
inline void check_member(const tarn_head *head, const tarn_node *node, const char *call) {
    if constexpr (kChecked) {
        const tarn_node *top = node;
        for (uint32_t depth = 1; top->parent && depth < kMaxDepth; depth++) top = top->parent;
        if (top->parent || top != head->root) misuse(call, "node is linked in another tree");
    }
}

// A holding cursor steps through links, which are only valid while its node
// is linked: a change without a yield leaves it holding a removed node. O(1).
inline void check_cursor(const tarn_iterator *it, const char *call) {
    if constexpr (kChecked)
        if (it && it->current && it->current->in_tree != 1)
            misuse(call, "cursor holds a node no longer linked (the tree changed without a yield)");
}

// ---- Comparison -------------------------------------------------------------
//
// A comparison is bound to one probe for the length of a call and maps a
// tree-side key address to a code. Byte-wise keys of common lengths are
// loaded as big-endian integers, which orders them exactly as memcmp.

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

// The word whose value orders as memcmp orders its bytes: the first byte is
// the most significant, whatever the host's byte order.
template <class Word>
inline Word load_big_endian(const void *p) {
    Word w;
    std::memcpy(&w, p, sizeof w);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if constexpr (sizeof(Word) == 2)
        w = __builtin_bswap16(w);
    else if constexpr (sizeof(Word) == 4)
        w = __builtin_bswap32(w);
    else if constexpr (sizeof(Word) == 8)
        w = __builtin_bswap64(w);
#elif !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_BIG_ENDIAN__
#error "tarn needs to know the host's byte order"
#endif
    return w;
}

template <class Word>
constexpr uint32_t code_of(Word tree, Word probe) {
    return tree == probe ? TARN_CMP_EQUAL : tree > probe ? TARN_CMP_GREATER : TARN_CMP_LESS;
}

template <class Word>
struct WordOrder {
    Word probe;
    explicit WordOrder(const void *p) : probe(load_big_endian<Word>(p)) {}
    uint32_t operator()(const void *tree_key) const {
        return code_of(load_big_endian<Word>(tree_key), probe);
    }
};

// 16-byte keys compare as one 128-bit word: the compilers that build this
// library compare those without branches, where comparing the two halves
// in turn branches on whether the high halves tie, a coin toss on the way
// down.
__extension__ typedef unsigned __int128 Word128;

struct Word128Order {
    Word128 probe;
    static Word128 load(const void *p) {
        return Word128(load_big_endian<uint64_t>(p)) << 64 |
               load_big_endian<uint64_t>(static_cast<const uint8_t *>(p) + 8);
    }
    explicit Word128Order(const void *p) : probe(load(p)) {}
    uint32_t operator()(const void *tree_key) const { return code_of(load(tree_key), probe); }
};

struct MemcmpOrder {
    const void *probe;
    size_t length;
    uint32_t operator()(const void *tree_key) const {
        int r = std::memcmp(tree_key, probe, length);
        return r < 0 ? TARN_CMP_LESS : r > 0 ? TARN_CMP_GREATER : TARN_CMP_EQUAL;
    }
};

struct AllEqualOrder { // key_length 0: every key compares equal
    uint32_t operator()(const void *) const { return TARN_CMP_EQUAL; }
};

// Runs body(bind) with `bind(probe)` producing the descriptor's byte-wise
// comparison for that probe. The choice is made here, once per call, so each
// body is instantiated per comparison and its loops test no mode.
template <class Body>
inline decltype(auto) with_bytewise_order(const tarn_head *head, Body &&body) {
    switch (head->key_length) {
    case 0: return body([](const void *) { return AllEqualOrder{}; });
    case 1: return body([](const void *p) { return WordOrder<uint8_t>(p); });
    case 2: return body([](const void *p) { return WordOrder<uint16_t>(p); });
    case 4: return body([](const void *p) { return WordOrder<uint32_t>(p); });
    case 8: return body([](const void *p) { return WordOrder<uint64_t>(p); });
    case 16: return body([](const void *p) { return Word128Order(p); });
    default: {
        size_t length = head->key_length;
        return body([length](const void *p) { return MemcmpOrder{p, length}; });
    }
    }
}

// As with_bytewise_order, but the descriptor's comparator wins when set.
template <class Body>
inline decltype(auto) with_key_order(const tarn_head *head, Body &&body) {
    if (tarn_compare_fn fn = head->compare)
        return body([fn](const void *p) { return CallbackOrder{fn, p}; });
    return with_bytewise_order(head, body);
}

// Byte-wise comparison would read key_length bytes through a NULL probe;
// such a probe finds nothing instead. A comparator sees NULL unchanged.
inline bool unreadable_bytes(const tarn_head *head, const void *probe) {
    return !probe && head->key_length != 0;
}

inline bool unreadable_probe(const tarn_head *head, const void *probe) {
    return !head->compare && unreadable_bytes(head, probe);
}

// ---- In-order steps -----------------------------------------------------------

template <Dir d>
inline tarn_node *outermost(tarn_node *n) {
    while (tarn_node *c = child(n, d)) n = c;
    return n;
}

// Successor (d = Right) or predecessor (d = Left) through links alone. The
// climb tests only the parent's left link, in both directions.
template <Dir d>
inline tarn_node *step(tarn_node *n) {
    if (tarn_node *c = child(n, d)) {
        // Every node passed on the way down is the answer of a later step,
        // and the step after that one enters its child on side d: start
        // loading those children now. A scan of a tree larger than the
        // caches then waits for memory about half as often.
        for (;;) {
            tarn_node *later = child(c, d);
            __builtin_prefetch(later ? later : c); // not NULL: that costs a page walk
            tarn_node *next = child(c, other(d));
            if (!next) return c;
            c = next;
        }
    }
    for (tarn_node *m = n, *p = n->parent; p; m = p, p = p->parent)
        if ((p->left == m) == (d == Right)) return p;
    return nullptr;
}

// ---- Descent ------------------------------------------------------------------
//
// Every key search is one loop down from a root; a Steer policy answers "with
// this code at this node: stop, or go which way, and remember the node as the
// candidate?". Its tables are the searches' documented code tables.

enum class Move : uint8_t { Stop, Left, Right, LeftKeep, RightKeep };

struct Descent {
    tarn_node *hit;       // node where the policy stopped, else NULL
    tarn_node *candidate; // last node remembered on the way
    tarn_node *end;       // last node visited
    uint32_t code;        // its code
};

// Equality: 0 stops; 1 left; everything else right.
struct SteerExact {
    static constexpr Move at(uint32_t r) {
        return r == TARN_CMP_EQUAL ? Move::Stop : r == TARN_CMP_GREATER ? Move::Left : Move::Right;
    }
};

// Floor (d = Left) remembers nodes below the probe; ceiling (d = Right)
// remembers nodes above it, including those with out-of-contract codes.
template <Dir d>
struct SteerBound {
    static constexpr Move at(uint32_t r) {
        if (r == TARN_CMP_LESS) return d == Left ? Move::RightKeep : Move::Right;
        if (r == TARN_CMP_EQUAL) return Move::Stop;
        return d == Left ? Move::Left : Move::LeftKeep;
    }
};

// Probe finding: 1 left, 2 right, every other code stops.
struct SteerProbe {
    static constexpr Move at(uint32_t r) {
        return r == TARN_CMP_GREATER ? Move::Left : r == TARN_CMP_LESS ? Move::Right : Move::Stop;
    }
};

template <class Steer, class Order>
inline Descent descend(tarn_node *n, uintptr_t delta, const Order &order) {
    tarn_node *candidate = nullptr;
    for (;;) {
        uint32_t r = order(key_at(n, delta));
        Move m = Steer::at(r);
        if (m == Move::Stop) return {n, candidate, n, r};
        if (m == Move::LeftKeep || m == Move::RightKeep) candidate = n;
        tarn_node *next = m == Move::Left || m == Move::LeftKeep ? n->left : n->right;
        if (!next) return {nullptr, candidate, n, r};
        n = next;
    }
}

// Byte-wise keys of one machine word, which compare as plain integers.
template <class Order>
constexpr bool kSingleWord = false;
template <class Word>
constexpr bool kSingleWord<WordOrder<Word>> = true;

// One level of floor (d = Left) or ceiling (d = Right) below a node whose
// key is not the probe: keep n and go to other(d) when its key lies on side
// other(d) of the probe, else go to d. Two conditional moves: the way down
// is a coin toss per level, and the compilers turn every spelling of this in
// C++ into branches once the loop is inlined.
template <Dir d, class Word>
inline tarn_node *two_way_step(Word key, Word probe, tarn_node *n, tarn_node *&candidate) {
    tarn_node *next = child(n, d), *kept_way = child(n, other(d));
#if defined(__x86_64__) && defined(__GNUC__)
    uint64_t wide_key = key, wide_probe = probe;
    if constexpr (d == Left) // floor: keep when key < probe
        asm("cmp %[probe], %[key]\n\tcmovb %[n], %[candidate]\n\tcmovb %[kept], %[next]"
            : [candidate] "+r"(candidate), [next] "+r"(next)
            : [key] "r"(wide_key), [probe] "r"(wide_probe), [n] "r"(n), [kept] "r"(kept_way)
            : "cc");
    else // ceiling: keep when key > probe
        asm("cmp %[probe], %[key]\n\tcmova %[n], %[candidate]\n\tcmova %[kept], %[next]"
            : [candidate] "+r"(candidate), [next] "+r"(next)
            : [key] "r"(wide_key), [probe] "r"(wide_probe), [n] "r"(n), [kept] "r"(kept_way)
            : "cc");
#else
    bool keep = d == Left ? key < probe : key > probe;
    candidate = keep ? n : candidate;
    next = keep ? kept_way : next;
#endif
    return next;
}

// Floor (d = Left) or ceiling (d = Right) of the probe: the documented
// descent, which ends at the first equal node on its path and otherwise
// returns the last node it kept. Over byte-wise keys of one or two words
// the three ways are a test for equality, which is taken once per search
// at most and so predicted well, and a two-way step by conditional moves
// (one word) or by branches (two words, which measured faster on large
// trees). The stop on equality decides the answer whenever the tree is not
// ordered by this descriptor's configuration (a replica, or a descriptor
// re-initialised to another key), so it is never left out. A comparator
// call costs more than a mispredict: it keeps the plain loop.
template <Dir d, class Order>
inline tarn_node *bound(tarn_node *n, uintptr_t delta, const Order &order) {
    if constexpr (kSingleWord<Order>) {
        using Word = decltype(order.probe);
        tarn_node *candidate = nullptr;
        auto level = [&](tarn_node *at) -> tarn_node * {
            Word key = load_big_endian<Word>(key_at(at, delta));
            if (key == order.probe) return candidate = at, nullptr;
            return two_way_step<d>(key, order.probe, at, candidate);
        };
        while ((n = level(n)) && (n = level(n))) { // two levels a turn: no register copy
        }
        return candidate;
    } else if constexpr (std::is_same_v<Order, Word128Order>) {
        tarn_node *candidate = nullptr;
        do {
            Word128 key = Word128Order::load(key_at(n, delta));
            if (key == order.probe) return n;
            if (d == Left ? key < order.probe : key > order.probe) {
                candidate = n;
                n = child(n, other(d));
            } else {
                n = child(n, d);
            }
        } while (n);
        return candidate;
    } else {
        Descent s = descend<SteerBound<d>>(n, delta, order);
        return s.hit ? s.hit : s.candidate;
    }
}

// A search that ends without a hit asks the end node once more, and that
// answer decides; a comparator that answers the same way twice cannot tell.
template <class Order>
inline uint32_t code_at_end(const Descent &s, uintptr_t delta, const Order &order) {
    return order(key_at(s.end, delta));
}

// Nearest node strictly after (d = Right) or before (d = Left) the probe:
// an equal node gives its neighbour; otherwise the end node answers itself
// when it lies on the far side, else its neighbour does.
template <Dir d, class Order>
inline tarn_node *neighbour_of_key(tarn_node *root, uintptr_t delta, const Order &order) {
    Descent s = descend<SteerExact>(root, delta, order);
    if (s.hit) return step<d>(s.hit);
    constexpr uint32_t far_side = d == Right ? TARN_CMP_GREATER : TARN_CMP_LESS;
    uint32_t r = code_at_end(s, delta, order);
    if (r == TARN_CMP_EQUAL || r == far_side) return s.end;
    return step<d>(s.end);
}

// ---- Recursive walks -----------------------------------------------------------
//
// The order is fixed per call, so it is a template argument of the recursion
// rather than a test at every node. visit(n, depth) sees the root at depth 1;
// nodes below kMaxDepth are not visited.
// A node's left link is read after its pre-order visit, its right link after
// its in-order visit.

template <uint32_t order, class Visit>
void walk_from(tarn_node *n, int32_t depth, const Visit &visit) {
    bool deeper = uint32_t(depth) < kMaxDepth; // only corrupted links reach further
    if (order == TARN_WALK_PREORDER) visit(n, depth);
    if (n->left && deeper) walk_from<order>(n->left, depth + 1, visit);
    if (order == TARN_WALK_INORDER) visit(n, depth);
    if (n->right && deeper) walk_from<order>(n->right, depth + 1, visit);
    if (order == TARN_WALK_POSTORDER) visit(n, depth);
}

// An unknown order visits nothing.
template <class Visit>
void walk_ordered(tarn_node *root, uint32_t order, const Visit &visit) {
    if (!root) return;
    switch (order) {
    case TARN_WALK_PREORDER: return walk_from<TARN_WALK_PREORDER>(root, 1, visit);
    case TARN_WALK_INORDER: return walk_from<TARN_WALK_INORDER>(root, 1, visit);
    case TARN_WALK_POSTORDER: return walk_from<TARN_WALK_POSTORDER>(root, 1, visit);
    default: return;
    }
}

} // namespace tarn::detail
