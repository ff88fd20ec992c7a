// What a model cannot decide, on a tree of keys 10, 20, ... 70 (40 at the
// root): how searches steer on comparator codes in and out of contract, NULL
// arguments the harness does not pass, the print text and walk orders, and
// what the calls do on trees damaged by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tarn.h"

namespace {

struct Rec {
    tarn_node node;
    uint8_t key;
};

// The scripted comparator's codes: `sequence` first, one per call; then
// `at` by the tree side's key; then `every`; else the real order.
struct Script {
    std::vector<uint32_t> sequence;
    std::map<uint8_t, uint32_t> at;
    int64_t every = -1;
};
Script g_script;

uint32_t scripted(uint8_t tree, uint8_t probe) {
    std::vector<uint32_t> &next = g_script.sequence;
    uint32_t code = tree == probe ? 0 : tree > probe ? TARN_CMP_GREATER : TARN_CMP_LESS;
    if (g_script.every >= 0) code = uint32_t(g_script.every);
    if (auto it = g_script.at.find(tree); it != g_script.at.end()) code = it->second;
    if (!next.empty()) code = next.front(), next.erase(next.begin());
    return code;
}
uint32_t by_key(const void *tree, const void *probe) {
    return scripted(*static_cast<const uint8_t *>(tree), *static_cast<const uint8_t *>(probe));
}
uint32_t by_key_exact(const void *tree, const void *probe, uint32_t) { return by_key(tree, probe); }
uint32_t by_node(const void *tree, const void *probe) {
    return scripted(static_cast<const Rec *>(tree)->key, static_cast<const Rec *>(probe)->key);
}

// Built byte-wise; `compare` (and the exact comparison with it) set after.
struct Sevens {
    Rec recs[256]{};
    tarn_head head{};
    tarn_iterator it{};
    explicit Sevens(tarn_compare_fn compare = nullptr) {
        g_script = {};
        for (int k = 0; k < 256; k++) recs[k].key = uint8_t(k);
        head = tree_of({40, 20, 60, 10, 30, 50, 70});
        head.compare = compare;
        head.compare_exact = compare ? by_key_exact : nullptr;
    }
    // A byte-wise tree of the given records, which head must not hold.
    tarn_head tree_of(std::initializer_list<int> keys) {
        tarn_head h{};
        tarn_init(&h, 1, offsetof(Rec, key), nullptr, nullptr);
        for (int k : keys) tarn_insert(&h, node(k));
        return h;
    }
    tarn_node *node(int key) { return &recs[key].node; }
    static int key(const tarn_node *n) { return n ? reinterpret_cast<const Rec *>(n)->key : -1; }
};

// ---- Steering -----------------------------------------------------------------

// clang-format off
enum Call { Lookup, Exact, ExactBytes, Le, Ge, NextKey, PrevKey, InRange, InRange2, NextInRange,
            NextFrom20, Insert, Search, Delete, NextFromNode, PrevFromNode }; // Search on: probes
// clang-format on

// The call on key (or probe) a, with b as the upper bound. Insert links
// record a and answers its predecessor, or the record itself when it is
// first; Search and Delete answer *out when they stop, record 0 for NULL.
tarn_node *run(Call call, Sevens &s, uint8_t a, uint8_t b) {
    const tarn_head *h = &s.head;
    Rec probe{{}, a};
    tarn_node *n = s.node(a), *out = nullptr;
    tarn_iterator at_n{n, {}};
    switch (call) {
    case Lookup: return tarn_lookup(h, &a);
    case ExactBytes: s.head.compare_exact = nullptr; [[fallthrough]];
    case Exact: return tarn_lookup_exact(h, &a, 9);
    case Le: return tarn_lookup_le(h, &a);
    case Ge: return tarn_lookup_ge(h, &a);
    case NextKey: return tarn_get_next_node_from_key(h, &a);
    case PrevKey: return tarn_get_previous_node_from_key(h, &a);
    case InRange: return tarn_get_first_node_in_range(h, &a, &b, nullptr);
    case InRange2: return tarn_get_first_node_in_range2(h, &a, &b, nullptr);
    case NextFrom20: s.it.current = s.node(20); [[fallthrough]];
    case NextInRange: return tarn_get_next_node_in_range(h, &a, &b, &s.it);
    case Insert:
        if (!tarn_insert(&s.head, n)) return nullptr;
        out = tarn_get_previous_node(h, &at_n);
        return out ? out : n;
    case Search:
    case Delete:
        if (!(call == Search ? tarn_search_for_node(h, &probe.node, &out)
                             : tarn_delete_node(&s.head, &probe.node, &out)))
            return nullptr;
        return out ? out : s.node(0);
    case NextFromNode: return tarn_get_next_from_node(h, &probe.node);
    case PrevFromNode: return tarn_get_prev_from_node(h, &probe.node);
    }
    return nullptr;
}

tarn_compare_fn comparator_for(Call call) { return call >= Search ? by_node : by_key; }

// One code at every node: the answer for 0, 1, 2, 3 and 0xFFFFFFFF.
const struct {
    Call call;
    int expected[5]; // -1: NULL
} kEveryNode[] = {
    {Lookup, {40, -1, -1, -1, -1}},       {Exact, {40, -1, -1, -1, -1}},
    {Le, {40, -1, 70, -1, -1}},           {Ge, {40, 10, -1, 10, 10}},
    {NextKey, {50, 10, -1, -1, -1}},      {PrevKey, {30, -1, 70, 60, 60}},
    {InRange, {40, -1, -1, 10, 10}},      {InRange2, {40, -1, -1, -1, -1}},
    {NextInRange, {50, -1, -1, -1, -1}},  {NextFrom20, {30, -1, -1, -1, -1}},
    {Insert, {-1, 25, 70, 70, 70}},       {Search, {40, -1, -1, 0, 0}},
    {Delete, {40, -1, -1, 0, 0}},         {NextFromNode, {50, 10, -1, -1, -1}},
    {PrevFromNode, {30, -1, 70, -1, -1}},
};

TEST(Steering, OneCodeAtEveryNode) {
    const uint32_t codes[] = {0, 1, 2, 3, 0xFFFFFFFF};
    for (const auto &row : kEveryNode)
        for (int c = 0; c < 5; c++) {
            Sevens s(comparator_for(row.call));
            g_script.every = codes[c];
            EXPECT_EQ(Sevens::key(run(row.call, s, 25, 45)), row.expected[c])
                << "call " << row.call << ", code " << codes[c];
        }
}

// Codes at chosen nodes (the real order elsewhere; probe 25 passes 40, 20,
// 30), or the codes of successive calls: a search that ends without a hit
// asks the end node again, and that answer decides.
struct PathRow {
    const char *what;
    Call call;
    uint8_t a, b;
    std::map<uint8_t, uint32_t> at;
    std::vector<uint32_t> sequence;
    int expected;
    int64_t every = -1;
};
const PathRow kPaths[] = {
    {"ceiling stops at EQUAL", Ge, 25, 0, {{20, 0}}, {}, 20},
    {"ceiling keeps a node with an unknown code", Ge, 25, 0, {{30, 7}}, {}, 30},
    {"floor goes left past an unknown code", Le, 25, 0, {{30, 7}}, {}, 20},
    {"next from key: unknown code at the end", NextKey, 25, 0, {{30, 7}}, {}, 40},
    {"range: the upper check drops only on GREATER", InRange, 25, 35, {{30, 9}}, {}, 30},
    {"next from key: EQUAL at the end", NextKey, 25, 0, {}, {1, 1, 1, 0}, 10},
    {"previous from key: EQUAL at the end", PrevKey, 25, 0, {}, {1, 1, 1, 0}, 10},
    {"previous from key: GREATER at the end", PrevKey, 25, 0, {}, {1, 1, 1, 1}, -1},
    {"range2: EQUAL at the end", InRange2, 35, 45, {}, {1, 1, 1, 0}, -1},
    {"range2: successor not above low", InRange2, 35, 45, {}, {1, 2, 2, 2, 0}, -1},
    {"range2: successor within high", InRange2, 35, 45, {}, {1, 2, 2, 2, 1, 2}, 40},
    {"range2: unknown code against high", InRange2, 35, 45, {}, {1, 2, 2, 2, 1, 7}, -1},
    {"range2: EQUAL against high", InRange2, 35, 45, {}, {1, 1, 1, 1, 0}, 10},
    {"next in range: EQUAL at the end", NextInRange, 35, 45, {}, {1, 1, 1, 0}, -1},
    {"next in range: EQUAL against low", NextInRange, 35, 45, {}, {1, 1, 1, 1, 0, 0}, 10},
    {"next in range: unknown code against low", NextInRange, 35, 45, {}, {1, 1, 1, 1, 7}, -1},
    {"next from probe: unknown code below a turn", NextFromNode, 25, 0, {{30, 3}}, {}, 40},
    {"previous from probe: unknown code below a turn", PrevFromNode, 25, 0, {{30, 3}}, {}, 20},
    {"next from probe: unknown code at the root", NextFromNode, 25, 0, {{40, 9}}, {}, -1},
    {"previous from probe: unknown code at the root", PrevFromNode, 25, 0, {{40, 9}}, {}, -1},
    {"exact lookup without its comparator compares bytes", ExactBytes, 30, 0, {}, {}, 30, 5},
};

TEST(Steering, ChosenCodesOnTheWay) {
    for (const PathRow &row : kPaths) {
        Sevens s(comparator_for(row.call));
        g_script.at = row.at;
        g_script.sequence = row.sequence;
        g_script.every = row.every;
        EXPECT_EQ(Sevens::key(run(row.call, s, row.a, row.b)), row.expected) << row.what;
    }
}

// ---- NULL arguments -------------------------------------------------------------

int32_t count_visit(tarn_head *, tarn_node *, void *visits) {
    return ++*static_cast<int *>(visits);
}
// With a comparator a NULL key is the comparator's business: here the least.
uint32_t null_is_least(const void *tree, const void *probe) {
    return probe ? by_key(tree, probe) : TARN_CMP_GREATER;
}

TEST(NullArguments, EveryCallGivesItsFailureValueAndWritesNothing) {
    Sevens s;
    tarn_head *h = &s.head, copy = s.head, by_nodes = s.head, nulls = s.head;
    by_nodes.compare = by_node;
    nulls.compare = null_is_least;
    tarn_node *const marker = s.node(1), *n30 = s.node(30), *out = marker;
    tarn_iterator it{n30, {}};
    Rec probe{{}, 30};
    uint8_t k = 30;
    int visits = 0;
    auto out_kept = [&] { return std::exchange(out, marker) == marker; };
    auto out_null = [&] { return std::exchange(out, marker) == nullptr; };
    EXPECT_TRUE(tarn_init(nullptr, 1, 0, nullptr, nullptr) == 0);
    EXPECT_TRUE(tarn_init_new(nullptr, 0, 1, 0, nullptr, nullptr) == 0);
    EXPECT_TRUE((tarn_replicate_head_node(nullptr, &copy, by_key),
                 tarn_replicate_head_node(h, nullptr, by_key),
                 std::memcmp(&copy, h, sizeof copy) == 0));
    EXPECT_TRUE(tarn_is_empty(nullptr) == 1);
    EXPECT_TRUE(tarn_insert(nullptr, s.node(1)) == 0 && tarn_insert(h, nullptr) == 0);
    EXPECT_TRUE((tarn_delete(nullptr, n30), tarn_delete(h, nullptr), n30->in_tree == 1));
    EXPECT_TRUE(!tarn_lookup(nullptr, &k) && !tarn_lookup_exact(nullptr, &k, 0) &&
                !tarn_lookup_le(nullptr, &k) && !tarn_lookup_ge(nullptr, &k));
    EXPECT_TRUE(!tarn_lookup_user_data(nullptr, &k) && !tarn_get_next_node_from_key(nullptr, &k) &&
                !tarn_get_previous_node_from_key(nullptr, &k));
    EXPECT_TRUE(!tarn_get_first_node(nullptr, &out) && out_kept());
    EXPECT_TRUE(!tarn_get_first_user_data(nullptr, &out) && out_kept());
    EXPECT_TRUE(tarn_init_iterator(nullptr, &it) == 0 && it.current == n30);
    EXPECT_TRUE(tarn_init_iterator(h, nullptr) == 0);
    EXPECT_TRUE(
        (tarn_pre_sched_yield(h, nullptr), tarn_pre_sched_yield(nullptr, &it), it.current == n30));
    EXPECT_TRUE(!tarn_get_next_node(h, nullptr) && !tarn_get_previous_node(h, nullptr));
    EXPECT_TRUE(!tarn_get_next_user_data(h, nullptr) &&
                !tarn_get_next_node_in_range(h, &k, &k, nullptr));
    EXPECT_TRUE(!tarn_get_first_node_in_range(nullptr, &k, &k, &out) && out_null());
    EXPECT_TRUE(!tarn_get_first_node_in_range2(nullptr, &k, &k, &out) && out_null());
    EXPECT_TRUE(tarn_search_for_node(nullptr, &probe.node, &out) == 0 && out_kept());
    EXPECT_TRUE(tarn_search_for_node(&by_nodes, nullptr, &out) == 0 && out_kept());
    EXPECT_TRUE(tarn_delete_node(nullptr, &probe.node, &out) == 0 && out_null());
    EXPECT_TRUE(tarn_delete_node(&by_nodes, nullptr, &out) == 0 && out_null());
    EXPECT_TRUE(!tarn_get_next_from_node(nullptr, &probe.node) &&
                !tarn_get_next_from_node(&by_nodes, nullptr));
    EXPECT_TRUE(!tarn_get_prev_from_node(nullptr, &probe.node) &&
                !tarn_get_prev_from_node(&by_nodes, nullptr));
    EXPECT_TRUE(tarn_walk_tree(nullptr, &visits, count_visit) == 1 && visits == 0);
    EXPECT_TRUE((tarn_walk_tree_v2(nullptr, TARN_WALK_INORDER, &visits, count_visit),
                 tarn_print_tree(nullptr, TARN_WALK_INORDER, nullptr), visits == 0));
    EXPECT_TRUE(tarn_verify_balance_factors(nullptr) == 1);
    EXPECT_TRUE(tarn_lookup_ge(&nulls, nullptr) == s.node(10));
    EXPECT_EQ(s.head.count, 7u);
    EXPECT_EQ(tarn_verify_balance_factors(&s.head), 1);
}

// ---- Print, walks and damaged trees --------------------------------------------

std::string block(tarn_node *n, int depth, const char *balance) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "\nAVL node %p, depth %d, balance factor: %s\nleft %p, right %p, parent %p\n",
                  static_cast<void *>(n), depth, balance, static_cast<void *>(n->left),
                  static_cast<void *>(n->right), static_cast<void *>(n->parent));
    return text;
}

