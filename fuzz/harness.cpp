// Differential fuzzer. Decodes its input into calls on two trees (1-byte and
// 16-byte keys), a replica of the first and four cursors; checks every
// answer against an ordered model, and the whole tree after every change. A
// mismatch aborts with the name of the call. Built as a libFuzzer target
// with clang, or with any compiler as a replay program (replay.cpp).
//
// Input: one configuration byte (comparison of each tree, wild-code salt),
// then operations of one opcode byte and a few operand bytes each. A key is
// one byte v; each tree encodes it in its own layout and orders it by its
// own rank(v). Under the wild comparison some pairs get codes outside 0..2:
// there only what the library still promises is checked (shape, links,
// count, in_tree, answers being linked nodes, link-following steps).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <vector>

#include "tarn.h"
#include "tree_check.hpp"

namespace {

// ---- Records, keys and orders ----------------------------------------------

struct Rec {
    uint64_t index;
    uint8_t wide[16]; // the wide tree's key, before the node
    tarn_node node;
    uint8_t narrow; // the narrow tree's key, after the node
};
constexpr uint64_t kNodeOffset = offsetof(Rec, node);
constexpr size_t kPool = 320; // more records than keys: duplicates happen

enum Width { Narrow, Wide };
enum Order { Bytes, Contract, Wild };
constexpr const char *kOrderName[] = {"byte-wise", "contract", "wild"};

Rec *rec_of(const void *node) {
    return node ? reinterpret_cast<Rec *>(reinterpret_cast<uintptr_t>(node) - kNodeOffset)
                : nullptr;
}
tarn_node *node_of(Rec *r) { return r ? &r->node : nullptr; }

// Wide keys share filler bytes so that both halves of a 16-byte key decide.
void encode(Width w, uint8_t v, uint8_t *key) {
    if (w == Narrow) {
        key[0] = v;
        return;
    }
    std::memset(key, 0x3C, 8);
    std::memset(key + 8, 0xC3, 8);
    key[7] = uint8_t(v >> 4);
    key[15] = uint8_t(v & 15);
}
uint8_t decode(Width w, const void *key) {
    const auto *k = static_cast<const uint8_t *>(key);
    return w == Narrow ? k[0] : uint8_t(k[7] << 4 | k[15]);
}
uint8_t *key_field(Width w, Rec &r) { return w == Narrow ? &r.narrow : r.wide; }

// Position of v in a tree's order. Byte-wise order is v's own; the
// comparators order by a permutation that byte-wise comparison gets wrong.
template <Width w, Order o>
unsigned rank(uint8_t v) {
    if (o == Bytes) return v;
    return w == Narrow ? v ^ 0xA5u : uint8_t(v << 4 | v >> 4);
}

uint32_t g_salt;     // picks which pairs get wild codes
uint64_t g_calls;    // comparator calls so far
uint32_t g_extra;    // what tarn_lookup_exact must hand through
size_t g_op;         // operations decoded so far
const char *g_setup; // configuration, for messages

[[noreturn]] void fail(const char *op, const char *what) {
    std::fprintf(stderr, "tarn_fuzz: %s: %s (operation %zu, %s)\n", op, what, g_op, g_setup);
    std::abort();
}
void expect(bool ok, const char *op, const char *what) {
    if (!ok) fail(op, what);
}

constexpr uint32_t kWildCodes[] = {3, 0xFFFFFFFFu, 0x80000000u, 7};

template <Width w, Order o>
uint32_t compare_values(uint8_t tree_v, uint8_t probe_v) {
    g_calls++;
    unsigned a = rank<w, o>(tree_v), b = rank<w, o>(probe_v);
    if (o == Wild && ((a * 7 + b * 13 + g_salt) & 15) == 0) return kWildCodes[(a + b) & 3];
    return a == b ? TARN_CMP_EQUAL : a > b ? TARN_CMP_GREATER : TARN_CMP_LESS;
}
template <Width w, Order o>
uint32_t compare_keys(const void *tree_key, const void *probe) {
    return compare_values<w, o>(decode(w, tree_key), decode(w, probe));
}
template <Width w, Order o>
uint32_t compare_exact(const void *tree_key, const void *probe, uint32_t extra) {
    expect(extra == g_extra, "tarn_lookup_exact", "extra not handed through");
    return compare_keys<w, o>(tree_key, probe);
}
// For the probe calls: both sides are node addresses.
template <Width w, Order o>
uint32_t compare_nodes(const void *tree_node, const void *probe_node) {
    return compare_values<w, o>(decode(w, key_field(w, *rec_of(tree_node))),
                                decode(w, key_field(w, *rec_of(probe_node))));
}

struct Comparison {
    uint32_t (*code)(uint8_t, uint8_t);
    unsigned (*rank)(uint8_t);
    tarn_compare_fn keys;
    tarn_compare_exact_fn exact;
    tarn_compare_fn nodes;
};
template <Width w, Order o>
constexpr Comparison comparison() {
    return {compare_values<w, o>, rank<w, o>, compare_keys<w, o>, compare_exact<w, o>,
            compare_nodes<w, o>};
}
constexpr Comparison kComparison[2][3] = {
    {comparison<Narrow, Bytes>(), comparison<Narrow, Contract>(), comparison<Narrow, Wild>()},
    {comparison<Wide, Bytes>(), comparison<Wide, Contract>(), comparison<Wide, Wild>()},
};

// ---- Trees and their model ---------------------------------------------------

struct Tree {
    Width width;
    Order order;
    tarn_head head;
    Rec pool[kPool];
    bool linked[kPool];                // what in_tree must read
    size_t linked_count;               //
    std::map<unsigned, Rec *> ordered; // rank -> linked record (ordered trees)

