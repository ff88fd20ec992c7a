// Every exported call with each of its pointer arguments NULL in turn: the
// failure value the header documents, no write it does not document, and
// the tree left sound. Arguments the header requires are not in the table.
#include <functional>

#include "support.hpp"

using namespace tarn_test;

namespace {

tarn_node g_marker;
tarn_node *const kUntouched = &g_marker;

// Node comparison for the probe calls: 1-byte keys read through the record.
uint32_t compare_records(const void *tree_node, const void *probe_node) {
    uint8_t a = rec_of(static_cast<tarn_node *>(const_cast<void *>(tree_node)))->key[0];
    uint8_t b = rec_of(static_cast<tarn_node *>(const_cast<void *>(probe_node)))->key[0];
    return a == b ? TARN_CMP_EQUAL : a > b ? TARN_CMP_GREATER : TARN_CMP_LESS;
}

int32_t count_visit(tarn_head *, tarn_node *, void *context) {
    if (context) ++*static_cast<int *>(context);
    return 1;
}
int g_hooks;
void count_hook(tarn_node *) { g_hooks++; }

// Byte-wise 1-byte keys 1..6 linked; records 0 and 7 stay out.
struct World {
    ModelTree t{Mode::Bytes1, 8};
    tarn_head *h = &t.head;
    tarn_iterator it{};
    tarn_node *out = kUntouched;
    int visits = 0;
    std::vector<uint8_t> k3 = t.key(3), k5 = t.key(5);
    World() {
        for (uint32_t v = 1; v <= 6; v++) t.insert(v);
    }
    tarn_node *node(uint32_t v) { return &t.rec(v).node; }
    void *record(uint32_t v) { return &t.rec(v); }
    void use_node_comparison() {
        ASSERT_EQ(tarn_init_new(h, kNodeOffset, 1, kKeyOffset, compare_records, nullptr), 1);
    }
    tarn_node *probe(uint32_t v) { // an unlinked record carrying v
        t.rec(7).key[0] = uint8_t(v);
        return node(7);
    }
    std::string printed(const std::function<void()> &call) {
        ::testing::internal::CaptureStdout();
        call();
        return ::testing::internal::GetCapturedStdout();
    }
};

struct Row {
    const char *call;
    std::function<void(World &)> check;
};

const Row kRows[] = {
    // Set-up and state.
    {"tarn_init head", [](World &) { EXPECT_EQ(tarn_init(nullptr, 1, 0, nullptr, nullptr), 0); }},
    {"tarn_init_new head",
     [](World &) { EXPECT_EQ(tarn_init_new(nullptr, 8, 1, 0, nullptr, nullptr), 0); }},
    {"tarn_init_new comparators: byte-wise",
     [](World &w) {
         EXPECT_EQ(tarn_init_new(w.h, kNodeOffset, 1, kKeyOffset, nullptr, nullptr), 1);
         EXPECT_EQ(tarn_lookup_exact(w.h, w.k3.data(), 0), w.node(3));
     }},
    {"tarn_replicate_head_node source/replica",
     [](World &w) {
         tarn_head replica, before;
         std::memset(&replica, 0x77, sizeof replica);
         before = replica;
         tarn_head source_before = *w.h;
         tarn_replicate_head_node(nullptr, &replica, nullptr);
         tarn_replicate_head_node(w.h, nullptr, nullptr);
         EXPECT_EQ(std::memcmp(&replica, &before, sizeof replica), 0);
         EXPECT_EQ(std::memcmp(w.h, &source_before, sizeof source_before), 0);
     }},
    {"tarn_replicate_head_node compare: byte-wise replica",
     [](World &w) {
         tarn_head replica;
         tarn_replicate_head_node(w.h, &replica, nullptr);
         EXPECT_EQ(replica.compare, nullptr);
         EXPECT_EQ(tarn_lookup(&replica, w.k5.data()), w.node(5));
     }},
    {"tarn_is_empty head", [](World &) { EXPECT_EQ(tarn_is_empty(nullptr), 1); }},
    // Changes.
    {"tarn_insert head", [](World &w) { EXPECT_EQ(tarn_insert(nullptr, w.node(7)), 0); }},
    {"tarn_insert node", [](World &w) { EXPECT_EQ(tarn_insert(w.h, nullptr), 0); }},
    {"tarn_delete head",
     [](World &w) {
         tarn_delete(nullptr, w.node(3));
         EXPECT_EQ(w.node(3)->in_tree, 1u);
     }},
    {"tarn_delete node", [](World &w) { tarn_delete(w.h, nullptr); }},
    // Lookups: NULL head, and a NULL key under byte-wise comparison.
    {"tarn_lookup, _le, _ge, next/previous_node_from_key head/key",
     [](World &w) {
         for (auto call : {tarn_lookup, tarn_lookup_le, tarn_lookup_ge, tarn_get_next_node_from_key,
                           tarn_get_previous_node_from_key}) {
             EXPECT_EQ(call(nullptr, w.k3.data()), nullptr);
             EXPECT_EQ(call(w.h, nullptr), nullptr);
         }
     }},
    {"tarn_lookup_exact head/key",
     [](World &w) {
         EXPECT_EQ(tarn_lookup_exact(nullptr, w.k3.data(), 0), nullptr);
         EXPECT_EQ(tarn_lookup_exact(w.h, nullptr, 0), nullptr);
     }},
    {"tarn_lookup_user_data head/key",
     [](World &w) {
         EXPECT_EQ(tarn_lookup_user_data(nullptr, w.k3.data()), nullptr);
         EXPECT_EQ(tarn_lookup_user_data(w.h, nullptr), nullptr);
     }},
    {"tarn_get_first_node head/out",
     [](World &w) {
         EXPECT_EQ(tarn_get_first_node(nullptr, &w.out), nullptr);
         EXPECT_EQ(w.out, kUntouched);
         EXPECT_EQ(tarn_get_first_node(w.h, nullptr), w.node(1));
     }},
    {"tarn_get_first_user_data head/out",
     [](World &w) {
         EXPECT_EQ(tarn_get_first_user_data(nullptr, &w.out), nullptr);
         EXPECT_EQ(w.out, kUntouched);
         EXPECT_EQ(tarn_get_first_user_data(w.h, nullptr), w.record(1));
     }},
    // Cursors.
    {"tarn_init_iterator head/iterator",
     [](World &w) {
         w.it.current = w.node(2);
         EXPECT_EQ(tarn_init_iterator(nullptr, &w.it), 0);
         EXPECT_EQ(w.it.current, w.node(2));
         EXPECT_EQ(tarn_init_iterator(w.h, nullptr), 0);
     }},
    {"tarn_pre_sched_yield head/iterator/current",
     [](World &w) {
         w.it.current = w.node(2);
         tarn_pre_sched_yield(nullptr, &w.it);
         EXPECT_EQ(w.it.current, w.node(2));
         tarn_pre_sched_yield(w.h, nullptr);
         w.it.current = nullptr;
         w.it.saved_key[0] = 9;
         tarn_pre_sched_yield(w.h, &w.it);
         EXPECT_EQ(w.it.saved_key[0], 9);
     }},
    {"tarn_get_next_node head (holding, detached)/iterator",
     [](World &w) {
         w.it.current = w.node(2);
         EXPECT_EQ(tarn_get_next_node(nullptr, &w.it), w.node(3));
         w.it.current = nullptr;
         EXPECT_EQ(tarn_get_next_node(nullptr, &w.it), nullptr);
         EXPECT_EQ(w.it.current, nullptr);
         EXPECT_EQ(tarn_get_next_node(w.h, nullptr), nullptr);
     }},
    {"tarn_get_previous_node head (holding, detached)/iterator",
     [](World &w) {
         w.it.current = w.node(2);
         EXPECT_EQ(tarn_get_previous_node(nullptr, &w.it), w.node(1));
         w.it.current = nullptr;
         EXPECT_EQ(tarn_get_previous_node(nullptr, &w.it), nullptr);
         EXPECT_EQ(tarn_get_previous_node(w.h, nullptr), nullptr);
     }},
    {"tarn_get_next_user_data head (steps anyway)/iterator",
     [](World &w) {
         w.it.current = w.node(2);
         EXPECT_EQ(tarn_get_next_user_data(nullptr, &w.it), nullptr);
         EXPECT_EQ(w.it.current, w.node(3));
         EXPECT_EQ(tarn_get_next_user_data(w.h, nullptr), nullptr);
     }},
    // Ranges: the first-node calls store NULL on every failure.
    {"tarn_get_first_node_in_range(2) head/low/high/out",
     [](World &w) {
         const uint8_t *lo = w.k3.data(), *hi = w.k5.data();
         auto calls = {tarn_get_first_node_in_range, tarn_get_first_node_in_range2};
         auto fails = [&](const tarn_head *head, const void *low, const void *high) {
             for (auto call : calls) {
                 w.out = kUntouched;
                 EXPECT_EQ(call(head, low, high, &w.out), nullptr);
                 EXPECT_EQ(w.out, nullptr) << "NULL is stored on failure";
             }
         };
         fails(nullptr, lo, hi);
         fails(w.h, nullptr, hi);
         fails(w.h, lo, nullptr);
         for (auto call : calls) EXPECT_EQ(call(w.h, lo, hi, nullptr), w.node(3));
     }},
    {"tarn_get_next_node_in_range head/low/high/iterator",
     [](World &w) {
         const uint8_t *lo = w.k3.data(), *hi = w.k5.data();
         w.it.current = w.node(3);
         EXPECT_EQ(tarn_get_next_node_in_range(nullptr, lo, hi, &w.it), nullptr);
         EXPECT_EQ(w.it.current, nullptr) << "a NULL head detaches the cursor";
         w.it.current = w.node(3);
         EXPECT_EQ(tarn_get_next_node_in_range(w.h, nullptr, hi, &w.it), nullptr);
         w.it.current = w.node(3);
         EXPECT_EQ(tarn_get_next_node_in_range(w.h, lo, nullptr, &w.it), nullptr);
         EXPECT_EQ(w.it.current, nullptr);
         EXPECT_EQ(tarn_get_next_node_in_range(w.h, lo, hi, nullptr), nullptr);
     }},
    // Probe searches, with node comparison set up, and without it.
    {"tarn_search_for_node head/probe/out",
     [](World &w) {
         w.use_node_comparison();
         EXPECT_EQ(tarn_search_for_node(nullptr, w.probe(3), &w.out), 0);
         EXPECT_EQ(tarn_search_for_node(w.h, nullptr, &w.out), 0);
         EXPECT_EQ(w.out, kUntouched);
         EXPECT_EQ(tarn_search_for_node(w.h, w.probe(3), nullptr), 0);
     }},
    {"tarn_delete_node head/probe/out (optional)",
     [](World &w) {
         w.use_node_comparison();
         EXPECT_EQ(tarn_delete_node(nullptr, w.probe(3), &w.out), 0);
         EXPECT_EQ(w.out, nullptr);
         w.out = kUntouched;
         EXPECT_EQ(tarn_delete_node(w.h, nullptr, &w.out), 0);
         EXPECT_EQ(w.out, nullptr);
         EXPECT_EQ(w.h->count, 6u);
         EXPECT_EQ(tarn_delete_node(w.h, w.probe(3), nullptr), 1);
         w.t.model.erase(3);
         EXPECT_EQ(w.node(3)->in_tree, 0u);
     }},
    {"tarn_get_next_from_node, tarn_get_prev_from_node head/probe/compare",
     [](World &w) {
         const std::pair<decltype(&tarn_get_next_from_node), uint32_t> calls[] = {
             {tarn_get_next_from_node, 4}, {tarn_get_prev_from_node, 2}};
         for (auto [call, neighbour] : calls)
             EXPECT_EQ(call(w.h, w.probe(3)), nullptr) << "no comparator";
         w.use_node_comparison();
         for (auto [call, neighbour] : calls) {
             EXPECT_EQ(call(nullptr, w.probe(3)), nullptr);
             EXPECT_EQ(call(w.h, nullptr), nullptr);
             EXPECT_EQ(call(w.h, w.probe(3)), w.node(neighbour));
         }
     }},
    // Walks and diagnostics: a NULL head is an empty tree.
    {"tarn_walk_tree head/context/visitor",
     [](World &w) {
         EXPECT_EQ(tarn_walk_tree(nullptr, &w.visits, count_visit), 1);
         EXPECT_EQ(w.visits, 0);
         EXPECT_EQ(tarn_walk_tree(w.h, nullptr, count_visit), 1);
         EXPECT_EQ(tarn_walk_tree(w.h, &w.visits, nullptr), 1);
         EXPECT_EQ(w.visits, 0);
     }},
    {"tarn_walk_tree_v2 head/context/visitor",
     [](World &w) {
         tarn_walk_tree_v2(nullptr, TARN_WALK_INORDER, &w.visits, count_visit);
         tarn_walk_tree_v2(w.h, TARN_WALK_INORDER, nullptr, count_visit);
         tarn_walk_tree_v2(w.h, TARN_WALK_INORDER, &w.visits, nullptr);
         EXPECT_EQ(w.visits, 0);
     }},
    {"tarn_print_tree head/hook",
     [](World &w) {
         g_hooks = 0;
         EXPECT_EQ(w.printed([] { tarn_print_tree(nullptr, TARN_WALK_INORDER, count_hook); }), "");
         EXPECT_NE(w.printed([&] { tarn_print_tree(w.h, TARN_WALK_INORDER, nullptr); }), "");
         EXPECT_EQ(g_hooks, 0);
     }},
    {"tarn_verify_balance_factors head",
     [](World &) { EXPECT_EQ(tarn_verify_balance_factors(nullptr), 1); }},
};

TEST(NullArguments, EveryCallGivesItsDocumentedAnswer) {
    for (const Row &row : kRows) {
        SCOPED_TRACE(row.call);
        World w;
        row.check(w);
        tarn_init_new(w.h, kNodeOffset, 1, kKeyOffset, nullptr, nullptr); // byte-wise again
        EXPECT_TRUE(tree_is_sound(w.t.head, &w.t.pool));
        EXPECT_EQ(w.t.head.count, w.t.model.size());
    }
}

// With a comparator the library hands a NULL key through untouched: the
// comparator, not the library, decides what it means.
uint32_t g_null_probes;
uint32_t null_is_smallest(const void *tree_key, const void *probe) {
    if (!probe) {
        g_null_probes++;
        return TARN_CMP_GREATER;
    }
    return compare_le32(tree_key, probe);
}

TEST(NullArguments, ComparatorSeesANullKey) {
    ModelTree t(Mode::Callback, 8);
    for (uint32_t v = 1; v <= 6; v++) t.insert(v);
    tarn_init_new(&t.head, kNodeOffset, 4, kKeyOffset, null_is_smallest, nullptr);
    g_null_probes = 0;
    EXPECT_EQ(tarn_lookup(&t.head, nullptr), nullptr);
    EXPECT_EQ(tarn_lookup_ge(&t.head, nullptr), &t.rec(1).node);
    EXPECT_EQ(tarn_get_next_node_from_key(&t.head, nullptr), &t.rec(1).node);
    EXPECT_GT(g_null_probes, 0u);
}

} // namespace
