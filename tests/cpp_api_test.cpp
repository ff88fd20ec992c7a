// What tarn.hpp adds over the C calls: the descriptor it sets up from the
// members, its queries and iterators against a sorted model under two
// orders, the scans that yield, and moving a tree. C++17 and up.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <vector>

#include "tarn.hpp"
#include "tree_check.hpp"

namespace {

struct Flow { // byte-wise 16-byte keys, node away from offset 0
    uint64_t value;
    tarn_node link;
    uint8_t addr[16];
};
using FlowTree = tarn::tree<Flow, &Flow::link, &Flow::addr>;

struct Job { // numeric order of a native integer, which bytes would get wrong
    tarn_node link;
    uint32_t pad;
    uint32_t id;
};
using JobTree = tarn::tree<Job, &Job::link, &Job::id, tarn::order_by<uint32_t>>;

static_assert(sizeof(FlowTree) == sizeof(tarn_head));
static_assert(std::is_same_v<std::iterator_traits<FlowTree::iterator>::iterator_category,
                             std::forward_iterator_tag>);
static_assert(!std::is_copy_constructible_v<FlowTree> && !std::is_move_assignable_v<FlowTree>);
static_assert(std::is_nothrow_move_constructible_v<FlowTree>);

// Each tree with the value -> key mapping that makes its order uint32_t's.
struct FlowKind {
    using Tree = FlowTree;
    using Record = Flow;
    static void set_key(Flow &f, uint32_t v) {
        for (int i = 0; i < 16; i++) f.addr[15 - i] = i < 4 ? uint8_t(v >> (8 * i)) : 0;
    }
    static auto &key(Flow &f) { return f.addr; }
};
struct JobKind {
    using Tree = JobTree;
    using Record = Job;
    static void set_key(Job &j, uint32_t v) { j.id = v; }
    static auto &key(Job &j) { return j.id; }
};

template <class Kind>
class CppModel : public ::testing::Test {};
using Kinds = ::testing::Types<FlowKind, JobKind>;
TYPED_TEST_SUITE(CppModel, Kinds);

TYPED_TEST(CppModel, EveryQueryAgreesWithASortedModel) {
    using Kind = TypeParam;
    using Record = typename Kind::Record;
    constexpr uint32_t kValues = 300; // value 300 is a probe beyond every record
    std::vector<Record> pool(kValues + 1);
    for (uint32_t v = 0; v <= kValues; v++) Kind::set_key(pool[v], v);
    typename Kind::Tree tree;
    EXPECT_EQ(tree.head()->node_offset, offsetof(Record, link));
    EXPECT_EQ(tree.head()->key_length, sizeof Kind::key(pool[0]));
    std::set<uint32_t> model;
    std::mt19937 rng(7);
    auto value = [&](const Record *r) { return r ? uint32_t(r - pool.data()) : UINT32_MAX; };
    auto at = [&](auto it) { return it == model.end() ? UINT32_MAX : *it; };
    auto before = [&](auto it) { return it == model.begin() ? UINT32_MAX : *std::prev(it); };
    for (int step = 0; step < 2000; step++) {
        uint32_t v = rng() % kValues;
        if (rng() % 3 == 0) {
            tree.erase(pool[v]);
            model.erase(v);
        } else if (!model.count(v)) { // a linked record must not be inserted again
            EXPECT_TRUE(tree.insert(pool[v]));
            model.insert(v);
        }
        ASSERT_EQ(tree.size(), model.size());
        ASSERT_EQ(tree.empty(), model.empty());
        if (step % 40) continue;
        ASSERT_EQ(tarn_check::tree_problem(*tree.head(), true), "");
        uint32_t p = rng() % (kValues + 1), q = rng() % (kValues + 1);
        auto &key = Kind::key(pool[p]);
        auto ge = model.lower_bound(p), gt = model.upper_bound(p);
        EXPECT_EQ(value(tree.find(key)), model.count(p) ? p : UINT32_MAX);
        EXPECT_EQ(tree.contains(key), model.count(p) == 1);
        EXPECT_EQ(value(tree.ceiling(key)), at(ge));
        EXPECT_EQ(value(tree.next_after(key)), at(gt));
        EXPECT_EQ(value(tree.floor(key)), before(gt));
        EXPECT_EQ(value(tree.prev_before(key)), before(ge));
        EXPECT_EQ(value(tree.first()), at(model.begin()));
        std::vector<uint32_t> all, in_range;
        for (Record &r : tree) all.push_back(value(&r));
        EXPECT_TRUE(std::equal(all.begin(), all.end(), model.begin(), model.end()));
        auto [lo, hi] = std::minmax(p, q);
        for (Record &r : tree.range(Kind::key(pool[lo]), Kind::key(pool[hi])))
            in_range.push_back(value(&r));
        EXPECT_EQ(in_range, std::vector<uint32_t>(model.lower_bound(lo), model.upper_bound(hi)));
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

TEST_F(SmallTen, ScansResumeAfterTheTreeChangedAndRangesAreInclusive) {
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
    std::vector<int> keys;
    while (Small *s = scan.prev()) keys.push_back(s->key);
    EXPECT_EQ(keys, (std::vector<int>{30, 25, 15, 10}));
    range.seek(25);
    EXPECT_EQ(key(range.next()), 30);
    EXPECT_EQ(tree.scan(16, 18).first(), nullptr);
    keys.clear();
    for (Small &s : tree.range(uint8_t(10), uint8_t(15))) keys.push_back(s.key); // copied bounds
    EXPECT_EQ(keys, (std::vector<int>{10, 15}));
    EXPECT_TRUE(tree.range(16, 18).empty() && tree.range(20, 15).empty());
}

TEST_F(SmallTen, RefusedInsertsMovesAndSwaps) {
    Small twin{{TARN_BAL_LH, 1, nullptr, nullptr, nullptr}, 20};
    EXPECT_FALSE(tree.insert(twin));
    EXPECT_EQ(twin.node.in_tree, 0u) << "insert zeroes the node first";
    EXPECT_EQ(SmallTree::record_of(SmallTree::node_of(twin)), &twin);
    EXPECT_EQ(SmallTree::record_of(nullptr), nullptr);
    SmallTree moved(std::move(tree));
    EXPECT_TRUE(tree.empty() && tree.size() == 0);
    EXPECT_EQ(moved.find(30), &recs[30]);
    EXPECT_TRUE(tree.insert(recs[40])); // the old tree is ready for use
    swap(tree, moved);
    EXPECT_EQ(tree.size(), 3u);
    EXPECT_EQ(moved.first(), &recs[40]);
    EXPECT_EQ(tarn_check::tree_problem(*tree.head(), true), "");
}

} // namespace
