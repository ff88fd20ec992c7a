// The checked library stops each misuse at the call that makes it, with one
// line naming the call and the misuse; sound use around it runs through.
#include <gtest/gtest.h>

#include <cstddef>

#include "tarn.h"

namespace {

struct Rec {
    tarn_node node;
    uint8_t key;
};

// Two trees, a replica of the first, a descriptor never set up, and a cursor
// left holding a node that was removed without a yield. Built by sound calls
// only, before any death test forks.
struct Trees {
    Rec recs[4] = {{{}, 1}, {{}, 2}, {{}, 3}, {{}, 4}};
    tarn_head tree{}, other{}, replica{}, zero{};
    tarn_iterator it{}, stale{};
    uint8_t key = 2;
    Trees() {
        for (tarn_head *h : {&tree, &other}) tarn_init(h, 1, offsetof(Rec, key), nullptr, nullptr);
        for (int i = 0; i < 3; i++) tarn_insert(&tree, &recs[i].node); // 2 at the root
        tarn_insert(&other, &recs[3].node);
        tarn_replicate_head_node(&tree, &replica, nullptr);
        tarn_get_first_node(&replica, &stale.current);
        tarn_get_next_node_in_range(&tree, &key, &key, &stale);
        tarn_get_previous_node(&tree, &stale);
        tarn_get_next_user_data(&tree, &stale);
        tarn_get_next_node(&tree, &stale);
        tarn_delete(&tree, stale.current); // 3, a leaf: the check climbs to the root
    }
};

struct Row {
    const char *message;
    void (*misuse)(Trees &);
};

#define UNSET(call, ...)                                                                           \
    Row {                                                                                          \
#call ": descriptor used before set-up",                                                   \
            [](Trees & t) { call(&t.zero __VA_OPT__(, ) __VA_ARGS__); }                            \
    }

const Row kRows[] = {
    {"tarn_insert: node is already linked",
     [](Trees &t) { tarn_insert(&t.other, &t.recs[0].node); }},
    {"tarn_delete: node is linked in another tree",
     [](Trees &t) { tarn_delete(&t.tree, &t.recs[3].node); }},
    {"tarn_insert: tree changed through a replica descriptor",
     [](Trees &t) { tarn_insert(&t.replica, &t.recs[2].node); }},
    {"tarn_delete: tree changed through a replica descriptor",
     [](Trees &t) { tarn_delete(&t.replica, &t.recs[0].node); }},
    {"tarn_delete_node: tree changed through a replica descriptor",
     [](Trees &t) { tarn_delete_node(&t.replica, &t.key, nullptr); }},
    {"tarn_lookup: descriptor key length above 140",
     [](Trees &t) {
         t.tree.key_length = 141;
         tarn_lookup(&t.tree, &t.key);
     }},
    {"tarn_get_next_node: cursor holds a node no longer linked",
     [](Trees &t) { tarn_get_next_node(&t.tree, &t.stale); }},
    {"tarn_get_previous_node: cursor holds a node no longer linked",
     [](Trees &t) { tarn_get_previous_node(nullptr, &t.stale); }},
    {"tarn_get_next_user_data: cursor holds a node no longer linked",
     [](Trees &t) { tarn_get_next_user_data(&t.tree, &t.stale); }},
    {"tarn_get_next_node_in_range: cursor holds a node no longer linked",
     [](Trees &t) { tarn_get_next_node_in_range(&t.tree, &t.key, &t.key, &t.stale); }},
    UNSET(tarn_replicate_head_node, &t.replica, nullptr),
    UNSET(tarn_is_empty),
    UNSET(tarn_insert, &t.recs[3].node),
    UNSET(tarn_delete, &t.recs[3].node),
    UNSET(tarn_lookup, &t.key),
    UNSET(tarn_lookup_exact, &t.key, 0),
    UNSET(tarn_lookup_le, &t.key),
    UNSET(tarn_lookup_ge, &t.key),
    UNSET(tarn_lookup_user_data, &t.key),
    UNSET(tarn_get_first_node, nullptr),
    UNSET(tarn_get_first_user_data, nullptr),
    UNSET(tarn_init_iterator, &t.it),
    UNSET(tarn_pre_sched_yield, &t.it),
    UNSET(tarn_get_next_node, &t.it),
    UNSET(tarn_get_previous_node, &t.it),
    UNSET(tarn_get_next_user_data, &t.it),
    UNSET(tarn_get_next_node_from_key, &t.key),
    UNSET(tarn_get_previous_node_from_key, &t.key),
    UNSET(tarn_get_first_node_in_range, &t.key, &t.key, nullptr),
    UNSET(tarn_get_first_node_in_range2, &t.key, &t.key, nullptr),
    UNSET(tarn_get_next_node_in_range, &t.key, &t.key, &t.it),
    UNSET(tarn_search_for_node, &t.key, &t.it.current),
    UNSET(tarn_delete_node, &t.key, nullptr),
    UNSET(tarn_get_next_from_node, &t.key),
    UNSET(tarn_get_prev_from_node, &t.key),
    UNSET(tarn_walk_tree, nullptr, nullptr),
    UNSET(tarn_walk_tree_v2, TARN_WALK_INORDER, nullptr, nullptr),
    UNSET(tarn_print_tree, TARN_WALK_INORDER, nullptr),
    UNSET(tarn_verify_balance_factors),
};

TEST(CheckedDeathTest, EachMisuseAbortsNamingTheCall) {
    for (const Row &row : kRows) {
        Trees trees;
        EXPECT_DEATH(row.misuse(trees), std::string("^") + row.message) << row.message;
    }
}

} // namespace
