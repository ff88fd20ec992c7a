// Descriptor set-up, insertion and removal: the named shapes, replicas,
// duplicates, out-of-contract codes and the integrity abort. Random changes
// against a model run in the differential harness (fuzz/).
#include "support.hpp"

using namespace tarn_test;

namespace {

struct Tiny { // one-byte key right after the node
    tarn_node node;
    uint8_t key;
};

struct TinyTree {
    tarn_head head{};
    Tiny recs[256]{};
    TinyTree() {
        tarn_init(&head, 1, offsetof(Tiny, key), nullptr, nullptr);
        for (int i = 0; i < 256; i++) recs[i].key = uint8_t(i);
    }
    tarn_node *node(int key) { return &recs[key].node; }
    int key_of(const tarn_node *n) { return n ? reinterpret_cast<const Tiny *>(n)->key : -1; }
    void insert_all(std::initializer_list<int> keys) {
        for (int k : keys) ASSERT_EQ(tarn_insert(&head, node(k)), 1) << k;
    }
};

TEST(Descriptor, InitAcceptsKeyLengthsUpToTheCursorBuffer) {
#ifdef TARN_CHECKED
    GTEST_SKIP() << "the checked library marks set-up in flags";
#endif
    struct Case {
        uint64_t length;
        int32_t result;
    } cases[] = {{0, 1}, {140, 1}, {141, 0}, {UINT64_MAX, 0}};
    for (const Case &c : cases) {
        tarn_head head;
        std::memset(&head, 0x5A, sizeof head);
        head.root = nullptr;
        tarn_head before = head;
        EXPECT_EQ(tarn_init(&head, c.length, 3, nullptr, nullptr), c.result) << c.length;
        if (c.result == 0)
            EXPECT_EQ(std::memcmp(&head, &before, sizeof head), 0);
        else
            EXPECT_EQ(head.count | head.flags | uintptr_t(head.origin), 0u);
    }
}

TEST(Descriptor, ReinitialisingAPopulatedTreeKeepsItsNodes) {
#ifdef TARN_CHECKED
    GTEST_SKIP() << "the checked library marks set-up in flags";
#endif
    TinyTree t;
    t.insert_all({1, 2, 3});
    t.head.flags = 0x80; // a caller's bit, kept as is
    ASSERT_EQ(tarn_init_new(&t.head, 0, 1, offsetof(Tiny, key), compare_le32, nullptr), 1);
    EXPECT_EQ(t.head.count, 3u);
    EXPECT_EQ(t.head.flags, 0x80u);
    EXPECT_EQ(t.head.compare, compare_le32);
    EXPECT_EQ(t.key_of(t.head.root), 2);
}

TEST(Descriptor, ZeroLengthKeysAllCompareEqual) {
    TinyTree t;
    tarn_init(&t.head, 0, 0, nullptr, nullptr);
    EXPECT_EQ(tarn_insert(&t.head, t.node(1)), 1);
    EXPECT_EQ(tarn_insert(&t.head, t.node(2)), 0);
    EXPECT_EQ(tarn_lookup(&t.head, nullptr), t.node(1));
}

TEST(Descriptor, ReplicaReadsThePrimarysLiveTree) {
    TinyTree t;
    tarn_head replica, untouched;
    std::memset(&untouched, 0x33, sizeof untouched);
    replica = untouched;
    tarn_replicate_head_node(nullptr, &replica, nullptr);
    tarn_replicate_head_node(&t.head, nullptr, nullptr);
    EXPECT_EQ(std::memcmp(&replica, &untouched, sizeof replica), 0);

    t.insert_all({5});
    tarn_replicate_head_node(&t.head, &replica, compare_le32);
    EXPECT_EQ(replica.origin, &t.head);
    EXPECT_EQ(replica.flags & TARN_HEAD_REPLICA, 1u);
    EXPECT_EQ(replica.compare, compare_le32);
    EXPECT_EQ(replica.key_offset, t.head.key_offset);
    tarn_delete(&t.head, t.node(5));
    EXPECT_EQ(tarn_is_empty(&replica), 1);
    EXPECT_EQ(replica.count, 1u) << "a replica's count is a snapshot";
    t.insert_all({6});
    EXPECT_EQ(tarn_is_empty(&replica), 0);
    replica.origin = nullptr;
    EXPECT_EQ(tarn_is_empty(&replica), 1);
    tarn_replicate_head_node(&t.head, &t.head, nullptr); // onto itself: no overlapping copy
    EXPECT_EQ(t.head.origin, &t.head);
    EXPECT_EQ(tarn_is_empty(&t.head), 0);
    EXPECT_EQ(tarn_is_empty(nullptr), 1);
}

// Every insertion order of three keys needs its own rotation (or none) and
// ends in the same perfect tree.
TEST(Insert, EachRotationEndsInThePerfectTree) {
    const std::vector<std::vector<int>> orders = {{1, 2, 3}, {3, 2, 1}, {1, 3, 2},
                                                  {3, 1, 2}, {2, 1, 3}, {2, 3, 1}};
    for (const auto &order : orders) {
        TinyTree t;
        for (int k : order) ASSERT_EQ(tarn_insert(&t.head, t.node(k)), 1);
        EXPECT_EQ(t.key_of(t.head.root), 2);
        EXPECT_EQ(t.head.root->parent, nullptr);
        for (int k : {1, 2, 3}) EXPECT_EQ(t.node(k)->balance, uint32_t(TARN_BAL_EQ));
        EXPECT_TRUE(tree_is_sound(t.head));
    }
}

TEST(Insert, AscendingSevenKeysBuildAPerfectTree) {
    TinyTree t;
    for (int k = 1; k <= 7; k++) {
        ASSERT_EQ(tarn_insert(&t.head, t.node(k)), 1);
        ASSERT_EQ(tarn_verify_balance_factors(&t.head), 1);
    }
    EXPECT_EQ(t.key_of(t.head.root), 4);
    for (int k = 1; k <= 7; k++) EXPECT_EQ(t.node(k)->balance, uint32_t(TARN_BAL_EQ));
}

TEST(Insert, DuplicateIsRefusedAndLeftUnlinked) {
    TinyTree t;
    t.insert_all({1, 2});
    Tiny twin{};
    std::memset(&twin.node, 0xFF, sizeof twin.node);
    twin.key = 2;
    EXPECT_EQ(tarn_insert(&t.head, &twin.node), 0);
    EXPECT_EQ(t.head.count, 2u);
    EXPECT_EQ(twin.node.in_tree, 0u);
    EXPECT_EQ(twin.node.parent, nullptr);
    tarn_delete(&t.head, &twin.node);
    EXPECT_EQ(t.head.count, 2u);
}

uint32_t always(const void *, const void *) { return 5; }

TEST(Insert, OutOfContractCodesDescendRight) {
    TinyTree t;
    tarn_init(&t.head, 1, offsetof(Tiny, key), always, nullptr);
    for (int k = 0; k < 50; k++) ASSERT_EQ(tarn_insert(&t.head, t.node(k)), 1);
    // Every node went right of all before it: insertion order is key order.
    auto order = in_order(t.head);
    ASSERT_EQ(order.size(), 50u);
    for (int k = 0; k < 50; k++) EXPECT_EQ(order[k], t.node(k));
    EXPECT_EQ(tarn_verify_balance_factors(&t.head), 1);
}

// 10 (RH) -> 40, whose left child 20 was linked by hand with 40 left EQ.
// Inserting 25 lifts 20 over a leaf 10 marked LH: only damage gets there.
void insert_into_damaged_tree() {
    TinyTree t;
    t.insert_all({10, 40});
    tarn_node *n20 = t.node(20);
    *n20 = tarn_node{TARN_BAL_EQ, 1, nullptr, nullptr, t.node(40)};
    t.node(40)->left = n20;
    tarn_insert(&t.head, t.node(25));
}

TEST(InsertDeathTest, DamagedBalanceCodesAbort) { EXPECT_DEATH(insert_into_damaged_tree(), ""); }

TEST(Remove, NamedShapes) {
    TinyTree t;
    t.insert_all({2, 1, 3});
    tarn_delete(&t.head, t.node(2));
    EXPECT_EQ(t.key_of(t.head.root), 3);
    EXPECT_EQ(t.node(3)->left, t.node(1));
    EXPECT_EQ(t.node(3)->balance, uint32_t(TARN_BAL_LH));
    EXPECT_EQ(t.node(1)->parent, t.node(3));
    EXPECT_EQ(t.node(2)->in_tree, 0u);
    EXPECT_EQ(t.node(2)->left, nullptr);
    EXPECT_EQ(t.node(2)->right, nullptr);
    EXPECT_EQ(t.node(2)->parent, nullptr);
    EXPECT_TRUE(tree_is_sound(t.head));

    tarn_delete(&t.head, t.node(2)); // twice: nothing
    EXPECT_EQ(t.head.count, 2u);
    tarn_delete(&t.head, t.node(3));
    tarn_delete(&t.head, t.node(1));
    EXPECT_EQ(t.head.root, nullptr);
    EXPECT_EQ(t.head.count, 0u);
}

} // namespace
