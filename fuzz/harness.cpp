// SPDX-License-Identifier: MIT
// Differential fuzzer (libFuzzer, or replay.cpp): calls on a tree, a replica
// of it and four cursors. Every answer is checked against the documented
// algorithm replayed over the real tree (the oracle below), so answers that
// depend on the tree's shape, on the replica's order or on codes outside
// 0..2 are decided exactly; the whole tree is checked after every change.
// A mismatch aborts naming the call.
// Input: two configuration bytes (the tree's order, key length and place,
// the replica's kind, salt), then four-byte operations: opcode, selector
// (view or cursor, flags), two operands.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tarn.h"
#include "tree_check.hpp"

void container_reset(uint8_t flavor);
void container_op(const uint8_t *op, size_t index);

namespace {

// ---- Records, keys and orders ----------------------------------------------

constexpr size_t kRoom = TARN_MAX_KEY_LEN + 1; // a replica may read one byte on
struct Rec {
    bool linked;           // the model: whether the tree holds this record
    uint8_t before[kRoom]; // a key before the node, unaligned
    tarn_node node;
    uint8_t after[kRoom]; // or one after it
};
constexpr uint64_t kNodeOffset = offsetof(Rec, node);
constexpr size_t kPool = 320; // more records than keys: duplicates happen

enum Order { Bytes, Contract, Wild };
constexpr const char *kOrderName[] = {"byte-wise", "contract", "wild"};
// How the replica orders the same tree: with the tree's comparator, another
// one, bytes, a key prefix, keys read one byte on; or it has no origin.
enum Replica { SameOrder, OtherOrder, AsBytes, Prefix, Shifted, Orphan };

Order g_order;      // of the tree
Replica g_kind;     // of the replica
uint32_t g_salt;    // picks which pairs get wild codes, and the other order
size_t g_length;    // of its keys
bool g_before;      // whether they lie before the node
uint32_t g_extra;   // what tarn_lookup_exact must hand through
uint32_t g_seq;     // comparator calls since the call (or its replay) began
size_t g_op;        // operations decoded so far
const char *g_call; // the call under test, for messages

[[noreturn]] void fail(const char *what, int line) {
    std::fprintf(stderr,
                 "tarn_fuzz: %s: %s (harness line %d, operation %zu, %zu-byte %s keys, "
                 "replica kind %d)\n",
                 g_call, what, line, g_op, g_length, kOrderName[g_order], int(g_kind));
    std::abort();
}
#define EXPECT(cond) ((cond) ? void(0) : fail("expected " #cond, __LINE__))
#define CALL(f, ...) (g_call = #f, g_seq = 0, f(__VA_ARGS__)) // names the call for messages

Rec *rec_of(const void *node) {
    return node ? reinterpret_cast<Rec *>(reinterpret_cast<uintptr_t>(node) - kNodeOffset)
                : nullptr;
}
tarn_node *node_of(void *record) { return record ? &static_cast<Rec *>(record)->node : nullptr; }

// v's high nibble leads the key (or ends its first word) and its low nibble
// ends it: every byte of a word, and both words of 16 bytes, decide.
size_t high_nibble_at() { return g_length == 16 ? 7 : 0; }
void encode(uint8_t v, uint8_t *key) {
    for (size_t i = 0; i < g_length; i++) key[i] = i < 8 ? '<' : 0xC3;
    if (g_length == 1) return void(*key = v);
    key[high_nibble_at()] = uint8_t(v >> 4), key[g_length - 1] = uint8_t(v & 15);
}
uint8_t decode(const void *key) {
    const auto *k = static_cast<const uint8_t *>(key);
    return g_length == 1 ? k[0] : uint8_t(k[high_nibble_at()] << 4 | k[g_length - 1]);
}
uint8_t *key_of(Rec &r) { return g_before ? r.before : r.after; }
uint8_t value(const Rec *r) { return decode(key_of(const_cast<Rec &>(*r))); }

// v's place in the order: its own byte-wise, else a permutation that bytes
// get wrong. The other order is another permutation.
unsigned rank(uint8_t v) {
    if (g_order == Bytes) return v;
    return g_salt & 1 ? v ^ 0xA5u : uint8_t(v << 4 | v >> 4);
}
uint32_t by_rank(unsigned a, unsigned b) {
    return a == b ? TARN_CMP_EQUAL : a > b ? TARN_CMP_GREATER : TARN_CMP_LESS;
}

// A wild pair answers by the number of calls made so far, so a search that
// asks a node twice may get two answers.
constexpr uint32_t kWildCodes[] = {
    3,           0xFFFFFFFFu, TARN_CMP_EQUAL, TARN_CMP_GREATER, TARN_CMP_LESS,
    0x80000000u, 7,           TARN_CMP_EQUAL};
uint32_t code(uint8_t tree_v, uint8_t probe_v) {
    unsigned a = rank(tree_v), b = rank(probe_v);
    g_seq++;
    if (g_order == Wild && ((a * 7 + b * 13 + g_salt) & 15) == 0)
        return kWildCodes[(a + b + g_seq) & 7];
    return by_rank(a, b);
}

// The tree's comparisons: of keys, of nodes (the probe calls), and an
// order of its own for tarn_lookup_exact and the replica of another order.
using Key = const void *;
uint32_t compare_keys(Key t, Key p) { return code(decode(t), decode(p)); }
uint32_t compare_nodes(Key t, Key p) { return code(value(rec_of(t)), value(rec_of(p))); }
uint32_t compare_other(Key t, Key p) {
    return by_rank(uint8_t(decode(t) * 37 + g_salt), uint8_t(decode(p) * 37 + g_salt));
}
uint32_t compare_exact(Key t, Key p, uint32_t x) {
    return EXPECT(x == g_extra), compare_other(t, p);
}

// ---- The tree, its replica and the model -------------------------------------

tarn_head g_head, g_replica;
Rec g_pool[kPool];
Rec g_probe; // stands for a key in the probe calls; never linked
// The whole-tree check; its walks: the nodes linked, as it last found them.
tarn_tests::TreeCheck g_check;
std::vector<tarn_node *> &g_nodes = g_check.walk[TARN_WALK_INORDER];

uint64_t key_offset() { return g_before ? offsetof(Rec, before) : offsetof(Rec, after); }
void configure(bool by_node = false) {
    bool bytes = g_order == Bytes;
    tarn_compare_fn fn = by_node ? compare_nodes : bytes ? nullptr : compare_keys;
    tarn_compare_exact_fn exact = g_salt & 2 ? compare_exact : nullptr;
    EXPECT(tarn_init_new(&g_head, kNodeOffset, g_length, key_offset(), fn, exact) == 1);
    EXPECT(g_head.compare == fn && g_head.compare_exact == exact && g_head.key_length == g_length &&
           g_head.node_offset == kNodeOffset && g_head.key_offset == key_offset());
}

// Taken anew from the tree, over a descriptor full of ones; a replica re-
// initialised while the tree is empty is a plain empty descriptor after.
void replicate() {
    tarn_compare_fn fn = g_kind == OtherOrder                   ? compare_other
                         : g_kind >= AsBytes && g_kind < Orphan ? nullptr
                                                                : compare_keys;
    std::memset(&g_replica, 0xFF, sizeof g_replica);
    tarn_head want = g_head;
    CALL(tarn_replicate_head_node, &g_head, &g_replica, fn);
    want.origin = &g_head, want.compare = fn, want.flags |= TARN_HEAD_REPLICA;
    EXPECT(std::memcmp(&want, &g_replica, sizeof want) == 0);
    if (g_kind == Prefix) tarn_init_new(&g_replica, kNodeOffset, g_length / 2, key_offset(), fn, 0);
    if (g_kind == Shifted)
        tarn_init_new(&g_replica, kNodeOffset, g_length - 1, key_offset() + 1, fn, nullptr);
    if (g_kind == Orphan) g_replica.origin = nullptr;
}

// The descriptor a call is given: the tree's, or the replica.
tarn_head *view(unsigned i) { return i & 1 ? &g_replica : &g_head; }
tarn_node *root_of(const tarn_head *h) {
    if (!(h->flags & TARN_HEAD_REPLICA)) return h->root;
    return h->origin ? h->origin->root : nullptr;
}

// After every change: the whole tree, its order and count, in_tree of every
// record, and the nodes linked being those the model holds. Verification
// must pass, and fail with one balance code damaged.
bool ascending(const tarn_node *a, const tarn_node *b) {
    return rank(value(rec_of(a))) < rank(value(rec_of(b)));
}
void check_tree() {
    if (const char *failure = g_check(g_head, g_order == Wild ? nullptr : ascending))
        fail(failure, __LINE__);
    size_t linked = 0;
    for (const Rec &r : g_pool) linked += r.linked, EXPECT(r.node.in_tree == r.linked);
    EXPECT(g_nodes.size() == linked);
    bool empty = g_nodes.empty();
    EXPECT(tarn_verify_balance_factors(&g_head) && tarn_verify_balance_factors(&g_replica));
    EXPECT(tarn_is_empty(&g_head) == empty && tarn_is_empty(&g_replica) == !root_of(&g_replica));
    if (empty || g_op % 4) return; // now and then: verification is slow to fuzz
    tarn_node *n = g_nodes[g_op % linked];
    uint32_t kept = n->balance;
    n->balance = (kept + 1 + g_op % 3) % 4;
    EXPECT(!tarn_verify_balance_factors(&g_head));
    EXPECT(!tarn_verify_balance_factors(&g_replica) == (root_of(&g_replica) == g_head.root));
    n->balance = kept;
}

// The in-order neighbour of a node: links alone decide, so this holds under
// any comparison. An unlinked node has NULL links.
tarn_node *neighbour(const tarn_node *n, bool forward) {
    auto i = std::find(g_nodes.begin(), g_nodes.end(), n) - g_nodes.begin();
    if (size_t(i) == g_nodes.size() || (!forward && i == 0)) return nullptr;
    return forward ? (size_t(i) + 1 < g_nodes.size() ? g_nodes[size_t(i) + 1] : nullptr)
                   : g_nodes[size_t(i) - 1];
}

// ---- The oracle: the documented descents, replayed ---------------------------

// A code as the descriptor's configuration gives it: its comparator (or, for
// tarn_lookup_exact, compare_exact; for probe calls, compare on nodes), else
// memcmp over its key length. The library fails a call whose byte-wise
// comparison would read a NULL probe; g_unread records that.
enum How { ByKey, ByExact, ByNode };
bool g_unread;
uint32_t code_at(const tarn_head *h, tarn_node *n, Key probe, How how = ByKey) {
    if (how == ByNode) return h->compare(n, probe);
    Key key =
        reinterpret_cast<Key>(reinterpret_cast<uintptr_t>(n) + h->key_offset - h->node_offset);
    if (how == ByExact && h->compare_exact) return h->compare_exact(key, probe, g_extra);
    if (how == ByKey && h->compare) return h->compare(key, probe);
    if (!h->key_length) return TARN_CMP_EQUAL;
    if (!probe) return g_unread = true, TARN_CMP_EQUAL;
    int r = std::memcmp(key, probe, h->key_length);
    return r < 0 ? TARN_CMP_LESS : r > 0 ? TARN_CMP_GREATER : TARN_CMP_EQUAL;
}
constexpr bool not_below(uint32_t r) { return r == TARN_CMP_EQUAL || r == TARN_CMP_GREATER; }
constexpr bool not_above(uint32_t r) { return r == TARN_CMP_EQUAL || r == TARN_CMP_LESS; }

// The code tables: what a descent does on 0, 1, 2 and any other code.
enum Act : uint8_t { Hit, Left, Right, KeepLeft, KeepRight, Halt };
struct Steer {
    Act equal, greater, less, other;
};
constexpr Steer kFind{Hit, Left, Right, Right}; // lookups, insertion, strict searches
constexpr Steer kFloor{Hit, Left, KeepRight, Left};
constexpr Steer kCeiling{Hit, KeepLeft, Right, KeepLeft}; // and the first range search
constexpr Steer kProbe{Hit, Left, Right, Halt};

struct Path {
    tarn_node *hit, *kept, *end; // end: the last node asked
    uint32_t code;               // its answer
    bool stopped;                // on a hit, or on a code that halts
};
Path descend(tarn_node *n, Steer s, const tarn_head *h, Key probe, How how = ByKey) {
    Path p{};
    while (n) {
        p.end = n, p.code = code_at(h, n, probe, how);
        Act a = p.code == 0 ? s.equal : p.code == 1 ? s.greater : p.code == 2 ? s.less : s.other;
        if (a == Hit) p.hit = n;
        if (a == Hit || a == Halt) return p.stopped = true, p;
        if (a == KeepLeft || a == KeepRight) p.kept = n;
        n = a == Left || a == KeepLeft ? n->left : n->right;
    }
    return p;
}

// The key searches: floor, ceiling, equality (kept stays NULL); and the
// strict searches, as a detached cursor resumes.
template <const Steer &steer, How how = ByKey>
tarn_node *search(const tarn_head *h, Key key) {
    Path p = descend(root_of(h), steer, h, key, how);
    return p.hit ? p.hit : p.kept;
}
template <bool forward>
tarn_node *strictly(const tarn_head *h, Key key) {
    Path p = descend(root_of(h), kFind, h, key);
    if (p.hit) return neighbour(p.hit, forward);
    if (!p.end) return nullptr;
    uint32_t r = code_at(h, p.end, key); // a search without a hit asks the end node again
    return r == TARN_CMP_EQUAL || r == (forward ? 1u : 2u) ? p.end : neighbour(p.end, forward);
}

// The first node of a range, by the first call or (second) the other.
tarn_node *first_in_range(const tarn_head *h, Key low, Key high, bool second) {
    if (!second) {
        Path p = descend(root_of(h), kCeiling, h, low);
        tarn_node *n = p.hit ? p.hit : p.kept;
        return n && code_at(h, n, high) == TARN_CMP_GREATER ? nullptr : n;
    }
    Path p = descend(root_of(h), kFind, h, low);
    if (p.hit || !p.end) return p.hit;
    uint32_t r = code_at(h, p.end, low);
    tarn_node *n = r == TARN_CMP_GREATER ? p.end : nullptr;
    if (r == TARN_CMP_LESS && (n = neighbour(p.end, true)) && code_at(h, n, low) != 1) n = nullptr;
    return n && not_above(code_at(h, n, high)) ? n : nullptr;
}

// The next node of a range scan from where the cursor holds or saved.
tarn_node *next_in_range(const tarn_head *h, Key low, Key high, tarn_node *held, Key saved) {
    tarn_node *n = held ? neighbour(held, true) : nullptr;
    if (!h) return nullptr;
    if (!held) {
        Path p = descend(root_of(h), kFind, h, saved);
        uint32_t r = p.hit || !p.end ? 0 : code_at(h, p.end, saved);
        n = p.hit ? neighbour(p.hit, true) : r == 1 ? p.end : r == 2 ? neighbour(p.end, true) : 0;
    }
    return n && not_below(code_at(h, n, low)) && not_above(code_at(h, n, high)) ? n : nullptr;
}

// The probe steps: onward within a search, a nested search at each turn,
// whose node answers when nothing nearer turns up below it.
tarn_node *nested(const tarn_head *h, tarn_node *n, Key probe, bool forward) {
    for (; n; n = forward ? n->right : n->left) {
        uint32_t r = code_at(h, n, probe, ByNode);
        if (r == (forward ? 1u : 2u)) {
            tarn_node *nearer = nested(h, forward ? n->left : n->right, probe, forward);
            return nearer ? nearer : n;
        }
        if (r != (forward ? 2u : 1u)) return r == TARN_CMP_EQUAL ? neighbour(n, forward) : nullptr;
    }
    return nullptr;
}
template <bool forward>
tarn_node *from_probe(const tarn_head *h, Key probe) {
    return h->compare ? nested(h, h->root, probe, forward) : nullptr;
}

// tarn_search_for_node's result and *out as one answer: the node found, a
// mark for a stop without one, or NULL.
tarn_node g_halted, g_broken;
tarn_node *search_for_node(const tarn_head *h, Key probe) {
    tarn_node *out = &g_broken;
    int32_t stopped = tarn_search_for_node(h, probe, &out);
    return stopped == 1 ? out ? out : &g_halted : stopped || out ? &g_broken : nullptr;
}
tarn_node *find_probe(const tarn_head *h, Key probe) {
    Path p = h->compare ? descend(h->root, kProbe, h, probe, ByNode) : Path{};
    return p.hit ? p.hit : p.stopped ? &g_halted : nullptr;
}

tarn_node *lookup_exact(const tarn_head *h, Key key) { return tarn_lookup_exact(h, key, g_extra); }
tarn_node *lookup_user_data(const tarn_head *h, Key key) {
    return node_of(tarn_lookup_user_data(h, key));
}

// The calls that answer one key (or probe node) with one node.
using Search = tarn_node *(*)(const tarn_head *, Key);
constexpr struct {
    const char *name;
    Search call, want;
    bool by_node;
} kQueries[] = {
    {"tarn_lookup", tarn_lookup, search<kFind>, false},
    {"tarn_lookup_exact", lookup_exact, search<kFind, ByExact>, false},
    {"tarn_lookup_user_data", lookup_user_data, search<kFind>, false},
    {"tarn_lookup_le", tarn_lookup_le, search<kFloor>, false},
    {"tarn_lookup_ge", tarn_lookup_ge, search<kCeiling>, false},
    {"tarn_get_next_node_from_key", tarn_get_next_node_from_key, strictly<true>, false},
    {"tarn_get_previous_node_from_key", tarn_get_previous_node_from_key, strictly<false>, false},
    {"tarn_search_for_node", search_for_node, find_probe, true},
    {"tarn_get_next_from_node", tarn_get_next_from_node, from_probe<true>, true},
    {"tarn_get_prev_from_node", tarn_get_prev_from_node, from_probe<false>, true},
};

// Runs the library's call, then the oracle from the same start; a byte-wise
// read of a NULL probe makes the call fail.
template <class Call, class Oracle>
void expect_same(Call call, Oracle oracle) {
    g_seq = 0;
    auto got = call();
    g_seq = 0, g_unread = false;
    auto want = oracle();
    EXPECT(got == (g_unread ? decltype(want){} : want));
}

// ---- Operations ------------------------------------------------------------

struct Op {
    uint8_t sel, x, y; // selector and flags, two operands
};

size_t pick(uint8_t b) { return size_t(b) * kPool / 256; }

// A probe key in the view's own layout: a record's key as h reads it, which
// finds that record; or a value encoded in the tree's layout.
uint8_t *probe_key(const tarn_head *h, uint8_t v, bool of_record, uint8_t *key) {
    const uint8_t *at =
        reinterpret_cast<const uint8_t *>(&g_pool[pick(v)].node) + h->key_offset - h->node_offset;
    return of_record ? std::memcpy(key, at, h->key_length), key : (encode(v, key), key);
}

// Now and then many inserts at once, to reach deep trees. The oracle's
// descent names the parent; rotations keep the new node beside it in order.
void insert_op(const Op &o) {
    uint8_t v = o.y;
    for (unsigned n = o.sel >= 0xE0 ? o.sel % 32 * 2 : 1; n; n--, v = uint8_t(v * 37 + 11)) {
        size_t i = pick(o.x);
        while (g_pool[i].linked)
            if ((i = (i + 1) % kPool) == pick(o.x)) return; // every record is linked
        Rec &r = g_pool[i];
        encode(v, key_of(r));
        if (o.sel & 16) // now and then by a key prefix, which keeps the tree ordered
            tarn_init_new(&g_head, kNodeOffset, g_length / 2, key_offset(), g_head.compare, 0);
        g_seq = 0;
        Path p = descend(g_head.root, kFind, &g_head, key_of(r));
        int32_t got = CALL(tarn_insert, &g_head, &r.node);
        configure();
        const tarn_node zero{};
        EXPECT(got == !p.hit && (got || std::memcmp(&r.node, &zero, sizeof zero) == 0));
        r.linked = got;
        check_tree();
        EXPECT(!p.end || !got || neighbour(&r.node, p.code == TARN_CMP_GREATER) == p.end);
    }
}

// Now and then many removals at once, to reach empty trees.
void remove_op(const Op &o) {
    size_t stride = o.sel >= 0xC0 ? o.y % 7 + 1 : kPool;
    for (size_t i = pick(o.x) % stride; i < kPool; i += stride) {
        tarn_node &n = g_pool[i].node;
        if (stride != kPool && !g_pool[i].linked) continue;
        CALL(tarn_delete, &g_head, &n);
        g_pool[i].linked = false;
        EXPECT(!n.in_tree && !n.left && !n.right && !n.parent);
        check_tree();
    }
}

// Probe calls compare nodes: the tree's descriptor is re-initialised for
// them, which keeps its nodes, and back after; the replica's comparator is
// set by hand. A refused call finds no comparator.
template <class Call>
void probe_call(tarn_head *h, bool refused, Call call) {
    tarn_compare_fn kept = h->compare;
    h == &g_head ? configure(!refused) : void(h->compare = refused ? nullptr : compare_nodes);
    call();
    h == &g_head ? configure() : void(h->compare = kept);
}

void delete_probe_op(const Op &o) {
    bool refused = o.sel & 4 && !g_head.compare, with_out = !(o.sel & 8);
    encode(o.x, key_of(g_probe));
    tarn_node *out = &g_probe.node;
    probe_call(&g_head, refused, [&] {
        g_seq = 0;
        Path p =
            g_head.compare ? descend(g_head.root, kProbe, &g_head, &g_probe.node, ByNode) : Path{};
        int32_t got = CALL(tarn_delete_node, &g_head, &g_probe.node, with_out ? &out : nullptr);
        EXPECT(got == p.stopped && (!with_out || out == p.hit));
        if (p.hit) rec_of(p.hit)->linked = false;
    });
    check_tree();
}

// Every query on one key or probe, through the tree or the replica. Probe
// calls start from the descriptor's own root: the replica's is a snapshot.
void query_op(const Op &o) {
    tarn_head *h = view(o.sel);
    uint8_t buffer[kRoom];
    bool absent = o.sel & 4 && !h->compare;
    Key k = absent && !h->compare_exact ? nullptr : probe_key(h, o.x, o.sel & 8, buffer);
    g_extra = uint32_t(o.x) * 0x01000193u;
    encode(o.x, key_of(g_probe));
    auto ask = [&](bool by_node) {
        for (const auto &q : kQueries) {
            Key probe = by_node ? &g_probe.node : k;
            if (q.by_node == by_node && (g_call = q.name))
                expect_same([&] { return q.call(h, probe); }, [&] { return q.want(h, probe); });
        }
    };
    ask(false);
    probe_call(h, absent, [&] {
        EXPECT(CALL(tarn_search_for_node, h, &g_probe.node, nullptr) == 0 && g_seq == 0);
        ask(true);
    });
}

struct Cursor {
    tarn_iterator it;
    tarn_node *holding;              // NULL: detached
    uint8_t saved[TARN_MAX_KEY_LEN]; // what saved_key holds
};
Cursor g_cursors[4]; // even ones on the tree, odd ones on the replica

void expect_cursor(const Cursor &c) {
    EXPECT(c.it.current == c.holding && !std::memcmp(c.it.saved_key, c.saved, sizeof c.saved));
}

// The cursor calls and the first-node calls that start scans. Holding, a
// cursor steps through links; detached, it searches from saved_key. Calls
// store only a node found; range calls store NULL too.
void cursor_op(const Op &o) {
    enum Kind { InRange, Next, Previous, NextRecord, Yield, First, FirstInRange, Init };
    Cursor &c = g_cursors[o.sel & 3];
    tarn_head *view_head = view(o.sel);
    auto kind = Kind(o.sel >> 2 & 7);
    bool other = o.sel & 32; // a NULL head for steps; the other first-node call
    bool absent = o.sel & 64 && !view_head->compare,
         ranged = kind == InRange || kind == FirstInRange;
    const tarn_head *head = other && kind <= Yield ? nullptr : view_head;
    if (kind == Init) {
        EXPECT(CALL(tarn_init_iterator, head, &c.it) == 1);
        c.holding = nullptr;
        if (o.sel & 128)
            std::memcpy(c.saved, probe_key(head, o.x, o.y & 1, c.it.saved_key), g_length);
        return expect_cursor(c);
    }
    if (kind == Yield) {
        CALL(tarn_pre_sched_yield, head, &c.it);
        if (head && c.holding)
            std::memcpy(c.saved,
                        reinterpret_cast<uint8_t *>(c.holding) + head->key_offset -
                            head->node_offset,
                        head->key_length);
        c.holding = head ? nullptr : c.holding;
        return expect_cursor(c);
    }
#ifdef TARN_CHECKED // the checked library stops a step from a node removed meanwhile
    if (kind < Yield && c.holding && !c.holding->in_tree) return;
#endif
    // Bounds near each other in the tree's order (now and then anywhere, or
    // inverted), now and then from the key the cursor stands at; a byte-wise
    // bound NULL now and then, which fails the call where it would be read.
    uint8_t low_v = o.sel & 128 ? c.holding ? value(rec_of(c.holding)) : decode(c.saved) : o.x;
    uint8_t high_v =
        (o.y & 0xC0) == 0xC0 ? o.y : uint8_t(rank(uint8_t(rank(low_v) + (o.y & 7) - 2)));
    uint8_t low_key[kRoom], high_key[kRoom];
    encode(low_v, low_key), encode(high_v, high_key);
    Key low = absent && o.y & 16 ? nullptr : low_key,
        high = absent && !(o.y & 16) ? nullptr : high_key;
    tarn_node **out = o.y & 8 ? nullptr : &c.it.current; // for the first-node calls
    tarn_node *got = nullptr;
    auto call = [&]() -> tarn_node * {
        switch (kind) {
        case InRange: return CALL(tarn_get_next_node_in_range, head, low, high, &c.it);
        case Next: return CALL(tarn_get_next_node, head, &c.it);
        case Previous: return CALL(tarn_get_previous_node, head, &c.it);
        case NextRecord: // a detached cursor that found nothing stays NULL
            EXPECT(CALL(tarn_get_next_user_data, head, &c.it) == (head ? rec_of(c.it.current) : 0));
            return c.it.current;
        case First:
            return other ? node_of(CALL(tarn_get_first_user_data, head, out))
                         : CALL(tarn_get_first_node, head, out);
        default:
            return other ? CALL(tarn_get_first_node_in_range2, head, low, high, out)
                         : CALL(tarn_get_first_node_in_range, head, low, high, out);
        }
    };
    auto oracle = [&]() -> tarn_node * {
        tarn_node *root = root_of(view_head);
        switch (kind) {
        case InRange: return next_in_range(head, low, high, c.holding, c.saved);
        case First: return root ? g_nodes.front() : nullptr;
        case FirstInRange: return first_in_range(head, low, high, other);
        default:
            if (c.holding) return neighbour(c.holding, kind != Previous);
            if (!head) return nullptr;
            return (kind == Previous ? strictly<false> : strictly<true>)(head, c.saved);
        }
    };
    expect_same([&] { return got = call(); }, oracle);
    bool stores = kind < First ? got || c.holding || ranged : out && (got || ranged);
    if (stores) c.holding = got;
    expect_cursor(c);
}

// The walks through either view: the in-order walk stopped by its visitor,
// or with the visitor removing the node it was handed, which ends the walk;
// the three-order walk and the print.
struct Visits {
    tarn_head *head;
    size_t stop_at, remove_at;
    std::vector<tarn_node *> seen;
};
int32_t visit(tarn_head *h, tarn_node *n, void *context) {
    auto &v = *static_cast<Visits *>(context);
    EXPECT(h == v.head);
    v.seen.push_back(n);
    if (v.seen.size() == v.remove_at) tarn_delete(&g_head, n), rec_of(n)->linked = false;
    return v.seen.size() != v.stop_at;
}
Visits *g_printed;
void print_hook(tarn_node *n) { g_printed->seen.push_back(n); }

void walk_op(const Op &o) {
    tarn_head *h = view(o.sel);
    bool whole = root_of(h) == g_head.root;
    size_t at = o.y % (g_nodes.size() + 2) + 1, order = o.x % 4;
    Visits v{h, o.sel & 4 ? 0 : at, o.sel & 4 ? at : 0, {}};
    std::vector<tarn_node *> want(
        g_nodes.begin(), whole ? g_nodes.begin() + std::min(at, g_nodes.size()) : g_nodes.begin());
    if (o.sel & 8) {
        EXPECT(CALL(tarn_walk_tree, h, &v, visit) == (v.stop_at && want.size() == at ? 0 : 1));
        EXPECT(v.seen == want);
        return check_tree();
    }
    want = order < 3 && whole ? g_check.walk[order] : std::vector<tarn_node *>{};
    Visits printed{h, 0, 0, {}};
    v.remove_at = 0, g_printed = &printed;
    CALL(tarn_walk_tree_v2, h, uint32_t(order), &v, visit);
    CALL(tarn_print_tree, h, uint32_t(order), print_hook);
    EXPECT(v.seen == want && printed.seen == want);
}

// tarn_init refuses an over-long key without writing and takes the longest;
// the replica is taken anew.
void descriptor_op(const Op &) {
    tarn_head want = g_head;
    EXPECT(CALL(tarn_init, &g_head, TARN_MAX_KEY_LEN + 1, 0, nullptr, nullptr) == 0);
    EXPECT(std::memcmp(&want, &g_head, sizeof want) == 0);
    EXPECT(CALL(tarn_init, &g_head, TARN_MAX_KEY_LEN, 0, nullptr, nullptr) == 1);
    configure();
    replicate();
}

// tarn.hpp's container, in fuzz/container.cpp.
void tree_op(const Op &o) {
    const uint8_t op[4] = {uint8_t(g_op), o.sel, o.x, o.y};
    ::container_op(op, g_op);
}

// What each opcode (mod 40) does: the weights of the mix.
using Handler = void (*)(const Op &);
constexpr Handler kSchedule[40] = {
    insert_op,     insert_op,     insert_op,       insert_op,       insert_op, insert_op, insert_op,
    insert_op,     remove_op,     remove_op,       delete_probe_op, query_op,  query_op,  query_op,
    cursor_op,     cursor_op,     cursor_op,       cursor_op,       cursor_op, cursor_op, cursor_op,
    cursor_op,     cursor_op,     walk_op,         walk_op,         query_op,  query_op,  cursor_op,
    descriptor_op, descriptor_op, delete_probe_op, remove_op,       tree_op,   tree_op,   tree_op,
    tree_op,       tree_op,       tree_op,         tree_op,         tree_op,
};

void run(const uint8_t *data, size_t size) {
    uint8_t config[2] = {};
    std::memcpy(config, data, std::min<size_t>(2, size));
    constexpr size_t kLengths[] = {1, 2, 4, 8, 16, 5, 3, 9, 17, TARN_MAX_KEY_LEN};
    g_order = Order(config[0] % 3);
    g_length = kLengths[config[0] / 3 % 10];
    g_kind = Replica(config[1] % 6);
    g_before = config[1] / 6 % 2;
    g_salt = config[1] / 12;
    g_op = 0;
    std::memset(static_cast<void *>(g_pool), 0, sizeof g_pool);
    std::memset(&g_head, 0xFF, sizeof g_head); // set-up must zero it
    g_head.root = nullptr;
    configure();
    EXPECT(!g_head.origin && uint32_t(g_head.flags) == 0 && g_head.count == 0);
    descriptor_op({0, 0, 0});
    check_tree();
    for (Cursor &c : g_cursors) std::memset(&c, 0, sizeof c);
    container_reset(config[1]);
    for (size_t at = 2; at < size; at += 4) {
        g_op++;
        uint8_t op[4] = {};
        std::memcpy(op, data + at, std::min<size_t>(4, size - at));
        kSchedule[op[0] % 40]({op[1], op[2], op[3]});
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // tarn_print_tree writes to standard output; the fuzzer reports on stderr.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    run(data, size);
    return 0;
}
