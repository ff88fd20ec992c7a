// Rare paths: every byte-wise key length against memcmp, and the documented
// answers of insertion, removal and verification on trees damaged by hand.
#include <algorithm>
#include <random>

#include "support.hpp"

using namespace tarn_test;

namespace {

// A record with room for the longest key.
struct Wide {
    tarn_node node;
    uint8_t key[TARN_MAX_KEY_LEN];
};

// Byte-wise keys of each length order exactly as memcmp: the fast paths
// (1, 2, 4, 8, 16 bytes) and memcmp itself. Keys share long prefixes so
// that late bytes, and both halves of 16-byte keys, decide.
TEST(ByteWiseKeys, EveryLengthOrdersAsMemcmp) {
    for (size_t length : {1, 2, 3, 4, 5, 8, 9, 16, 17, 140}) {
        SCOPED_TRACE(length);
        std::mt19937 rng{uint32_t(length)};
        std::vector<Wide> pool(200);
        tarn_head head{};
        ASSERT_EQ(tarn_init(&head, length, offsetof(Wide, key), nullptr, nullptr), 1);
        auto less = [length](const Wide *a, const Wide *b) {
            return std::memcmp(a->key, b->key, length) < 0;
        };
        std::vector<Wide *> linked;
        for (Wide &w : pool) {
            for (size_t i = 0; i < length; i++) w.key[i] = rng() % 4 ? 0 : uint8_t(rng());
            bool fresh = std::none_of(linked.begin(), linked.end(), [&](Wide *o) {
                return std::memcmp(o->key, w.key, length) == 0;
            });
            ASSERT_EQ(tarn_insert(&head, &w.node), fresh ? 1 : 0);
            if (fresh) linked.push_back(&w);
        }
        ASSERT_TRUE(tree_is_sound(head));
        std::sort(linked.begin(), linked.end(), less);
        std::vector<tarn_node *> order = in_order(head);
        ASSERT_EQ(order.size(), linked.size());
        for (size_t i = 0; i < order.size(); i++) EXPECT_EQ(order[i], &linked[i]->node);
        // Floor and ceiling of every unlinked key against the sorted list.
        for (Wide &w : pool) {
            if (w.node.in_tree) continue;
            auto at = std::lower_bound(linked.begin(), linked.end(), &w, less);
            tarn_node *ge = at == linked.end() ? nullptr : &(*at)->node;
            EXPECT_EQ(tarn_lookup_ge(&head, w.key), ge);
        }
    }
}

struct Small {
    tarn_head head{};
    Wide recs[100];
    Small() {
        tarn_init(&head, 1, offsetof(Wide, key), nullptr, nullptr);
        for (int i = 0; i < 100; i++) recs[i].key[0] = uint8_t(i);
    }
    tarn_node *node(int k) { return &recs[k].node; }
    void insert_all(std::initializer_list<int> keys) {
        for (int k : keys) ASSERT_EQ(tarn_insert(&head, node(k)), 1) << k;
    }
};

// A root marked left-heavy with no left child: the new left child finds its
// parent already heavy on its side, yet is a leaf. Insertion changes nothing
// more and still succeeds.
TEST(DamagedTree, InsertBesideAFalselyHeavyNodeStillLinks) {
    Small t;
    t.insert_all({50});
    t.node(50)->balance = TARN_BAL_LH;
    EXPECT_EQ(tarn_insert(&t.head, t.node(40)), 1);
    EXPECT_EQ(t.head.root, t.node(50));
    EXPECT_EQ(t.node(50)->left, t.node(40));
    EXPECT_EQ(t.node(50)->balance, uint32_t(TARN_BAL_LH));
    EXPECT_EQ(t.head.count, 2u);
}

// 20 (RH) over 10 and 40 (LH), 40 over 30. Removing 10 needs a double
// rotation lifting 30; with 30's code outside 0..2 the balance tables are
// not read and 20 and 40 keep their codes.
TEST(DamagedTree, DoubleRotationKeepsCodesWhenTheLiftedCodeIsUnknown) {
    Small t;
    t.insert_all({20, 10, 40, 30});
    ASSERT_EQ(t.node(40)->balance, uint32_t(TARN_BAL_LH));
    t.node(30)->balance = 3;
    tarn_delete(&t.head, t.node(10));
    EXPECT_EQ(t.head.root, t.node(30));
    EXPECT_EQ(t.node(30)->left, t.node(20));
    EXPECT_EQ(t.node(30)->right, t.node(40));
    EXPECT_EQ(t.node(30)->balance, uint32_t(TARN_BAL_EQ));
    EXPECT_EQ(t.node(20)->balance, uint32_t(TARN_BAL_RH));
    EXPECT_EQ(t.node(40)->balance, uint32_t(TARN_BAL_LH));
    EXPECT_EQ(tarn_verify_balance_factors(&t.head), 0);
}

} // namespace
