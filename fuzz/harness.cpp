// Differential fuzzer (libFuzzer, or replay.cpp): calls on a tree, its
// replica and four cursors, every answer checked against an ordered model
// and the whole tree after every change; a mismatch aborts naming the call.
// Input: a configuration byte (comparison, key length and place, salt), then
// four-byte operations: opcode, selector (view or cursor, flags), operands.
// A key is a byte v, encoded in the tree's layout and ordered by rank(v). A
// wild comparison answers some pairs outside 0..2; there only what still
// holds is checked (shape, links, count, in_tree, answers being linked).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tarn.h"

namespace {

// ---- Records, keys and orders ----------------------------------------------

struct Rec {
    bool linked;        // the model: whether the tree holds this record
    uint8_t before[16]; // a key before the node, unaligned
    tarn_node node;
    uint8_t after[8]; // or one after it
};
constexpr uint64_t kNodeOffset = offsetof(Rec, node);
constexpr size_t kPool = 320; // more records than keys: duplicates happen

enum Order { Bytes, Contract, Wild };
constexpr const char *kOrderName[] = {"byte-wise", "contract", "wild"};

Order g_order;      // of the tree
uint32_t g_salt;    // picks which pairs get wild codes
size_t g_length;    // of its keys: 1, 2, 4, 5 (memcmp), 8 or 16
bool g_before;      // whether they lie before the node
uint32_t g_extra;   // what tarn_lookup_exact must hand through
uint64_t g_calls;   // comparator calls so far
size_t g_op;        // operations decoded so far
const char *g_call; // the call under test, for messages

[[noreturn]] void fail(const char *what, int line) {
    std::fprintf(stderr, "tarn_fuzz: %s: %s (harness line %d, operation %zu, %zu-byte %s keys)\n",
                 g_call, what, line, g_op, g_length, kOrderName[g_order]);
    std::abort();
}
#define EXPECT(cond) ((cond) ? void(0) : fail("expected " #cond, __LINE__))
#define CALL(f, ...) (g_call = #f, f(__VA_ARGS__)) // names the call for messages

Rec *rec_of(const void *node) {
    return node ? reinterpret_cast<Rec *>(reinterpret_cast<uintptr_t>(node) - kNodeOffset)
                : nullptr;
}
tarn_node *node_of(Rec *r) { return r ? &r->node : nullptr; }

// v's high nibble leads the key (or ends its first word) and its low nibble
// ends it: every byte of a word, and both words of 16 bytes, decide.
size_t high_nibble_at() { return g_length == 16 ? 7 : 0; }
void encode(uint8_t v, uint8_t *key) {
    if (g_length == 1) return void(*key = v);
    std::memcpy(key, "<<<<<<<\0\xC3\xC3\xC3\xC3\xC3\xC3\xC3", g_length);
    key[high_nibble_at()] = uint8_t(v >> 4), key[g_length - 1] = uint8_t(v & 15);
}
uint8_t decode(const void *key) {
    const auto *k = static_cast<const uint8_t *>(key);
    return g_length == 1 ? k[0] : uint8_t(k[high_nibble_at()] << 4 | k[g_length - 1]);
}
uint8_t *key_of(Rec &r) { return g_before ? r.before : r.after; }
uint8_t value(const Rec *r) { return decode(key_of(const_cast<Rec &>(*r))); }

// v's place in the order: its own byte-wise, else a permutation that bytes
// get wrong. Each is its own inverse: rank() maps a rank back to its key.
unsigned rank(uint8_t v) {
    if (g_order == Bytes) return v;
    return g_salt & 1 ? v ^ 0xA5u : uint8_t(v << 4 | v >> 4);
}

constexpr uint32_t kWildCodes[] = {3, 0xFFFFFFFFu, 0x80000000u, 7};

uint32_t code(uint8_t tree_v, uint8_t probe_v) {
    g_calls++;
    unsigned a = rank(tree_v), b = rank(probe_v);
    if (g_order == Wild && ((a * 7 + b * 13 + g_salt) & 15) == 0) return kWildCodes[(a + b) & 3];
    return a == b ? TARN_CMP_EQUAL : a > b ? TARN_CMP_GREATER : TARN_CMP_LESS;
}

// The tree's comparisons: of keys, of keys with tarn_lookup_exact's extra
// value, and of nodes (for the probe calls: both sides are node addresses).
using Key = const void *;
uint32_t compare_keys(Key t, Key p) { return code(decode(t), decode(p)); }
uint32_t compare_exact(Key t, Key p, uint32_t x) {
    return EXPECT(x == g_extra), compare_keys(t, p);
}
uint32_t compare_nodes(Key t, Key p) { return code(value(rec_of(t)), value(rec_of(p))); }

// ---- The tree and its model --------------------------------------------------

tarn_head g_head; // of the tree under test
Rec g_pool[kPool];
std::vector<const tarn_node *> g_nodes; // in link order, as the last check found them

bool ordered() { return g_order != Wild; }
unsigned rank_of(const Rec *r) { return rank(value(r)); }
void configure(bool by_node = false) {
    bool bytes = g_order == Bytes;
    tarn_compare_fn fn = by_node ? compare_nodes : bytes ? nullptr : compare_keys;
    uint64_t key_offset = g_before ? offsetof(Rec, before) : offsetof(Rec, after);
    EXPECT(tarn_init_new(&g_head, kNodeOffset, g_length, key_offset, fn,
                         bytes ? nullptr : compare_exact) == 1);
}
tarn_head g_replica;      // of the tree
Rec g_probe;              // stands for a key in the probe calls; never linked
Rec g_any;                // a model answer: any linked node, or none (wild trees)
Rec *const kAny = &g_any; // its node: where out-parameters start, never an answer
tarn_node *const kUnwritten = &g_any.node;

// The descriptor a call is given: the tree's, or the replica.
tarn_head *view(unsigned i) { return i & 1 ? &g_replica : &g_head; }

// Whether n is the node of a record that the model holds linked.
bool linked_in(const tarn_node *n) {
    uintptr_t at = reinterpret_cast<uintptr_t>(n) - reinterpret_cast<uintptr_t>(&g_pool[0].node);
    return at % sizeof(Rec) == 0 && at / sizeof(Rec) < kPool && rec_of(n)->linked;
}

// Height of n's subtree, whose links, in_tree and balance codes must be
// sound; appends its nodes to g_nodes in link order. 100 levels mean a cycle.
int checked_height(const tarn_node *n, const tarn_node *parent, int depth) {
    if (!n) return 0;
    EXPECT(depth <= 100 && n->parent == parent && n->in_tree == 1);
    int left = checked_height(n->left, n, depth + 1);
    g_nodes.push_back(n);
    int right = checked_height(n->right, n, depth + 1);
    EXPECT(left - right <= 1 && right - left <= 1);
    EXPECT(n->balance == (left > right ? TARN_BAL_LH : right > left ? TARN_BAL_RH : TARN_BAL_EQ));
    return std::max(left, right) + 1;
}

// After every change: the whole tree, its order and count, in_tree of every
// record, and the nodes linked being those the model holds. Verification
// must pass, and fail with one balance code damaged.
void check_tree() {
    g_nodes.clear();
    checked_height(g_head.root, nullptr, 1);
    size_t linked = 0;
    for (const Rec &r : g_pool) linked += r.linked, EXPECT(r.node.in_tree == r.linked);
    for (const tarn_node *n : g_nodes) EXPECT(linked_in(n));
    for (size_t i = 1; ordered() && i < linked; i++)
        EXPECT(rank_of(rec_of(g_nodes[i - 1])) < rank_of(rec_of(g_nodes[i])));
    bool empty = g_nodes.empty();
    EXPECT(g_nodes.size() == linked && g_head.count == linked);
    EXPECT(tarn_verify_balance_factors(&g_head));
    EXPECT(tarn_is_empty(&g_head) == empty && tarn_is_empty(&g_replica) == empty);
    if (empty || g_op % 4) return; // now and then: verification is slow to fuzz
    tarn_node *n = const_cast<tarn_node *>(g_nodes[g_op % linked]);
    uint32_t kept = n->balance;
    n->balance = (kept + 1 + g_op % 3) % 4;
    EXPECT(!tarn_verify_balance_factors(&g_head) && !tarn_verify_balance_factors(&g_replica));
    n->balance = kept;
}

// The record at position i in link order, NULL outside the tree.
Rec *at(ptrdiff_t i) {
    return i >= 0 && size_t(i) < g_nodes.size() ? rec_of(g_nodes[size_t(i)]) : nullptr;
}

// The model's answer for rank k: the nearest node at or beyond k in
// direction `forward`, strictly beyond it unless `inclusive`.
Rec *nearest(unsigned k, bool forward, bool inclusive) {
    if (!ordered()) return kAny;
    unsigned bound = k + (forward != inclusive);
    auto below = [&](const tarn_node *n) { return rank_of(rec_of(n)) < bound; };
    auto i = std::partition_point(g_nodes.begin(), g_nodes.end(), below) - g_nodes.begin();
    return at(forward ? i : i - 1);
}
Rec *equal(unsigned k) {
    Rec *r = nearest(k, true, true);
    return r == kAny || (r && rank_of(r) == k) ? r : nullptr;
}

// The in-order neighbour of a node a cursor holds: links alone decide, so
// this holds under any comparison. An unlinked node has NULL links.
Rec *neighbour(const Rec *held, bool forward) {
    auto i = std::find(g_nodes.begin(), g_nodes.end(), &held->node) - g_nodes.begin();
    return size_t(i) == g_nodes.size() ? nullptr : at(forward ? i + 1 : i - 1);
}

void expect_answer(const tarn_node *got, Rec *want) {
    EXPECT(want == kAny ? !got || linked_in(got) : got == node_of(want));
}

// ---- Operations ------------------------------------------------------------

struct Op {
    uint8_t sel, x, y; // selector and flags, two operands
};

size_t pick(uint8_t b) { return size_t(b) * kPool / 256; }

// Now and then many inserts at once, to reach deep trees.
void insert_op(const Op &o) {
    uint8_t v = o.y;
    for (unsigned n = o.sel >= 0xE0 ? o.sel % 32 * 2 : 1; n; n--, v = uint8_t(v * 37 + 11)) {
        size_t i = pick(o.x);
        while (g_pool[i].linked)
            if ((i = (i + 1) % kPool) == pick(o.x)) return; // every record is linked
        Rec &r = g_pool[i];
        encode(v, key_of(r));
        bool fresh = !equal(rank_of(&r));
        int32_t got = CALL(tarn_insert, &g_head, &r.node);
        const tarn_node zero{};
        EXPECT((got == 1 || got == 0) && (!ordered() || got == fresh));
        EXPECT(got || std::memcmp(&r.node, &zero, sizeof zero) == 0); // zeroed, then refused
        r.linked = got;
        check_tree();
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

// Probe calls compare nodes: a re-initialisation, which keeps the nodes,
// sets that up and undoes it. A refused call finds no comparator.
template <class Call>
auto probe_call(bool refused, Call call) {
    if (!refused) configure(true);
    auto result = call();
    configure();
    return result;
}

void set_probe(uint8_t v) { encode(v, key_of(g_probe)); }

// Wild trees always pass out, which tells the node unlinked; elsewhere the
// model does, and the check of the tree confirms it.
void delete_probe_op(const Op &o) {
    bool refused = o.sel & 4 && !g_head.compare, with_out = !(o.sel & 8) || !ordered();
    set_probe(o.x);
    Rec *want = refused ? nullptr : equal(rank(o.x));
    tarn_node *out = kUnwritten;
    int32_t got = probe_call(refused, [&] {
        return CALL(tarn_delete_node, &g_head, &g_probe.node, with_out ? &out : nullptr);
    });
    Rec *gone = with_out ? rec_of(out) : want;
    expect_answer(node_of(gone), want);
    EXPECT(got == (gone != nullptr) || (!ordered() && got == 1));
    if (gone) gone->linked = false;
    check_tree();
}

tarn_node *lookup_exact(const tarn_head *h, Key k) { return tarn_lookup_exact(h, k, g_extra); }
// The record as its node; one that is not tarn_lookup's becomes a non-answer.
tarn_node *lookup_user_data(const tarn_head *h, Key k) {
    tarn_node *n = tarn_lookup(h, k);
    return tarn_lookup_user_data(h, k) == rec_of(n) ? n : kUnwritten;
}
// *out, or a non-answer when the result disagrees; with no out, nothing is
// searched. Only a wild code may stop the search without a node.
tarn_node *search_for_node(const tarn_head *h, Key probe) {
    uint64_t calls = g_calls;
    EXPECT(tarn_search_for_node(h, probe, nullptr) == 0 && calls == g_calls);
    tarn_node *out = kUnwritten;
    int32_t stopped = tarn_search_for_node(h, probe, &out);
    return stopped == (out != nullptr) || (g_order == Wild && stopped == 1) ? out : kUnwritten;
}

// The calls that answer one key or probe with one node.
struct Query {
    const char *name;
    tarn_node *(*call)(const tarn_head *, Key);
    int direction; // 0: equal key only
    bool inclusive, by_node;
};
constexpr Query kQueries[] = {
    {"tarn_lookup", tarn_lookup, 0, true, false},
    {"tarn_lookup_exact", lookup_exact, 0, true, false},
    {"tarn_lookup_user_data", lookup_user_data, 0, true, false},
    {"tarn_lookup_le", tarn_lookup_le, -1, true, false},
    {"tarn_lookup_ge", tarn_lookup_ge, 1, true, false},
    {"tarn_get_next_node_from_key", tarn_get_next_node_from_key, 1, false, false},
    {"tarn_get_previous_node_from_key", tarn_get_previous_node_from_key, -1, false, false},
    {"tarn_search_for_node", search_for_node, 0, true, true},
    {"tarn_get_next_from_node", tarn_get_next_from_node, 1, false, true},
    {"tarn_get_prev_from_node", tarn_get_prev_from_node, -1, false, true},
};

// Every query on one key; a byte-wise NULL key (or a probe call without a
// comparator) finds nothing. Probe calls start from a descriptor's own
// root, so the replica's view asks the tree itself.
void query_op(const Op &o) {
    tarn_head *h = view(o.sel);
    set_probe(o.x);
    g_extra = uint32_t(o.x) * 0x01000193u;
    unsigned k = rank(o.x);
    for (const Query &q : kQueries) {
        g_call = q.name;
        bool absent = o.sel & 4 && !(q.by_node ? g_head : *h).compare;
        tarn_node *got = q.by_node
                             ? probe_call(absent, [&] { return q.call(&g_head, &g_probe.node); })
                             : q.call(h, absent ? nullptr : key_of(g_probe));
        Rec *want = q.direction ? nearest(k, q.direction > 0, q.inclusive) : equal(k);
        expect_answer(got, absent ? nullptr : want);
    }
}

struct Cursor {
    tarn_iterator it;
    Rec *holding;  // NULL: detached
    uint8_t saved; // the key value saved_key holds
};
Cursor g_cursors[4]; // even ones on the tree, odd ones on the replica

void expect_cursor(const Cursor &c) {
    uint8_t key[16];
    encode(c.saved, key);
    EXPECT(c.it.current == node_of(c.holding) && !std::memcmp(c.it.saved_key, key, g_length));
}

// Bounds from two operand bytes: high a little above low (now and then just
// below it: an inverted range) or, with the top two bits set, anywhere.
struct Bounds {
    uint8_t low, high, low_key[16], high_key[16];
    Bounds(uint8_t a, uint8_t b) : low(a), high(b) {
        if ((b & 0xC0) != 0xC0) high = uint8_t(rank(uint8_t(rank(a) + (b & 7) - 2)));
        encode(low, low_key), encode(high, high_key);
    }
    bool within(const Rec *r) const {
        uint32_t lo = code(value(r), low), hi = code(value(r), high);
        return (lo == TARN_CMP_EQUAL || lo == TARN_CMP_GREATER) &&
               (hi == TARN_CMP_EQUAL || hi == TARN_CMP_LESS);
    }
};

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
        if (o.sel & 128) c.saved = o.x, encode(o.x, c.it.saved_key); // start after it
        return expect_cursor(c);
    }
    if (kind == Yield) {
        CALL(tarn_pre_sched_yield, head, &c.it);
        if (head && c.holding) c.saved = value(c.holding), c.holding = nullptr;
        return expect_cursor(c);
    }
#ifdef TARN_CHECKED // the checked library stops a step from a node removed meanwhile
    if (kind < Yield && c.holding && !c.holding->node.in_tree) return;
#endif
    // Bounds near the cursor now and then, so that they decide; a byte-wise
    // bound NULL now and then, which finds nothing.
    uint8_t near = c.holding ? value(c.holding) : c.saved;
    Bounds b(o.sel & 128 ? near : o.x, o.y);
    const void *low = absent && o.y & 16 ? nullptr : b.low_key;
    const void *high = absent && !(o.y & 16) ? nullptr : b.high_key;
    tarn_node **out = o.y & 8 ? nullptr : &c.it.current; // for the first-node calls
    Rec *want = nullptr;
    if (kind == First) {
        want = at(0);
    } else if (kind == FirstInRange) {
        want = nearest(rank(b.low), true, !other);
        if (want && want != kAny && rank_of(want) > rank(b.high)) want = nullptr;
        if (other && equal(rank(b.low))) want = equal(rank(b.low));
    } else if (c.holding) {
        want = neighbour(c.holding, kind != Previous);
    } else if (head) {
        want = nearest(rank(c.saved), kind != Previous, false);
    }
    if (kind == InRange && want && want != kAny && !b.within(want)) want = nullptr;
    if ((kind == InRange && !head) || (ranged && absent)) want = nullptr;
    tarn_node *got = nullptr;
    switch (kind) {
    case InRange:
        got = CALL(tarn_get_next_node_in_range, head, low, high, &c.it);
        EXPECT(!got || b.within(rec_of(got)));
        break;
    case Next: got = CALL(tarn_get_next_node, head, &c.it); break;
    case Previous: got = CALL(tarn_get_previous_node, head, &c.it); break;
    case NextRecord: {
        void *record = CALL(tarn_get_next_user_data, head, &c.it);
        got = c.it.current; // a detached cursor that found nothing stays NULL
        EXPECT(record == (head ? rec_of(got) : nullptr));
        break;
    }
    case First:
        got = other ? node_of(static_cast<Rec *>(CALL(tarn_get_first_user_data, head, out)))
                    : CALL(tarn_get_first_node, head, out);
        break;
    default: // an equal node answers range2 without a look at high
        got = other ? CALL(tarn_get_first_node_in_range2, head, low, high, out)
                    : CALL(tarn_get_first_node_in_range, head, low, high, out);
    }
    expect_answer(got, want);
    bool stores = kind < First ? got || c.holding || ranged : out && (got || ranged);
    if (stores) c.holding = rec_of(got);
    expect_cursor(c);
}

// ---- Set-up ------------------------------------------------------------------

// tarn_init refuses an over-long key without writing and takes the longest;
// the replica is taken anew, with a comparator even over a byte-wise tree.
void descriptor_op(const Op &) {
    tarn_head want = g_head;
    EXPECT(CALL(tarn_init, &g_head, TARN_MAX_KEY_LEN + 1, 0, nullptr, nullptr) == 0);
    EXPECT(std::memcmp(&want, &g_head, sizeof want) == 0);
    EXPECT(CALL(tarn_init, &g_head, TARN_MAX_KEY_LEN, 0, nullptr, nullptr) == 1);
    configure();
    want = g_head;
    CALL(tarn_replicate_head_node, &g_head, &g_replica, compare_keys);
    want.origin = &g_head, want.compare = compare_keys, want.flags |= TARN_HEAD_REPLICA;
    EXPECT(std::memcmp(&want, &g_replica, sizeof want) == 0);
}

// What each opcode (mod 32) does: the weights of the mix.
using Handler = void (*)(const Op &);
constexpr Handler kSchedule[32] = {
    insert_op,     insert_op,     insert_op,       insert_op,       insert_op, insert_op, insert_op,
    insert_op,     remove_op,     remove_op,       delete_probe_op, query_op,  query_op,  query_op,
    cursor_op,     cursor_op,     cursor_op,       cursor_op,       cursor_op, cursor_op, cursor_op,
    cursor_op,     cursor_op,     cursor_op,       cursor_op,       query_op,  query_op,  cursor_op,
    descriptor_op, descriptor_op, delete_probe_op, remove_op,
};

void run(const uint8_t *data, size_t size) {
    uint8_t config = size ? data[0] : 0;
    constexpr size_t kLengths[] = {1, 2, 4, 8, 16, 5}; // 5: compared by memcmp
    g_order = Order(config % 3);
    g_length = kLengths[config / 3 % 6];
    g_before = g_length == 16 || config & 0x80;
    g_salt = config >> 4;
    g_op = 0;
    std::memset(static_cast<void *>(g_pool), 0, sizeof g_pool);
    std::memset(&g_head, 0xEE, sizeof g_head); // set-up must zero it
    g_head.root = nullptr;
    configure();
    descriptor_op({0, 0, 0});
    check_tree();
    for (Cursor &c : g_cursors) {
        std::memset(&c, 0, sizeof c);
        encode(0, c.it.saved_key);
    }
    for (size_t at = 1; at < size; at += 4) {
        g_op++;
        uint8_t op[4] = {};
        std::memcpy(op, data + at, std::min<size_t>(4, size - at));
        kSchedule[op[0] % 32]({op[1], op[2], op[3]});
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
