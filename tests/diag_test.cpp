// What a model cannot decide: the exact print text, the walks' orders,
// verification of trees damaged by hand, what insertion, removal, walks and
// the print do on damaged trees, and the integrity abort.
#include <algorithm>
#include <cstdio>
#include <string>

#include "support.hpp"

using namespace tarn_test;

namespace {

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
    tarn_head replica;
    tarn_replicate_head_node(&s.head, &replica, nullptr);
    std::vector<int> keys;
    EXPECT_EQ(tarn_walk_tree(&s.head, &keys, visit), 0);
    EXPECT_EQ(keys, (std::vector<int>{10, 20}));
    EXPECT_EQ(tarn_walk_tree(&replica, &keys, visit), 1);
    EXPECT_EQ(keys, (std::vector<int>{10, 20, 10, 20, 30, 40, 50, 60, 70}));
    EXPECT_EQ(tarn_walk_tree(&s.head, &keys, nullptr), 1);
}

TEST(Print, ExactTextAndWalksInEachOrderWithEachBalanceName) {
    Sevens s; // 40 over 20 and 60
    for (int k : {10, 30, 50, 70}) tarn_delete(&s.head, s.node(k));
    const char *names[] = {"EQ", "RH", "LH", "EQ"};
    const std::pair<uint32_t, std::vector<int>> orders[] = {{TARN_WALK_PREORDER, {40, 20, 60}},
                                                            {TARN_WALK_INORDER, {20, 40, 60}},
                                                            {TARN_WALK_POSTORDER, {20, 60, 40}},
                                                            {3, {}}};
    for (uint32_t code = 0; code < 4; code++) {
        s.node(40)->balance = code; // the print names codes, it does not check them
        for (const auto &[order, keys] : orders) {
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

// A byte-wise tree of records of s that s's own tree does not hold.
tarn_head tree_of(Sevens &s, std::initializer_list<int> keys) {
    tarn_head h{};
    tarn_init(&h, 1, offsetof(Rec, key), nullptr, nullptr);
    for (int k : keys) tarn_insert(&h, s.node(k));
    return h;
}

// Damage that changing one balance code (the harness's) does not make.
TEST(Verify, CatchesHeightsTwoApartAndCyclesThatBoundTheRecursion) {
    Sevens s;
    tarn_head two_apart = tree_of(s, {21, 11}); // 21 (LH) over 11 (LH) over 6
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
    tarn_head h = tree_of(s, {55});
    s.node(55)->balance = TARN_BAL_LH;
    EXPECT_EQ(tarn_insert(&h, s.node(45)), 1);
    EXPECT_TRUE(h.root == s.node(55) && s.node(55)->left == s.node(45));
    EXPECT_EQ(s.node(55)->balance, uint32_t(TARN_BAL_LH));
}

// 21 (RH) over 11 and 41 (LH), 41 over 31. Removing 11 lifts 31 by a double
// rotation; with 31's code outside 0..2, 21 and 41 keep their codes.
TEST(DamagedTree, DoubleRotationKeepsCodesWhenTheLiftedCodeIsUnknown) {
    Sevens s;
    tarn_head h = tree_of(s, {21, 11, 41, 31});
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
    tarn_head h = tree_of(s, {11, 41});
    *s.node(21) = {TARN_BAL_EQ, 1, nullptr, nullptr, s.node(41)};
    s.node(41)->left = s.node(21);
    *s.node(16) = {TARN_BAL_EQ, 1, nullptr, nullptr, s.node(21)};
    if (with_16) s.node(21)->left = s.node(16);
    return tarn_insert(&h, s.node(25));
}

TEST(DamagedTreeDeathTest, InsertionAbortsWhenDamageLeavesAnUnbalancedLeaf) {
    EXPECT_EQ(insert_into_damaged_tree(true), 1);
    EXPECT_DEATH(insert_into_damaged_tree(false), "");
}

TEST(Descriptor, ZeroLengthKeysAllCompareEqual) {
    Sevens s;
    tarn_head h{};
    tarn_init(&h, 0, 0, nullptr, nullptr);
    EXPECT_TRUE(tarn_insert(&h, s.node(1)) == 1 && tarn_insert(&h, s.node(2)) == 0);
    EXPECT_EQ(tarn_lookup(&h, nullptr), s.node(1));
}

} // namespace
