// What tarn.hpp adds over the C calls: the descriptor it sets up from the
// members and the order, members that answer as their C calls, iterators and
// range views in key order, scans that yield, moving and clearing a tree.
// Built as C++17 and as C++20.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "tarn.hpp"

namespace {

struct Job { // numeric order of a native integer, which bytes would get wrong
    tarn_node link;
    uint32_t pad;
    uint32_t id;
};
using JobTree = tarn::tree<Job, &Job::link, &Job::id, tarn::order_by<uint32_t>>;
struct Flow { // byte-wise array keys, node away from offset 0
    uint64_t value;
    tarn_node link;
    uint8_t port[2];
};
using FlowTree = tarn::tree<Flow, &Flow::link, &Flow::port>;

static_assert(sizeof(FlowTree) == sizeof(tarn_head));
static_assert(!std::is_copy_constructible_v<FlowTree> && !std::is_move_assignable_v<FlowTree>);
static_assert(std::is_same_v<std::iterator_traits<FlowTree::iterator>::iterator_category,
                             std::forward_iterator_tag>);

// Values 0..300, every third linked in a scrambled order; each member that
// takes a key answers as its C call, and iteration and ranges give the
// linked values in order.
template <class Tree, class Set, class Key>
void members_answer_as_their_c_calls(Set set, Key key) {
    std::vector<typename Tree::record_type> recs(301);
    Tree tree;
    const tarn_head *h = tree.head();
    EXPECT_EQ(h->key_length, sizeof key(recs[0]));
    for (uint32_t v = 0; v <= 300; v++) set(recs[v], v);
    for (uint32_t i = 0; i < 100; i++) EXPECT_TRUE(tree.insert(recs[i * 37 % 100 * 3]));
    auto as_record = [](tarn_node *n) { return Tree::record_of(n); };
    for (uint32_t v = 0; v <= 300; v++) {
        const auto &k = key(recs[v]);
        EXPECT_EQ(tree.find(k), v % 3 || v == 300 ? nullptr : &recs[v]);
        EXPECT_EQ(tree.contains(k), tree.find(k) != nullptr);
        EXPECT_EQ(tree.floor(k), as_record(tarn_lookup_le(h, &k)));
        EXPECT_EQ(tree.ceiling(k), as_record(tarn_lookup_ge(h, &k)));
        EXPECT_EQ(tree.next_after(k), as_record(tarn_get_next_node_from_key(h, &k)));
        EXPECT_EQ(tree.prev_before(k), as_record(tarn_get_previous_node_from_key(h, &k)));
    }
    std::vector<const void *> all, want, in_range;
    for (auto &r : tree) all.push_back(&r);
    for (uint32_t v = 0; v < 300; v += 3) want.push_back(&recs[v]);
    EXPECT_EQ(all, want);
    for (auto &r : tree.range(key(recs[100]), key(recs[110]))) in_range.push_back(&r);
    EXPECT_EQ(in_range, std::vector<const void *>(&want[34], &want[37]));
    EXPECT_EQ(tree.first(), &recs[0]);
    EXPECT_EQ(tree.size(), 100u);
}

TEST(CppTree, MembersAnswerAsTheirCCalls) {
    members_answer_as_their_c_calls<JobTree>([](Job &j, uint32_t v) { j.id = v; },
                                             [](Job & j) -> auto & { return j.id; });
    members_answer_as_their_c_calls<FlowTree>(
        [](Flow &f, uint32_t v) { f.port[0] = uint8_t(v >> 8), f.port[1] = uint8_t(v); },
        [](Flow & f) -> auto & { return f.port; });
}

int g_comparisons;
struct CountingOrder {
    static uint32_t compare(const void *tree_side, const void *probe) noexcept {
        return g_comparisons++, tarn::order_by<uint32_t>::compare(tree_side, probe);
    }
};

// Every record handed over once, unlinked, with no comparison; the disposer
// frees heap records, so a later touch shows under ASan and valgrind.
TEST(CppTree, ClearDisposesEveryRecordOnceUnlinked) {
    for (uint32_t n : {0u, 1u, 2u, 3u, 1000u}) {
        tarn::tree<Job, &Job::link, &Job::id, CountingOrder> tree;
        std::set<Job *> linked;
        for (uint32_t i = 0; i < n; i++) // distinct keys, scrambled
            tree.insert(**linked.insert(new Job{{}, 0, i * 2654435761u}).first);
        g_comparisons = 0;
        tree.clear_and_dispose([&](Job &j) {
            tarn_node &l = j.link;
            EXPECT_TRUE(linked.erase(&j) && !l.in_tree && !l.left && !l.right && !l.parent);
            delete &j;
        });
        EXPECT_TRUE(linked.empty() && g_comparisons == 0 && tree.empty() && tree.size() == 0);
        Job again{{}, 0, 1};
        EXPECT_TRUE(tree.insert(again)); // the tree is ready for use
        tree.clear();
        EXPECT_TRUE(again.link.in_tree == 0 && tree.empty() && tree.size() == 0);
    }
}

struct Small {
    tarn_node node;
    uint8_t key;
};
using SmallTree = tarn::tree<Small, &Small::node, &Small::key>;

struct SmallTen : ::testing::Test { // keys 10, 20, 30 linked
    Small recs[256];
    SmallTree tree;
    SmallTen() {
        for (int i = 0; i < 256; i++) recs[i].key = uint8_t(i);
        for (int k : {10, 20, 30}) tree.insert(recs[k]);
    }
    static int key(const Small *s) { return s ? s->key : -1; }
};

TEST_F(SmallTen, ScansResumeAfterTheTreeChanged) {
    auto scan = tree.scan();
    auto range = tree.scan(10, 30);
    EXPECT_EQ(key(scan.first()) + key(range.first()), 20);
    EXPECT_EQ(key(scan.next()) + key(range.next()), 40);
    scan.yield();
    range.yield();
    EXPECT_EQ(scan.current(), nullptr);
    tree.erase(recs[20]);
    tree.insert(recs[25]);
    tree.insert(recs[15]); // behind the cursors: not visited
    EXPECT_EQ(key(scan.next()) + key(range.next()), 50);
    EXPECT_EQ(key(range.current()), 25);
    EXPECT_EQ(key(scan.next()), 30);
    EXPECT_EQ(scan.next(), nullptr);
    EXPECT_EQ(key(scan.next()), 25) << "the end is not remembered: 20 was saved";
    scan.seek(35);
    EXPECT_EQ(key(scan.prev()), 30);
    range.seek(25);
    EXPECT_EQ(key(range.next()), 30);
    EXPECT_EQ(tree.scan(16, 18).first(), nullptr);
    EXPECT_TRUE(tree.range(16, 18).empty() && tree.range(20, 15).empty());
}

TEST_F(SmallTen, RefusedInsertsMovesAndSwaps) {
    Small twin{{TARN_BAL_LH, 1, nullptr, nullptr, nullptr}, 20};
#ifdef TARN_CHECKED
    twin.node.in_tree = 0; // the checked library aborts on a node reading in_tree 1
#endif
    EXPECT_FALSE(tree.insert(twin));
    EXPECT_EQ(twin.node.in_tree, 0u) << "insert zeroes the node first";
    EXPECT_EQ(SmallTree::record_of(SmallTree::node_of(twin)), &twin);
    EXPECT_EQ(SmallTree::record_of(nullptr), nullptr);
    SmallTree moved(std::move(tree));
    EXPECT_TRUE(tree.empty() && tree.size() == 0);
    EXPECT_TRUE(tree.insert(recs[40])); // the old tree is ready for use
    swap(tree, moved);
    EXPECT_EQ(tree.size(), 3u);
    EXPECT_EQ(tree.find(30), &recs[30]);
    EXPECT_EQ(moved.first(), &recs[40]);
    EXPECT_EQ(tarn_verify_balance_factors(tree.head()), 1);
}

} // namespace
