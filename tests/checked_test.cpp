// SPDX-License-Identifier: MIT
// The checked library stops each misuse at the call that makes it, with one
// line naming the call and the misuse; sound use around it runs through.
#include <gtest/gtest.h>

#include <csignal>
#include <cstddef>
#include <string>
#include <utility>

#include "tarn.h"

namespace {

struct Rec {
    tarn_node node;
    uint8_t key;
};

// Two trees (keys 1 to 8, and 9), a replica, a descriptor never set up and
// a cursor holding a node removed without a yield, all by sound calls.
struct Trees {
    Rec recs[9];
    tarn_head tree{}, other{}, replica{}, zero{};
    tarn_iterator it{}, stale{};
    uint8_t key = 2;
    Trees() {
        for (tarn_head *h : {&tree, &other}) tarn_init(h, 1, offsetof(Rec, key), nullptr, nullptr);
        for (int i = 0; i < 9; i++) recs[i] = {{}, uint8_t(i + 1)};
        for (int i = 0; i < 9; i++) tarn_insert(i < 8 ? &tree : &other, &recs[i].node);
        tarn_replicate_head_node(&tree, &replica, nullptr);
        tarn_get_first_node(&replica, &stale.current);
        tarn_get_next_node_in_range(&tree, &key, &key, &stale);
        tarn_get_previous_node(&tree, &stale);
        tarn_get_next_user_data(&tree, &stale);
        tarn_get_next_node(&tree, &stale);
        tarn_delete(&tree, stale.current); // 3
        tarn_delete(&tree, &recs[7].node); // 8, four levels down: the check climbs to the root
    }
};

// clang-format off
#define ROW(message, ...) {message, [](Trees &t) { __VA_ARGS__; }}
#define REPLICA(call, ...) ROW(#call ": tree changed through a replica descriptor", __VA_ARGS__)
#define STALE(call, ...) ROW(#call ": cursor holds a node no longer linked", __VA_ARGS__)
#define UNSET(call, ...)                                                                           \
    ROW(#call ": descriptor used before set-up", call(&t.zero __VA_OPT__(, ) __VA_ARGS__))

const std::pair<const char *, void (*)(Trees &)> kRows[] = {
    ROW("tarn_insert: node is already linked", tarn_insert(&t.other, &t.recs[0].node)),
    ROW("tarn_delete: node is linked in another tree", tarn_delete(&t.tree, &t.recs[8].node)),
    REPLICA(tarn_insert, tarn_insert(&t.replica, &t.recs[2].node)),
    REPLICA(tarn_delete, tarn_delete(&t.replica, &t.recs[0].node)),
    REPLICA(tarn_delete_node, tarn_delete_node(&t.replica, &t.key, nullptr)),
    ROW("tarn_lookup: descriptor key length above 140", t.tree.key_length = 141;
        tarn_lookup(&t.tree, &t.key)),
    STALE(tarn_get_next_node, tarn_get_next_node(&t.tree, &t.stale)),
    STALE(tarn_get_previous_node, tarn_get_previous_node(nullptr, &t.stale)),
    STALE(tarn_get_next_user_data, tarn_get_next_user_data(&t.tree, &t.stale)),
    STALE(tarn_get_next_node_in_range,
          tarn_get_next_node_in_range(&t.tree, &t.key, &t.key, &t.stale)),
    UNSET(tarn_replicate_head_node, &t.replica, nullptr), UNSET(tarn_is_empty),
    UNSET(tarn_insert, &t.recs[3].node), UNSET(tarn_delete, &t.recs[3].node),
    UNSET(tarn_lookup, &t.key), UNSET(tarn_lookup_exact, &t.key, 0), UNSET(tarn_lookup_le, &t.key),
    UNSET(tarn_lookup_ge, &t.key), UNSET(tarn_lookup_user_data, &t.key),
    UNSET(tarn_get_first_node, nullptr), UNSET(tarn_get_first_user_data, nullptr),
    UNSET(tarn_init_iterator, &t.it), UNSET(tarn_pre_sched_yield, &t.it),
    UNSET(tarn_get_next_node, &t.it), UNSET(tarn_get_previous_node, &t.it),
    UNSET(tarn_get_next_user_data, &t.it), UNSET(tarn_get_next_node_from_key, &t.key),
    UNSET(tarn_get_previous_node_from_key, &t.key),
    UNSET(tarn_get_first_node_in_range, &t.key, &t.key, nullptr),
    UNSET(tarn_get_first_node_in_range2, &t.key, &t.key, nullptr),
    UNSET(tarn_get_next_node_in_range, &t.key, &t.key, &t.it),
    UNSET(tarn_search_for_node, &t.key, &t.it.current), UNSET(tarn_delete_node, &t.key, nullptr),
    UNSET(tarn_get_next_from_node, &t.key), UNSET(tarn_get_prev_from_node, &t.key),
    UNSET(tarn_walk_tree, nullptr, nullptr), UNSET(tarn_walk_tree_v2, 1, nullptr, nullptr),
    UNSET(tarn_print_tree, 1, nullptr), UNSET(tarn_verify_balance_factors)};
// clang-format on

TEST(CheckedDeathTest, EachMisuseAbortsNamingTheCall) {
    for (const auto &[message, misuse] : kRows) {
        Trees trees;
        EXPECT_EXIT(misuse(trees), testing::KilledBySignal(SIGABRT), std::string("^") + message)
            << message;
    }
}

} // namespace
