// The typed C++ interface: how it sets up the descriptor, a randomized run
// of every query against a sorted model under two orders, and the cursor
// behaviour it passes through unchanged.
#include <algorithm>
#include <random>
#include <ranges>
#include <set>
#include <vector>

#include "support.hpp"
#include "tarn.hpp"

using tarn_test::tree_is_sound;

namespace {

// Byte-wise 16-byte keys, node away from offset 0.
struct Flow {
    uint64_t value;
    tarn_node link;
    uint8_t addr[16];
};
using FlowTree = tarn::tree<Flow, &Flow::link, &Flow::addr>;

// Numeric order of a native integer, which byte-wise order would get wrong.
struct Job {
    tarn_node link;
    uint32_t pad;
    uint32_t id;
};
using JobTree = tarn::tree<Job, &Job::link, &Job::id, tarn::order_by<uint32_t>>;

static_assert(sizeof(FlowTree) == sizeof(tarn_head));
#if defined(__cpp_lib_ranges)
static_assert(std::forward_iterator<FlowTree::iterator>);
static_assert(std::ranges::forward_range<const FlowTree>);
static_assert(std::ranges::forward_range<FlowTree::range_view>);
#endif
static_assert(!std::is_copy_constructible_v<FlowTree> && !std::is_move_assignable_v<FlowTree>);
static_assert(std::is_nothrow_move_constructible_v<FlowTree>);

// Each order with the value <-> key mapping that makes it agree with uint32_t.
struct FlowKind {
    using Tree = FlowTree;
    using Record = Flow;
    static void set_key(Flow &f, uint32_t v) {
        std::memset(f.addr, 0, sizeof f.addr);
        for (int i = 0; i < 4; i++) f.addr[15 - i] = uint8_t(v >> (8 * i));
    }
    static Tree::key_type &key(Flow &f) { return f.addr; }
};
struct JobKind {
    using Tree = JobTree;
    using Record = Job;
    static void set_key(Job &j, uint32_t v) { j.id = v; }
    static uint32_t &key(Job &j) { return j.id; }
};

TEST(CppTree, DescriptorCarriesTheMembersAndTheOrder) {
    FlowTree flows;
    EXPECT_EQ(flows.head()->node_offset, offsetof(Flow, link));
    EXPECT_EQ(flows.head()->key_offset, offsetof(Flow, addr));
    EXPECT_EQ(flows.head()->key_length, 16u);
    EXPECT_EQ(flows.head()->compare, nullptr);
    JobTree jobs;
    EXPECT_EQ(jobs.head()->node_offset, 0u);
    EXPECT_EQ(jobs.head()->key_offset, offsetof(Job, id));
    EXPECT_EQ(jobs.head()->key_length, 4u);
    EXPECT_EQ(jobs.head()->compare, &tarn::order_by<uint32_t>::compare);

    Flow f{};
    EXPECT_EQ(FlowTree::record_of(FlowTree::node_of(f)), &f);
    EXPECT_EQ(FlowTree::record_of(nullptr), nullptr);
}

template <class Kind>
class CppModel : public ::testing::Test {};
using Kinds = ::testing::Types<FlowKind, JobKind>;
TYPED_TEST_SUITE(CppModel, Kinds);

TYPED_TEST(CppModel, EveryQueryAgreesWithASortedModel) {
    using Kind = TypeParam;
    using Record = typename Kind::Record;
    constexpr uint32_t kValues = 300; // values 0..299 are linked, 300 is a probe beyond them
    std::vector<Record> pool(kValues + 1);
    for (uint32_t v = 0; v <= kValues; v++) Kind::set_key(pool[v], v);
    typename Kind::Tree tree;
    std::set<uint32_t> model;
    std::mt19937 rng(7);
    auto value_of = [&](const Record *r) { return r ? uint32_t(r - pool.data()) : UINT32_MAX; };
    // The model's answer at it, or just before it; UINT32_MAX for none.
    auto at = [&](auto it) { return it == model.end() ? UINT32_MAX : *it; };
    auto before = [&](auto it) { return it == model.begin() ? UINT32_MAX : *std::prev(it); };

    for (int step = 0; step < 3000; step++) {
        uint32_t v = rng() % kValues;
        if (rng() % 3) {
            if (model.count(v)) continue; // inserting a linked record would corrupt the tree
            EXPECT_TRUE(tree.insert(pool[v]));
            model.insert(v);
        } else {
            tree.erase(pool[v]);
            model.erase(v);
        }
        ASSERT_EQ(tree.size(), model.size());
        ASSERT_EQ(tree.empty(), model.empty());
        if (step % 50) continue;
        ASSERT_TRUE(tree_is_sound(*tree.head()));

        uint32_t p = rng() % (kValues + 1);
        auto &key = Kind::key(pool[p]);
        auto ge = model.lower_bound(p), gt = model.upper_bound(p);
        EXPECT_EQ(value_of(tree.find(key)), model.count(p) ? p : UINT32_MAX);
        EXPECT_EQ(tree.contains(key), model.count(p) == 1);
        EXPECT_EQ(value_of(tree.ceiling(key)), at(ge));
        EXPECT_EQ(value_of(tree.next_after(key)), at(gt));
        EXPECT_EQ(value_of(tree.floor(key)), before(gt));
        EXPECT_EQ(value_of(tree.prev_before(key)), before(ge));
        EXPECT_EQ(value_of(tree.first()), at(model.begin()));

        std::vector<uint32_t> all;
        for (Record &r : tree) all.push_back(value_of(&r));
        EXPECT_TRUE(std::equal(all.begin(), all.end(), model.begin(), model.end()));

        uint32_t q = rng() % (kValues + 1), lo = std::min(p, q), hi = std::max(p, q);
        std::vector<uint32_t> in_range, expected(model.lower_bound(lo), model.upper_bound(hi));
        for (Record &r : tree.range(Kind::key(pool[lo]), Kind::key(pool[hi])))
            in_range.push_back(value_of(&r));
        EXPECT_EQ(in_range, expected) << lo << ".." << hi;
    }
}

// Trees of one-byte keys 10, 20, 30 (and more on demand), byte-wise.
struct Small {
    tarn_node node;
    uint8_t key;
};
using SmallTree = tarn::tree<Small, &Small::node, &Small::key>;

struct SmallFixture : ::testing::Test {
    Small recs[256];
    SmallTree tree;
    SmallFixture() {
        for (int i = 0; i < 256; i++) recs[i].key = uint8_t(i);
        for (int k : {10, 20, 30}) EXPECT_TRUE(tree.insert(recs[k]));
    }
    static int key_of(const Small *s) { return s ? s->key : -1; }
};

TEST_F(SmallFixture, DuplicateIsRefusedAndItsNodeReset) {
    Small twin{};
    twin.key = 20;
    twin.node.in_tree = 1; // stale state from elsewhere: insert zeroes it
    EXPECT_FALSE(tree.insert(twin));
    EXPECT_EQ(twin.node.in_tree, 0u);
    EXPECT_EQ(tree.find(20), &recs[20]);
    tree.erase(twin); // not linked: nothing happens
    EXPECT_EQ(tree.size(), 3u);
}

TEST_F(SmallFixture, RangeBoundsAreInclusiveAndCopied) {
    auto view = tree.range(uint8_t(10), uint8_t(20)); // temporaries: the view keeps copies
    std::vector<int> keys;
    for (Small &s : view) keys.push_back(s.key);
    EXPECT_EQ(keys, (std::vector<int>{10, 20}));
    EXPECT_TRUE(tree.range(15, 18).empty());
    EXPECT_TRUE(tree.range(20, 15).empty());
}

// Yield points: the edge cases of the C cursor, seen through the wrappers.
TEST_F(SmallFixture, ScanResumesAfterTheTreeChanged) {
    auto scan = tree.scan();
    EXPECT_EQ(key_of(scan.first()), 10);
    EXPECT_EQ(key_of(scan.next()), 20);
    scan.yield();
    EXPECT_EQ(scan.current(), nullptr);
    tree.erase(recs[20]);
    tree.insert(recs[25]);
    tree.insert(recs[15]); // behind the cursor: not visited
    EXPECT_EQ(key_of(scan.next()), 25);
    EXPECT_EQ(key_of(scan.next()), 30);
    EXPECT_EQ(scan.next(), nullptr);
    // The end is not remembered: a further step searches from the saved 20.
    EXPECT_EQ(key_of(scan.next()), 25);

    scan.seek(35);
    std::vector<int> back;
    while (Small *s = scan.prev()) back.push_back(s->key);
    EXPECT_EQ(back, (std::vector<int>{30, 25, 15, 10}));
}

TEST_F(SmallFixture, RangeScanResumesAfterTheTreeChanged) {
    auto scan = tree.scan(10, 30);
    EXPECT_EQ(key_of(scan.first()), 10);
    EXPECT_EQ(key_of(scan.next()), 20);
    scan.yield();
    tree.erase(recs[20]);
    tree.insert(recs[25]);
    EXPECT_EQ(key_of(scan.next()), 25);
    EXPECT_EQ(key_of(scan.next()), 30);
    EXPECT_EQ(scan.next(), nullptr);
    EXPECT_EQ(tree.scan(15, 18).first(), nullptr);
}

TEST_F(SmallFixture, ErasingUnderAPlainIteratorEndsIt) {
    std::vector<int> seen;
    for (Small &s : tree) {
        seen.push_back(s.key);
        if (s.key == 20) tree.erase(s); // no yield: the step finds no links
    }
    EXPECT_EQ(seen, (std::vector<int>{10, 20}));
}

TEST_F(SmallFixture, MovingOrSwappingCarriesTheRecords) {
    SmallTree moved(std::move(tree));
    EXPECT_TRUE(tree.empty());
    EXPECT_EQ(tree.size(), 0u);
    EXPECT_EQ(moved.size(), 3u);
    EXPECT_EQ(moved.find(30), &recs[30]);
    EXPECT_TRUE(tree_is_sound(*moved.head()));
    EXPECT_TRUE(tree.insert(recs[40])); // the old tree is ready for use

    swap(tree, moved);
    EXPECT_EQ(tree.size(), 3u);
    EXPECT_EQ(moved.first(), &recs[40]);
    EXPECT_TRUE(tree_is_sound(*tree.head()));
}

} // namespace