    const Comparison &cmp() const { return kComparison[width][order]; }
    bool predictable() const { return order != Wild; }
    uint64_t key_offset() const {
        return width == Narrow ? offsetof(Rec, narrow) : offsetof(Rec, wide);
    }
    uint64_t key_length() const { return width == Narrow ? 1 : 16; }
    uint8_t value(const Rec *r) const {
        return width == Narrow ? r->narrow : decode(Wide, r->wide);
    }
    unsigned rank_of(const Rec *r) const { return cmp().rank(value(r)); }

    void configure(tarn_compare_fn keys) {
        int32_t ok = tarn_init_new(&head, kNodeOffset, key_length(), key_offset(), keys,
                                   order == Bytes ? nullptr : cmp().exact);
        expect(ok == 1, "tarn_init_new", "refused a valid configuration");
    }
    void configure() { configure(order == Bytes ? nullptr : cmp().keys); }

    void reset(Width w, Order o) {
        width = w;
        order = o;
        std::memset(static_cast<void *>(pool), 0, sizeof pool);
        for (size_t i = 0; i < kPool; i++) pool[i].index = i;
        std::memset(linked, 0, sizeof linked);
        linked_count = 0;
        ordered.clear();
        std::memset(&head, 0xEE, sizeof head); // set-up must zero it
        head.root = nullptr;
        configure();
    }

    // The linked record of this tree at n, or NULL when n is anything else.
    Rec *linked_rec(const tarn_node *n) const {
        uintptr_t at = reinterpret_cast<uintptr_t>(n) - reinterpret_cast<uintptr_t>(&pool[0].node);
        if (!n || at % sizeof(Rec) || at / sizeof(Rec) >= kPool) return nullptr;
        Rec *r = const_cast<Rec *>(&pool[at / sizeof(Rec)]);
        return linked[r->index] ? r : nullptr;
    }

    void note_linked(Rec *r) {
        linked[r->index] = true;
        linked_count++;
        if (predictable()) ordered[rank_of(r)] = r;
    }
    void note_unlinked(Rec *r) {
        linked[r->index] = false;
        linked_count--;
        if (predictable()) ordered.erase(rank_of(r));
    }

    // Model answers for ordered trees, by rank.
    Rec *find(unsigned k) const {
        auto it = ordered.find(k);
        return it == ordered.end() ? nullptr : it->second;
    }
    Rec *ceiling(unsigned k) const {
        auto it = ordered.lower_bound(k);
        return it == ordered.end() ? nullptr : it->second;
    }
    Rec *after(unsigned k) const {
        auto it = ordered.upper_bound(k);
        return it == ordered.end() ? nullptr : it->second;
    }
    Rec *floor(unsigned k) const {
        auto it = ordered.upper_bound(k);
        return it == ordered.begin() ? nullptr : std::prev(it)->second;
    }
    Rec *before(unsigned k) const {
        auto it = ordered.lower_bound(k);
        return it == ordered.begin() ? nullptr : std::prev(it)->second;
    }

    // Nodes in the order the links give, as the last check after a change
    // found them; every change ends in check_tree, so this is never stale.
    std::vector<const tarn_node *> nodes;
    const std::vector<const tarn_node *> &checked() const { return nodes; }

