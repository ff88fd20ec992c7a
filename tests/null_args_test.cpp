// Every call with its pointer arguments NULL in turn, where the differential
// harness does not pass them: the failure value the header documents, no
// write it does not document, and the tree left as it was.
#include <cstring>

#include "support.hpp"

using namespace tarn_test;

namespace {

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

} // namespace