void hook(tarn_node *n) { std::printf("<%d>", Sevens::key(n)); }

int32_t visit(tarn_head *, tarn_node *n, void *seen) {
    auto &keys = *static_cast<std::vector<int> *>(seen);
    keys.push_back(Sevens::key(n));
    return keys.size() != 2; // tarn_walk_tree stops at the second visit
}

TEST(Walk, InOrderStopsAtTheVisitorsZero) {
    Sevens s;
    std::vector<int> keys;
    EXPECT_EQ(tarn_walk_tree(&s.head, &keys, visit), 0);
    EXPECT_EQ(keys, (std::vector<int>{10, 20}));
    EXPECT_EQ(tarn_walk_tree(&s.head, &keys, visit), 1);
    EXPECT_EQ(keys, (std::vector<int>{10, 20, 10, 20, 30, 40, 50, 60, 70}));
    EXPECT_EQ(tarn_walk_tree(&s.head, &keys, nullptr), 1);
}

TEST(Print, ExactTextAndWalksInEachOrderWithEachBalanceName) {
    Sevens s; // 40 over 20 and 60
    for (int k : {10, 30, 50, 70}) tarn_delete(&s.head, s.node(k));
    const char *names[] = {"EQ", "RH", "LH", "EQ"};
    const std::vector<int> visits_by_order[] = {{40, 20, 60}, {20, 40, 60}, {20, 60, 40}, {}};
    for (uint32_t code = 0; code < 4; code++) {
        s.node(40)->balance = code; // the print names codes, it does not check them
        for (uint32_t order = 0; order < 4; order++) {
            const std::vector<int> &keys = visits_by_order[order]; // order 3: none
            std::string want;
            for (int k : keys)
                want += block(s.node(k), k == 40 ? 1 : 2, k == 40 ? names[code] : "EQ") + "<" +
                        std::to_string(k) + ">";
            ::testing::internal::CaptureStdout();
            tarn_print_tree(&s.head, order, hook);
            std::fflush(stdout);
            EXPECT_EQ(::testing::internal::GetCapturedStdout(), want) << order << ", " << code;
            std::vector<int> walked; // a walk ignores what its visitor answers
            tarn_walk_tree_v2(&s.head, order, &walked, visit);
            tarn_walk_tree_v2(&s.head, order, &walked, nullptr);
            EXPECT_EQ(walked, keys);
        }
    }
}