    // The in-order neighbour on side `forward` of a node a cursor holds:
    // links alone decide, so this holds under any comparison. An unlinked
    // node has NULL links and no neighbour.
    Rec *neighbour(Rec *held, bool forward, const char *op) const {
        if (!linked[held->index]) return nullptr;
        for (size_t i = 0; i < nodes.size(); i++)
            if (nodes[i] == &held->node) {
                if (forward) return i + 1 < nodes.size() ? rec_of(nodes[i + 1]) : nullptr;
                return i ? rec_of(nodes[i - 1]) : nullptr;
            }
        fail(op, "held node linked but not reached from the root");
    }
};

Tree g_narrow, g_wide;
tarn_head g_replica; // of the narrow tree
Rec g_probe;         // stands for a key in the probe calls; never linked
tarn_node g_sentinel;
tarn_node *const kUnwritten = &g_sentinel; // out-parameters start here

// A descriptor as seen by a call: a tree itself, or the replica reading
// the narrow tree.
struct View {
    Tree *tree;
    tarn_head *head;
};
View view(unsigned i) {
    switch (i % 3) {
    case 0: return {&g_narrow, &g_narrow.head};
    case 1: return {&g_wide, &g_wide.head};
    default: return {&g_narrow, &g_replica};
    }
}

// After every change: the tree as a whole, against the model.
void check_tree(Tree &t, const char *op) {
    // Every record's in_tree is compared with the model below, so the
    // checker need not look at the pool.
    std::string problem = tarn_check::tree_problem(t.head, t.predictable(), {}, &t.nodes);
    if (!problem.empty()) fail(op, problem.c_str());
    const std::vector<const tarn_node *> &nodes = t.nodes;
    expect(t.head.count == t.linked_count, op, "count differs from the records linked");
    for (size_t i = 0; i < kPool; i++)
        expect(t.pool[i].node.in_tree == t.linked[i], op, "in_tree differs from the model");
    if (t.predictable()) {
        expect(t.ordered.size() == nodes.size(), op,
               "tree holds more or fewer keys than the model");
        auto it = t.ordered.begin();
        for (const tarn_node *n : nodes)
            expect(n == &(it++)->second->node, op, "tree holds other keys than the model");
    }
    expect(tarn_verify_balance_factors(&t.head) == 1, op,
           "tarn_verify_balance_factors refused a sound tree");
    expect(tarn_is_empty(&t.head) == (t.linked_count == 0), op, "tarn_is_empty is wrong");
    if (&t == &g_narrow)
        expect(tarn_is_empty(&g_replica) == (t.linked_count == 0), op,
               "tarn_is_empty through the replica is wrong");
}

// An answer: exact on ordered trees, else at least a linked node of the tree.
void expect_node(const Tree &t, const tarn_node *got, Rec *want, const char *op) {
    if (t.predictable())
        expect(got == node_of(want), op, "answer differs from the model");
    else
        expect(!got || t.linked_rec(got), op, "answer is not a linked node of the tree");
}

// ---- Input --------------------------------------------------------------------

struct Input {
    const uint8_t *p;
    size_t n;
    uint8_t byte() {
        if (!n) return 0;
        n--;
        return *p++;
    }
};

// A record index spread over the whole pool.
size_t pick(uint8_t b) { return size_t(b) * kPool / 256; }

// ---- Changes ----------------------------------------------------------------

void insert(Tree &t, size_t from, uint8_t v) {
    const char *op = "tarn_insert";
    size_t i = from;
    while (t.linked[i]) {
        i = (i + 1) % kPool;
        if (i == from) return; // every record is linked
    }
    Rec &r = t.pool[i];
    encode(t.width, v, key_field(t.width, r));
    bool fresh = !t.find(t.rank_of(&r));
    int32_t got = tarn_insert(&t.head, &r.node);
    if (t.predictable()) expect(got == fresh, op, fresh ? "refused a new key" : "took a duplicate");
    expect(got == 0 || got == 1, op, "result is neither 0 nor 1");
    if (got) {
        t.note_linked(&r);
    } else {
        const tarn_node zero{};
        expect(std::memcmp(&r.node, &zero, sizeof zero) == 0, op, "refused node not zeroed");
    }
    check_tree(t, op);
}

void remove_by_node(Tree &t, size_t i) {
    const char *op = "tarn_delete";
    Rec &r = t.pool[i];
    bool was = t.linked[i];
    tarn_delete(&t.head, &r.node);
    if (was) t.note_unlinked(&r);
    expect(!r.node.in_tree && !r.node.left && !r.node.right && !r.node.parent, op,
           "removed node keeps links");
    check_tree(t, op);
}

// Switches a tree to node comparison for the probe calls, through a
// re-initialisation that keeps its nodes, and back again afterwards.
struct NodeComparison {
    Tree &t;
    explicit NodeComparison(Tree &tree) : t(tree) { t.configure(t.cmp().nodes); }
    ~NodeComparison() { t.configure(); }
};

void set_probe(uint8_t v) {
    encode(Narrow, v, &g_probe.narrow);
    encode(Wide, v, g_probe.wide);
}

void delete_by_probe(Tree &t, uint8_t flags, uint8_t v) {
    const char *op = "tarn_delete_node";
    set_probe(v);
    tarn_node *out = kUnwritten;
    bool want_out = !(flags & 1);
    if (flags & 2 && t.order == Bytes) { // no comparator: refused
        uint64_t count = t.head.count;
        expect(tarn_delete_node(&t.head, &g_probe.node, &out) == 0, op, "succeeded byte-wise");
        expect(out == nullptr && t.head.count == count, op, "byte-wise failure wrote or removed");
        return;
    }
    int32_t got;
    {
        NodeComparison nc(t);
        got = tarn_delete_node(&t.head, &g_probe.node, want_out ? &out : nullptr);
    }
    Rec *gone = nullptr;
    for (size_t i = 0; i < kPool; i++)
        if (t.linked[i] && !t.pool[i].node.in_tree) {
            expect(!gone, op, "unlinked more than one node");
            gone = &t.pool[i];
        }
    if (t.predictable()) {
        Rec *want = t.find(t.cmp().rank(v));
        expect(gone == want && got == (want != nullptr), op, "differs from the model");
    }
    expect(got == 1 || !gone, op, "unlinked a node but returned 0");
    if (want_out) expect(out == node_of(gone), op, "*out is not the node unlinked");
    if (gone) t.note_unlinked(gone);
    check_tree(t, op);
}

// ---- Probe searches -----------------------------------------------------------

void search_probe(Tree &t, uint8_t flags, uint8_t v) {
    const char *op = "tarn_search_for_node";
    set_probe(v);
    tarn_node *out = kUnwritten;
    if (flags & 1) { // no out: nothing searched
        NodeComparison nc(t);
        uint64_t calls = g_calls;
        expect(tarn_search_for_node(&t.head, &g_probe.node, nullptr) == 0, op, "NULL out gave 1");
        expect(calls == g_calls, op, "NULL out still called the comparator");
        return;
    }
    if (flags & 2 && t.order == Bytes) {
        expect(tarn_search_for_node(&t.head, &g_probe.node, &out) == 0 && out == nullptr, op,
               "byte-wise descriptor not refused");
        return;
    }
    int32_t got;
    {
        NodeComparison nc(t);
        got = tarn_search_for_node(&t.head, &g_probe.node, &out);
    }
    expect(out != kUnwritten, op, "*out not written");
    if (t.predictable()) {
        Rec *want = t.find(t.cmp().rank(v));
        expect(got == (want != nullptr) && out == node_of(want), op, "differs from the model");
    } else {
        expect(!out || (got == 1 && t.linked_rec(out)), op, "*out is not a linked node");
    }
}

void step_from_probe(Tree &t, uint8_t flags, uint8_t v) {
    bool forward = flags & 1;
    const char *op = forward ? "tarn_get_next_from_node" : "tarn_get_prev_from_node";
    set_probe(v);
    auto call = forward ? tarn_get_next_from_node : tarn_get_prev_from_node;
    if (flags & 2 && t.order == Bytes) {
        expect(call(&t.head, &g_probe.node) == nullptr, op, "byte-wise descriptor not refused");
        return;
    }
    tarn_node *got;
    {
        NodeComparison nc(t);
        got = call(&t.head, &g_probe.node);
    }
    unsigned k = t.cmp().rank(v);
    expect_node(t, got, forward ? t.after(k) : t.before(k), op);
}

// ---- Key lookups --------------------------------------------------------------

void lookups(View w, uint8_t flags, uint8_t v) {
    Tree &t = *w.tree;
    uint8_t key[16];
    encode(t.width, v, key);
    const void *probe = key;
    bool unreadable = flags & 1 && !w.head->compare;
    if (unreadable) probe = nullptr; // byte-wise NULL key: found nowhere
    g_extra = uint32_t(v) * 0x01000193u;
    tarn_node *eq = tarn_lookup(w.head, probe);
    tarn_node *exact = tarn_lookup_exact(w.head, probe, g_extra);
    tarn_node *le = tarn_lookup_le(w.head, probe);
    tarn_node *ge = tarn_lookup_ge(w.head, probe);
    tarn_node *next = tarn_get_next_node_from_key(w.head, probe);
    tarn_node *prev = tarn_get_previous_node_from_key(w.head, probe);
    void *record = tarn_lookup_user_data(w.head, probe);
    expect(record == rec_of(eq), "tarn_lookup_user_data", "not the record of tarn_lookup's node");
    if (unreadable) {
        bool none = !eq && !exact && !le && !ge && !next && !prev;
        expect(none, "key lookups", "a NULL byte-wise key found a node");
        return;
    }
    unsigned k = t.cmp().rank(v);
    expect_node(t, eq, t.find(k), "tarn_lookup");
    expect_node(t, exact, t.find(k), "tarn_lookup_exact");
    expect_node(t, le, t.floor(k), "tarn_lookup_le");
    expect_node(t, ge, t.ceiling(k), "tarn_lookup_ge");
    expect_node(t, next, t.after(k), "tarn_get_next_node_from_key");
    expect_node(t, prev, t.before(k), "tarn_get_previous_node_from_key");
}

void first_node(View w, uint8_t flags) {
    const std::vector<const tarn_node *> &nodes = w.tree->checked();
    tarn_node *want = nodes.empty() ? nullptr : const_cast<tarn_node *>(nodes.front());
    tarn_node *out = kUnwritten;
    tarn_node **where = flags & 2 ? nullptr : &out;
    if (flags & 1) {
        const char *op = "tarn_get_first_user_data";
        expect(tarn_get_first_user_data(w.head, where) == rec_of(want), op, "wrong record");
    } else {
        const char *op = "tarn_get_first_node";
        expect(tarn_get_first_node(w.head, where) == want, op, "wrong node");
    }
    expect(out == (want && where ? want : kUnwritten), "first node", "wrong write to *out");
}

// ---- Cursors ------------------------------------------------------------------

struct Cursor {
    tarn_iterator it;
    unsigned view;
    Rec *holding;  // NULL: detached
    uint8_t saved; // the key value saved_key holds
};
Cursor g_cursors[4];

void expect_cursor(const Cursor &c, const char *op) {
    expect(c.it.current == node_of(c.holding), op, "cursor's current differs from the model");
    Tree &t = *view(c.view).tree;
    uint8_t key[16];
    encode(t.width, c.saved, key);
    expect(std::memcmp(c.it.saved_key, key, t.key_length()) == 0, op, "saved_key changed");
}

void seed_cursor(Cursor &c, uint8_t flags, uint8_t v) {
    const char *op = "tarn_init_iterator";
    View w = view(c.view);
    if (flags & 1) {
        tarn_iterator before = c.it;
        expect(tarn_init_iterator(nullptr, &c.it) == 0, op, "NULL head accepted");
        expect(std::memcmp(&before, &c.it, sizeof before) == 0, op, "NULL head wrote");
    }
    expect(tarn_init_iterator(w.head, &c.it) == 1, op, "refused");
    c.holding = nullptr;
    if (flags & 2) { // start after a chosen key
        c.saved = v;
        encode(w.tree->width, v, c.it.saved_key);
    }
    expect_cursor(c, op);
}

void cursor_to_first(Cursor &c) {
    const char *op = "tarn_get_first_node (cursor)";
    View w = view(c.view);
    const std::vector<const tarn_node *> &nodes = w.tree->checked();
    tarn_node *got = tarn_get_first_node(w.head, &c.it.current);
    if (!nodes.empty()) c.holding = rec_of(nodes.front());
    expect(got == (nodes.empty() ? nullptr : nodes.front()), op, "wrong node");
    expect_cursor(c, op);
}

// A detached cursor's search from saved_key: exact on ordered trees.
void settle_search(Cursor &c, const Tree &t, tarn_node *got, Rec *want, const char *op) {
    expect_node(t, got, want, op);
    if (got) c.holding = rec_of(got);
}

void step_cursor(Cursor &c, uint8_t flags) {
    View w = view(c.view);
    Tree &t = *w.tree;
    unsigned kind = flags % 3;
    bool no_head = flags & 4;
    const tarn_head *head = no_head ? nullptr : w.head;
    const char *op = kind == 0   ? "tarn_get_next_node"
                     : kind == 1 ? "tarn_get_previous_node"
                                 : "tarn_get_next_user_data";
    bool forward = kind != 1;
    Rec *held = c.holding;
    Rec *want = nullptr;
    if (held) want = t.neighbour(held, forward, op);
    tarn_node *got;
    if (kind == 2) {
        void *record = tarn_get_next_user_data(head, &c.it);
        got = c.it.current; // a detached cursor that found nothing stays NULL
        expect(record == (head ? rec_of(got) : nullptr), op, "record differs from the node");
    } else {
        got = (kind == 0 ? tarn_get_next_node : tarn_get_previous_node)(head, &c.it);
    }
    if (held) {
        expect(got == node_of(want), op, "step through links went elsewhere");
        c.holding = want;
    } else if (no_head) {
        expect(!got, op, "detached step with NULL head found a node");
    } else {
        unsigned k = t.cmp().rank(c.saved);
        settle_search(c, t, got, forward ? t.after(k) : t.before(k), op);
    }
    expect_cursor(c, op);
}

void yield(Cursor &c, uint8_t flags) {
    const char *op = "tarn_pre_sched_yield";
    View w = view(c.view);
    tarn_pre_sched_yield(flags & 1 ? nullptr : w.head, &c.it);
    if (!(flags & 1) && c.holding) {
        c.saved = w.tree->value(c.holding);
        c.holding = nullptr;
    }
    expect_cursor(c, op);
}

// ---- Ranges -------------------------------------------------------------------

// Bounds from two operand bytes: high a little above low (now and then just
// below it: an inverted range) or, with the top two bits set, anywhere. Every
// rank is its own inverse, so rank() also maps a rank back to its key.
struct Bounds {
    uint8_t low, high;
    Bounds(const Tree &t, uint8_t a, uint8_t b) : low(a), high(b) {
        if ((b & 0xC0) != 0xC0)
            high = uint8_t(t.cmp().rank(uint8_t(t.cmp().rank(a) + (b & 7) - 2)));
    }
};

bool within(const Tree &t, Rec *r, uint8_t low, uint8_t high) {
    uint32_t lo = t.cmp().code(t.value(r), low), hi = t.cmp().code(t.value(r), high);
    return (lo == TARN_CMP_EQUAL || lo == TARN_CMP_GREATER) &&
           (hi == TARN_CMP_EQUAL || hi == TARN_CMP_LESS);
}

void range_first(unsigned vi, uint8_t flags, uint8_t a, uint8_t b) {
    View w = view(vi);
    Tree &t = *w.tree;
    auto [low, high] = Bounds(t, a, b);
    bool second = flags & 1;
    const char *op = second ? "tarn_get_first_node_in_range2" : "tarn_get_first_node_in_range";
    uint8_t lo[16], hi[16];
    encode(t.width, low, lo);
    encode(t.width, high, hi);
    const void *lo_p = lo, *hi_p = hi;
    bool unreadable = flags & 8 && !w.head->compare;
    if (unreadable) (flags & 16 ? lo_p : hi_p) = nullptr;
    tarn_node *out = kUnwritten;
    Cursor *c = nullptr;
    tarn_node **where = &out;
    switch (flags >> 1 & 3) {
    case 0: where = nullptr; break;
    case 1: break;
    default: c = &g_cursors[vi % 3]; where = &c->it.current;
    }
    auto call = second ? tarn_get_first_node_in_range2 : tarn_get_first_node_in_range;
    tarn_node *got = call(w.head, lo_p, hi_p, where);
    if (where) expect(*where == got, op, "result not stored in *out");
    if (!where) expect(out == kUnwritten, op, "wrote through NULL out");
    if (c) c->holding = rec_of(got);
    if (unreadable) {
        expect(!got, op, "a NULL byte-wise bound found a node");
    } else {
        unsigned kl = t.cmp().rank(low), kh = t.cmp().rank(high);
        Rec *want = second ? t.find(kl) : nullptr;
        if (!want) {
            want = second ? t.after(kl) : t.ceiling(kl);
            if (want && t.rank_of(want) > kh) want = nullptr;
        }
        expect_node(t, got, want, op);
    }
    if (c) expect_cursor(*c, op);
}

void range_next(Cursor &c, uint8_t flags, uint8_t a, uint8_t b) {
    const char *op = "tarn_get_next_node_in_range";
    View w = view(c.view);
    Tree &t = *w.tree;
    auto [low, high] = Bounds(t, a, b);
    uint8_t lo[16], hi[16];
    encode(t.width, low, lo);
    encode(t.width, high, hi);
    bool no_head = flags & 1;
    Rec *held = c.holding;
    tarn_node *got = tarn_get_next_node_in_range(no_head ? nullptr : w.head, lo, hi, &c.it);
    expect(c.it.current == got, op, "result not stored in current");
    if (no_head) {
        expect(!got, op, "NULL head found a node");
    } else if (held) {
        Rec *next = t.neighbour(held, true, op);
        expect(got == (next && within(t, next, low, high) ? &next->node : nullptr), op,
               "step or bound checks went wrong");
    } else {
        Rec *want = t.after(t.cmp().rank(c.saved));
        if (want && !within(t, want, low, high)) want = nullptr;
        expect_node(t, got, want, op);
    }
    c.holding = rec_of(got);
    expect_cursor(c, op);
}

// ---- Walks and diagnostics ------------------------------------------------------

struct WalkLog {
    tarn_head *head;
    std::vector<const tarn_node *> seen;
    size_t stop_at; // tarn_walk_tree: the visit that returns 0
    uint8_t results;
};

int32_t record_visit(tarn_head *head, tarn_node *n, void *context) {
    auto *log = static_cast<WalkLog *>(context);
    expect(head == log->head, "walk", "visitor got another descriptor");
    log->seen.push_back(n);
    if (log->stop_at) return log->seen.size() == log->stop_at ? 0 : 1;
    return (log->results >> (log->seen.size() & 7)) & 1; // ignored
}

void walk_in_order(View w, uint8_t stop_at) {
    const char *op = "tarn_walk_tree";
    const std::vector<const tarn_node *> &nodes = w.tree->checked();
    if (stop_at == 0) {
        expect(tarn_walk_tree(w.head, nullptr, nullptr) == 1, op, "NULL visitor stopped");
        return;
    }
    WalkLog log{w.head, {}, stop_at, 0};
    int32_t got = tarn_walk_tree(w.head, &log, record_visit);
    size_t visits = std::min<size_t>(stop_at, nodes.size());
    expect(got == (stop_at <= nodes.size() ? 0 : 1), op, "wrong result");
    expect(log.seen.size() == visits, op, "wrong number of visits");
    expect(std::equal(log.seen.begin(), log.seen.end(), nodes.begin()), op, "visits out of order");
}

void expected_walk(const tarn_node *n, uint32_t order, std::vector<const tarn_node *> &out) {
    if (!n) return;
    if (order == TARN_WALK_PREORDER) out.push_back(n);
    expected_walk(n->left, order, out);
    if (order == TARN_WALK_INORDER) out.push_back(n);
    expected_walk(n->right, order, out);
    if (order == TARN_WALK_POSTORDER) out.push_back(n);
}

void walk_ordered(View w, uint8_t flags) {
    const char *op = "tarn_walk_tree_v2";
    uint32_t order = flags % 5; // 3 and 4 visit nothing
    std::vector<const tarn_node *> want;
    expected_walk(w.tree->head.root, order, want);
    if (flags & 0x80) {
        tarn_walk_tree_v2(w.head, order, nullptr, nullptr);
        return;
    }
    WalkLog log{w.head, {}, 0, flags};
    tarn_walk_tree_v2(w.head, order, &log, record_visit);
    expect(log.seen == want, op, "visits differ from the links");
}

size_t g_hooked;
void count_hook(tarn_node *) { g_hooked++; }

void print(View w, uint8_t flags) {
    uint32_t order = flags % 4;
    g_hooked = 0;
    tarn_print_tree(w.head, order, flags & 4 ? nullptr : count_hook);
    size_t want = flags & 4 || order > 2 ? 0 : w.tree->linked_count;
    expect(g_hooked == want, "tarn_print_tree", "hook calls differ from the nodes");
}

// Damages one balance code: verification must notice, then it is undone.
void verify_damage(Tree &t, uint8_t at, uint8_t shift) {
    const char *op = "tarn_verify_balance_factors";
    const std::vector<const tarn_node *> &nodes = t.checked();
    if (nodes.empty()) return;
    auto *n = const_cast<tarn_node *>(nodes[at % nodes.size()]);
    uint32_t kept = n->balance;
    n->balance = (kept + 1 + shift % 3) % 4;
    expect(tarn_verify_balance_factors(&t.head) == 0, op, "missed a wrong balance code");
    if (&t == &g_narrow)
        expect(tarn_verify_balance_factors(&g_replica) == 0, op, "missed it through the replica");
    n->balance = kept;
    expect(tarn_verify_balance_factors(&t.head) == 1, op, "refused the repaired tree");
}

// ---- Set-up calls -------------------------------------------------------------

void replicate(uint8_t flags) {
    const char *op = "tarn_replicate_head_node";
    tarn_compare_fn keys = g_narrow.cmp().keys; // a callback even over a byte-wise tree
    if (flags & 1) {
        tarn_head before = g_replica;
        tarn_replicate_head_node(nullptr, &g_replica, keys);
        tarn_replicate_head_node(&g_narrow.head, nullptr, keys);
        expect(std::memcmp(&before, &g_replica, sizeof before) == 0, op, "NULL argument wrote");
    }
    tarn_replicate_head_node(&g_narrow.head, &g_replica, keys);
    const tarn_head &s = g_narrow.head, &r = g_replica;
    bool same = r.root == s.root && r.count == s.count && r.compare_exact == s.compare_exact &&
                r.node_offset == s.node_offset && r.key_offset == s.key_offset &&
                r.key_length == s.key_length;
    expect(same && r.origin == &s && r.compare == keys && (r.flags & TARN_HEAD_REPLICA), op,
           "replica fields wrong");
}

void reinitialise(Tree &t) {
    tarn_head before = t.head;
    expect(tarn_init(&t.head, TARN_MAX_KEY_LEN + 1, 0, nullptr, nullptr) == 0, "tarn_init",
           "took an over-long key");
    expect(std::memcmp(&before, &t.head, sizeof before) == 0, "tarn_init", "refusal wrote");
    expect(tarn_init(&t.head, t.key_length(), t.key_offset(), t.head.compare,
                     t.head.compare_exact) == 1,
           "tarn_init", "refused");
    bool kept = t.head.root == before.root && t.head.count == before.count &&
                t.head.node_offset == 0 && t.head.origin == before.origin &&
                t.head.flags == before.flags;
    expect(kept, "tarn_init", "re-initialisation lost the tree or kept node_offset");
    t.configure();
    check_tree(t, "tarn_init_new");
}

// ---- Driver -------------------------------------------------------------------

// What each opcode (mod 32) does: the weights of the mix.
enum Op : uint8_t {
    Insert,
    Remove,
    DeleteByProbe,
    SearchProbe,
    StepFromProbe,
    Lookups,
    FirstNode,
    RangeFirst,
    SeedCursor,
    CursorToFirst,
    Step,
    Yield,
    RangeNext,
    WalkInOrder,
    WalkOrdered,
    Print,
    VerifyDamage,
    Replicate,
    Reinitialise,
    Fill,
    Drain
};
constexpr Op kSchedule[32] = {
    Insert,    Insert,       Insert,        Insert,        Insert,        Insert,  Insert,
    Remove,    Remove,       DeleteByProbe, SearchProbe,   StepFromProbe, Lookups, Lookups,
    FirstNode, RangeFirst,   SeedCursor,    CursorToFirst, Step,          Step,    Step,
    Yield,     RangeNext,    RangeNext,     WalkInOrder,   WalkOrdered,   Print,   VerifyDamage,
    Replicate, Reinitialise, Fill,          Drain};

void run(Input in) {
    uint8_t config = in.byte();
    Order narrow_order = Order(config % 3), wide_order = Order(config / 3 % 3);
    g_salt = config >> 4;
    static char setup[64];
    std::snprintf(setup, sizeof setup, "narrow %s, wide %s", kOrderName[narrow_order],
                  kOrderName[wide_order]);
    g_setup = setup;
    g_op = 0;
    g_narrow.reset(Narrow, narrow_order);
    g_wide.reset(Wide, wide_order);
    check_tree(g_narrow, "tarn_init_new");
    check_tree(g_wide, "tarn_init_new");
    std::memset(&g_replica, 0, sizeof g_replica);
    replicate(0);
    for (unsigned i = 0; i < 4; i++) {
        Cursor &c = g_cursors[i];
        std::memset(&c, 0, sizeof c);
        c.view = i % 3;
        seed_cursor(c, 2, 0);
    }
    while (in.n) {
        g_op++;
        uint8_t code = in.byte(), a = in.byte();
        Tree &t = a & 1 ? g_wide : g_narrow;
        Cursor &c = g_cursors[a & 3];
        uint8_t flags = a >> 2;
        switch (kSchedule[code % 32]) {
        case Insert: insert(t, pick(in.byte()), in.byte()); break;
        case Remove: remove_by_node(t, pick(in.byte())); break;
        case DeleteByProbe: delete_by_probe(t, flags, in.byte()); break;
        case SearchProbe: search_probe(t, flags, in.byte()); break;
        case StepFromProbe: step_from_probe(t, flags, in.byte()); break;
        case Lookups: lookups(view(a), a >> 2, in.byte()); break;
        case FirstNode: first_node(view(a), a >> 2); break;
        case RangeFirst: range_first(a % 3, a >> 2, in.byte(), in.byte()); break;
        case SeedCursor: seed_cursor(c, flags, in.byte()); break;
        case CursorToFirst: cursor_to_first(c); break;
        case Step: step_cursor(c, flags); break;
        case Yield: yield(c, flags); break;
        case RangeNext: range_next(c, flags, in.byte(), in.byte()); break;
        case WalkInOrder: walk_in_order(view(a), in.byte()); break;
        case WalkOrdered: walk_ordered(view(a), in.byte()); break;
        case Print: print(view(a), a >> 2); break;
        case VerifyDamage: verify_damage(t, in.byte(), flags); break;
        case Replicate: replicate(a); break;
        case Reinitialise: reinitialise(t); break;
        case Fill: { // many inserts at once, to reach deep trees
            uint8_t n = in.byte() % 64, v = in.byte();
            size_t from = pick(in.byte());
            for (uint8_t i = 0; i < n; i++, v = uint8_t(v * 37 + 11)) insert(t, from, v);
            break;
        }
        case Drain: {
            size_t stride = in.byte() % 7 + 1;
            for (size_t i = pick(in.byte()) % stride; i < kPool; i += stride)
                if (t.linked[i]) remove_by_node(t, i);
        }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // tarn_print_tree writes to standard output; the fuzzer reports on stderr.
    if (!std::freopen("/dev/null", "w", stdout)) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    run(Input{data, size});
    return 0;
}
