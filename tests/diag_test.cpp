// Walks, the print's exact text, and verification of hand-broken trees.
#include <cstdio>

#include "support.hpp"

using namespace tarn_test;

namespace {

struct Small { // keys 10, 20, 30: 20 at the root
    ModelTree t{Mode::Bytes1, 256};
    Small() {
        for (uint32_t v : {20, 10, 30}) t.insert(v);
    }
    tarn_node *node(uint32_t v) { return &t.rec(v).node; }
};

struct Visits {
    std::vector<uint32_t> values;
    std::vector<tarn_head *> heads;
    size_t stop_after = SIZE_MAX;
    bool remove_visited = false;
};

int32_t record_visit(tarn_head *head, tarn_node *n, void *ctx) {
    auto *v = static_cast<Visits *>(ctx);
    v->values.push_back(uint32_t(rec_of(n)->payload));
    v->heads.push_back(head);
    if (v->remove_visited) tarn_delete(head, n);
    return v->values.size() >= v->stop_after ? 0 : 1;
}

TEST(Walk, NothingToVisitReturnsOne) {
    ModelTree empty(Mode::Bytes1, 1);
    tarn_head orphan = empty.head;
    orphan.flags |= TARN_HEAD_REPLICA;
    Visits v;
    for (tarn_head *h : {&empty.head, &orphan}) {
        EXPECT_EQ(tarn_walk_tree(h, &v, record_visit), 1);
        tarn_walk_tree_v2(h, TARN_WALK_INORDER, &v, record_visit);
        EXPECT_EQ(tarn_verify_balance_factors(h), 1);
    }
    EXPECT_TRUE(v.values.empty());
}

TEST(Walk, VisitorThatRemovesItsNodeEndsTheWalk) {
    Small s;
    Visits v;
    v.remove_visited = true;
    EXPECT_EQ(tarn_walk_tree(&s.t.head, &v, record_visit), 1);
    EXPECT_EQ(v.values, (std::vector<uint32_t>{10}));
    EXPECT_EQ(s.t.head.count, 2u);
}

TEST(Walk, ReplicaPassesItselfAndWalksThePrimary) {
    Small s;
    tarn_head replica;
    tarn_replicate_head_node(&s.t.head, &replica, nullptr);
    s.t.insert(40);
    Visits v;
    tarn_walk_tree(&replica, &v, record_visit);
    EXPECT_EQ(v.values, (std::vector<uint32_t>{10, 20, 30, 40}));
    EXPECT_EQ(v.heads[0], &replica);
}

TEST(Walk, OrdersOfTheRecursiveWalk) {
    struct Case {
        uint32_t order;
        std::vector<uint32_t> visits;
    } cases[] = {
        {TARN_WALK_PREORDER, {20, 10, 30}},
        {TARN_WALK_INORDER, {10, 20, 30}},
        {TARN_WALK_POSTORDER, {10, 30, 20}},
        {3, {}},
    };
    Small s;
    for (const Case &c : cases) {
        Visits v;
        v.stop_after = 1; // results are ignored
        tarn_walk_tree_v2(&s.t.head, c.order, &v, record_visit);
        EXPECT_EQ(v.values, c.visits) << "order " << c.order;
        tarn_walk_tree_v2(&s.t.head, c.order, nullptr, nullptr);
    }
}

std::string block(tarn_node *n, int depth, const char *balance) {
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "\nAVL node %p, depth %d, balance factor: %s\nleft %p, right %p, parent %p\n",
                  static_cast<void *>(n), depth, balance, static_cast<void *>(n->left),
                  static_cast<void *>(n->right), static_cast<void *>(n->parent));
    return buf;
}

std::vector<tarn_node *> hooked;
void hook(tarn_node *n) {
    hooked.push_back(n);
    std::printf("<hook>");
}

TEST(Print, ExactTextInEachOrder) {
    Small s;
    tarn_node *n10 = s.node(10), *n20 = s.node(20), *n30 = s.node(30);
    struct Case {
        uint32_t order;
        std::string text;
    } cases[] = {
        {TARN_WALK_PREORDER, block(n20, 1, "EQ") + "<hook>" + block(n10, 2, "EQ") + "<hook>" +
                                 block(n30, 2, "EQ") + "<hook>"},
        {TARN_WALK_INORDER, block(n10, 2, "EQ") + "<hook>" + block(n20, 1, "EQ") + "<hook>" +
                                block(n30, 2, "EQ") + "<hook>"},
        {TARN_WALK_POSTORDER, block(n10, 2, "EQ") + "<hook>" + block(n30, 2, "EQ") + "<hook>" +
                                  block(n20, 1, "EQ") + "<hook>"},
        {7, ""},
    };
    for (const Case &c : cases) {
        hooked.clear();
        ::testing::internal::CaptureStdout();
        tarn_print_tree(&s.t.head, c.order, hook);
        std::fflush(stdout);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), c.text) << "order " << c.order;
        EXPECT_EQ(hooked.size(), c.text.empty() ? 0u : 3u);
    }
}

TEST(Print, BalanceNamesAndNullLinks) {
    ModelTree t(Mode::Bytes1, 256);
    t.insert(1);
    tarn_node *n = &t.rec(1).node;
    for (auto [code, name] : {std::pair{0u, "EQ"}, {1u, "RH"}, {2u, "LH"}, {3u, "EQ"}}) {
        n->balance = code;
        ::testing::internal::CaptureStdout();
        tarn_print_tree(&t.head, TARN_WALK_INORDER, nullptr);
        std::fflush(stdout);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), block(n, 1, name));
    }
    ::testing::internal::CaptureStdout();
    tarn_print_tree(nullptr, TARN_WALK_INORDER, hook);
    std::fflush(stdout);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

// Each breakage of a sound tree must be caught.
TEST(Verify, CatchesHandBrokenTrees) {
    struct Case {
        const char *what;
        std::vector<uint32_t> keys;
        std::function<void(ModelTree &)> damage;
    };
    auto n = [](ModelTree &t, uint32_t v) { return &t.rec(v).node; };
    const Case cases[] = {
        {"leaf marked RH", {20, 10, 30}, [&](ModelTree &t) { n(t, 10)->balance = TARN_BAL_RH; }},
        {"leaf marked LH", {20, 10, 30}, [&](ModelTree &t) { n(t, 30)->balance = TARN_BAL_LH; }},
        {"leaf marked 3", {20}, [&](ModelTree &t) { n(t, 20)->balance = 3; }},
        {"LH changed to EQ",
         {20, 10, 30, 5},
         [&](ModelTree &t) { n(t, 20)->balance = TARN_BAL_EQ; }},
        {"heights 2 and 0 marked LH",
         {20, 10},
         [&](ModelTree &t) {
             tarn_node *five = n(t, 5);
             *five = tarn_node{TARN_BAL_EQ, 1, nullptr, nullptr, n(t, 10)};
             n(t, 10)->left = five;
             n(t, 10)->balance = TARN_BAL_LH;
         }},
        {"cycle of links", {20, 10, 30}, [&](ModelTree &t) { n(t, 10)->left = n(t, 20); }},
    };
    for (const Case &c : cases) {
        ModelTree t(Mode::Bytes1, 256);
        for (uint32_t v : c.keys) t.insert(v);
        ASSERT_EQ(tarn_verify_balance_factors(&t.head), 1) << c.what;
        c.damage(t);
        EXPECT_EQ(tarn_verify_balance_factors(&t.head), 0) << c.what;
    }
}

} // namespace
