// What tarn.hpp adds over the C calls (built as C++17 and C++20): members
// answering as their C calls, iteration, scans that yield, move and clear.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "tarn.hpp"

namespace {

struct Job { // numeric order of a native integer, which bytes would get wrong
    uint64_t pad;
    tarn_node link;
    uint32_t id;
};
using JobTree = tarn::tree<Job, &Job::link, &Job::id, tarn::order_by<uint32_t>>;
static_assert(sizeof(JobTree) == sizeof(tarn_head));
static_assert(!std::is_copy_constructible_v<JobTree> && !std::is_move_assignable_v<JobTree>);
static_assert(std::is_same_v<std::iterator_traits<JobTree::iterator>::iterator_category,
                             std::forward_iterator_tag>);

// Values 0..300, every third linked in a scrambled order.
TEST(CppTree, MembersAnswerAsTheirCCalls) {
    std::vector<Job> jobs(301);
    JobTree tree;
    const tarn_head *h = tree.head();
    for (uint32_t v = 0; v <= 300; v++) jobs[v].id = v;
    for (uint32_t i = 0; i < 100; i++) EXPECT_TRUE(tree.insert(jobs[i * 37 % 100 * 3]));
    for (uint32_t v = 0; v <= 300; v++) {
        EXPECT_EQ(tree.find(v), v % 3 || v == 300 ? nullptr : &jobs[v]);
        EXPECT_EQ(tree.contains(v), tree.find(v) != nullptr);
        EXPECT_EQ(tree.floor(v), JobTree::record_of(tarn_lookup_le(h, &v)));
        EXPECT_EQ(tree.ceiling(v), JobTree::record_of(tarn_lookup_ge(h, &v)));
        EXPECT_EQ(tree.next_after(v), JobTree::record_of(tarn_get_next_node_from_key(h, &v)));
        EXPECT_EQ(tree.prev_before(v), JobTree::record_of(tarn_get_previous_node_from_key(h, &v)));
    }
    std::vector<const Job *> all, want, in_range;
    for (Job &j : tree) all.push_back(&j);
    for (uint32_t v = 0; v < 300; v += 3) want.push_back(&jobs[v]);
    EXPECT_EQ(all, want);
    for (Job &j : tree.range(100, 110)) in_range.push_back(&j);
    EXPECT_EQ(in_range, std::vector<const Job *>(&want[34], &want[37]));
    EXPECT_TRUE(tree.first() == &jobs[0] && tree.size() == 100);
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
            tree.insert(**linked.insert(new Job{0, {}, i * 2654435761u}).first);
        g_comparisons = 0;
        tree.clear_and_dispose([&](Job &j) {
            tarn_node &l = j.link;
            EXPECT_TRUE(linked.erase(&j) && !l.in_tree && !l.left && !l.right && !l.parent);
            delete &j;
        });
        EXPECT_TRUE(linked.empty() && g_comparisons == 0 && tree.empty() && tree.size() == 0);
        Job again{0, {}, 1};
        EXPECT_TRUE(tree.insert(again)); // the tree is ready for use
        tree.clear();
        EXPECT_TRUE(again.link.in_tree == 0 && tree.empty() && tree.size() == 0);
    }
}

struct JobTen : ::testing::Test { // 10, 20, 30 linked
    Job jobs[41]{};
    JobTree tree;
    JobTen() {
        for (uint32_t v = 0; v <= 40; v++) jobs[v].id = v;
        for (int v : {10, 20, 30}) tree.insert(jobs[v]);
    }
    static int key(const Job *j) { return j ? int(j->id) : -1; }
};

TEST_F(JobTen, ScansResumeAfterTheTreeChanged) {
    auto scan = tree.scan();
    auto range = tree.scan(10, 30);
    EXPECT_EQ(key(scan.first()) + key(range.first()), 20);
    EXPECT_EQ(key(scan.next()) + key(range.next()), 40);
    scan.yield();
    range.yield();
    EXPECT_EQ(scan.current(), nullptr);
    tree.erase(jobs[20]);
    tree.insert(jobs[25]);
    tree.insert(jobs[15]); // behind the cursors: not visited
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

TEST_F(JobTen, RefusedInsertsMovesAndSwaps) {
    Job twin{0, {TARN_BAL_LH, 0, nullptr, nullptr, nullptr}, 20};
    EXPECT_FALSE(tree.insert(twin));
    EXPECT_EQ(twin.link.balance, 0u) << "insert zeroes the node first";
    EXPECT_EQ(JobTree::record_of(JobTree::node_of(twin)), &twin);
    EXPECT_EQ(JobTree::record_of(nullptr), nullptr);
    JobTree moved(std::move(tree));
    EXPECT_TRUE(tree.empty() && tree.size() == 0);
    EXPECT_TRUE(tree.insert(jobs[40])); // the old tree is ready for use
    swap(tree, moved);
    EXPECT_TRUE(tree.size() == 3 && tree.find(30) == &jobs[30] && moved.first() == &jobs[40]);
    EXPECT_EQ(tarn_verify_balance_factors(tree.head()), 1);
}

} // namespace