// Damage that changing one balance code (the harness's) does not make.
TEST(Verify, CatchesHeightsTwoApartAndCyclesThatBoundTheRecursion) {
    Sevens s;
    tarn_head two_apart = s.tree_of({21, 11}); // 21 (LH) over 11 (LH) over 6
    *s.node(6) = {TARN_BAL_EQ, 1, nullptr, nullptr, s.node(11)};
    s.node(11)->left = s.node(6);
    s.node(11)->balance = TARN_BAL_LH;
    EXPECT_EQ(tarn_verify_balance_factors(&two_apart), 0);
    // A cycle: verification fails, and the recursive walk and the print
    // stop descending at depth 100 instead of exhausting the stack.
    s.node(10)->left = s.node(20), s.node(20)->left = s.node(10); // 20 < 10 < 20 ...
    s.head.root = s.node(10);
    s.node(10)->right = s.node(20)->right = nullptr;
    EXPECT_EQ(tarn_verify_balance_factors(&s.head), 0);
    for (uint32_t order : {TARN_WALK_PREORDER, TARN_WALK_INORDER, TARN_WALK_POSTORDER}) {
        std::vector<int> walked;
        tarn_walk_tree_v2(&s.head, order, &walked, visit);
        ::testing::internal::CaptureStdout();
        tarn_print_tree(&s.head, order, nullptr);
        std::string printed = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(walked.size(), 100u);
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 300) << "100 blocks";
    }
}

