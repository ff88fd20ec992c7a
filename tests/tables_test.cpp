// SPDX-License-Identifier: MIT
// What the harness does not decide, on a tree of keys 10, 20, ... 70 (40 at
// the root): NULL arguments the harness does not pass, the print text, the
// shape a removal leaves, and what the calls do on trees damaged by hand.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tarn.h"

namespace {

struct Rec {
    tarn_node node;
    uint8_t key;
};

uint32_t by_value(uint8_t tree, uint8_t probe) {
    return tree == probe ? 0 : tree > probe ? TARN_CMP_GREATER : TARN_CMP_LESS;
}
uint32_t by_key(const void *tree, const void *probe) {
    return by_value(*static_cast<const uint8_t *>(tree), *static_cast<const uint8_t *>(probe));
}
uint32_t by_node(const void *tree, const void *probe) {
    return by_value(static_cast<const Rec *>(tree)->key, static_cast<const Rec *>(probe)->key);
}

// Built byte-wise.
struct Sevens {
    Rec recs[256]{};
    tarn_head head{};
    Sevens() {
        for (int k = 0; k < 256; k++) recs[k].key = uint8_t(k);
        head = tree_of({40, 20, 60, 10, 30, 50, 70});
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
    return keys.size() != 2; // which a three-order walk ignores
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
    // A cycle that balances on every level fails only by its depth.
    *s.node(30) = {TARN_BAL_EQ, 1, s.node(30), s.node(30), nullptr};
    s.head.root = s.node(30);
    EXPECT_EQ(tarn_verify_balance_factors(&s.head), 0);
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

// A node with two children gives way to its in-order successor: 50 takes
// 40's place, and 60 keeps only its right child.
TEST(Remove, TwoChildrenGiveWayToTheSuccessor) {
    Sevens s;
    tarn_delete(&s.head, s.node(40));
    EXPECT_TRUE(s.head.root == s.node(50) && s.node(50)->left == s.node(20) &&
                s.node(50)->right == s.node(60) && s.node(60)->balance == TARN_BAL_RH);
}

TEST(Descriptor, ZeroLengthKeysAllCompareEqual) {
    Sevens s;
    tarn_head h{};
    tarn_init(&h, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(tarn_insert(&h, s.node(1)) == 1 && tarn_insert(&h, s.node(2)) == 0);
    EXPECT_EQ(tarn_lookup(&h, nullptr), s.node(1));
}

} // namespace