// A root marked left-heavy with no left child: the new left child finds its
// parent already heavy on its side, yet is a leaf. Nothing more changes.
TEST(DamagedTree, InsertBesideAFalselyHeavyNodeStillLinks) {
    Sevens s;
    tarn_head h = s.tree_of({55});
    s.node(55)->balance = TARN_BAL_LH;
    EXPECT_EQ(tarn_insert(&h, s.node(45)), 1);
    EXPECT_TRUE(h.root == s.node(55) && s.node(55)->left == s.node(45));
    EXPECT_EQ(s.node(55)->balance, uint32_t(TARN_BAL_LH));
}

// 21 (RH) over 11 and 41 (LH), 41 over 31. Removing 11 lifts 31 by a double
// rotation; with 31's code outside 0..2, 21 and 41 keep their codes.
TEST(DamagedTree, DoubleRotationKeepsCodesWhenTheLiftedCodeIsUnknown) {
    Sevens s;
    tarn_head h = s.tree_of({21, 11, 41, 31});
    s.node(31)->balance = 3;
    tarn_delete(&h, s.node(11));
    EXPECT_TRUE(h.root == s.node(31) && s.node(31)->left == s.node(21) &&
                s.node(31)->right == s.node(41));
    EXPECT_TRUE(s.node(31)->balance == TARN_BAL_EQ && s.node(21)->balance == TARN_BAL_RH &&
                s.node(41)->balance == TARN_BAL_LH);
}

// 11 (RH) over 41 over 21, linked by hand with 41 and 21 left EQ: inserting
// 25 lifts 21 over 11 and 41 and marks 11 LH, which only damage makes. 11
// is then a leaf, and insertion aborts, unless 21 had a left child 16.
int32_t insert_into_damaged_tree(bool with_16) {
    Sevens s;
    tarn_head h = s.tree_of({11, 41});
    *s.node(21) = {TARN_BAL_EQ, 1, nullptr, nullptr, s.node(41)};
    s.node(41)->left = s.node(21);
    *s.node(16) = {TARN_BAL_EQ, 1, nullptr, nullptr, s.node(21)};
    if (with_16) s.node(21)->left = s.node(16);
    return tarn_insert(&h, s.node(25));
}

TEST(DamagedTreeDeathTest, InsertionAbortsWhenDamageLeavesAnUnbalancedLeaf) {
    EXPECT_EQ(insert_into_damaged_tree(true), 1);
    EXPECT_EXIT(insert_into_damaged_tree(false), testing::KilledBySignal(SIGABRT), "");
}

TEST(Descriptor, ZeroLengthKeysAllCompareEqual) {
    Sevens s;
    tarn_head h{};
    tarn_init(&h, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(tarn_insert(&h, s.node(1)) == 1 && tarn_insert(&h, s.node(2)) == 0);
    EXPECT_EQ(tarn_lookup(&h, nullptr), s.node(1));
}

} // namespace
