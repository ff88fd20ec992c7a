// SPDX-License-Identifier: MIT
// What tarn.hpp adds over the C calls that the harness's model does not
// decide (built as C++17 and C++20): orders and concepts, steps and batches
// as the C calls over every key size, batches over trees too large for the
// caches, scans that yield, move and clear.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>
#include <vector>
#if __cplusplus >= 202002L
#include <ranges>
#endif

#include "tarn.hpp"

namespace {

struct Job { // numeric order of a native integer, which bytes would get wrong
    uint64_t pad;
    tarn_node link;
    uint32_t id;
};
using JobTree = tarn::tree<Job, &Job::link, &Job::id, tarn::order_by<uint32_t>>;
static_assert(sizeof(JobTree) == sizeof(tarn_head) + sizeof(void *));
static_assert(!std::is_copy_constructible_v<JobTree> && std::is_nothrow_move_assignable_v<JobTree>);
static_assert(std::is_same_v<std::iterator_traits<JobTree::iterator>::iterator_category,
                             std::bidirectional_iterator_tag>);

// Integral keys order numerically by default (the harness checks signed ones
// against the C comparator on head()); byte arrays byte-wise.
struct Mixed {
    tarn::hook link;
    int16_t level;
    uint64_t wide;
    unsigned char name[6];
};
static_assert(std::is_same_v<tarn::tree<Mixed, &Mixed::link, &Mixed::wide>::order_type,
                             tarn::order_by<uint64_t>>);
static_assert(
    std::is_same_v<tarn::tree<Mixed, &Mixed::link, &Mixed::name>::order_type, tarn::bytewise>);
#if __cplusplus >= 202002L
static_assert(std::bidirectional_iterator<JobTree::iterator>);
static_assert(std::ranges::bidirectional_range<JobTree> && std::ranges::sized_range<JobTree> &&
              std::ranges::common_range<JobTree>);
#if !defined(__clang__) || __clang_major__ >= 15 // Clang 14 cannot reverse even a std::set
static_assert(
    std::ranges::bidirectional_range<decltype(std::views::reverse(std::declval<JobTree &>()))>);
#endif
#endif

template <size_t N>
struct Bytes {
    unsigned char key[N];
    tarn_node link;
};
void set_key(uint32_t &key, uint32_t v) { key = v; }
template <size_t N> // v's high nibble in the first byte, its low one in the last
void set_key(unsigned char (&key)[N], uint32_t v) {
    std::memset(key, 0, N);
    key[0] = uint8_t(N == 1 ? v : v >> 4);
    if (N > 1) key[N - 1] = uint8_t(v & 15);
}
void set_wide(uint32_t &key, uint32_t v) { key = v; }
template <size_t N> // 16 bits of v: the high byte first, the low one last
void set_wide(unsigned char (&key)[N], uint32_t v) {
    std::memset(key, 0, N);
    key[0] = uint8_t(v >> 8), key[N - 1] = uint8_t(v);
}

// Batches of any count, within a group and over many, answer as the single
// calls, over every order and key size: on a tree, an empty one, one too
// large for the caches (where descents interleave; 1-byte keys cannot fill
// one), and a replica comparing a key prefix, where batches fall back to
// single calls.
template <class Record, auto Key, class Order = tarn::bytewise>
void expect_batches_as_single_calls() {
    std::vector<Record> records(64); // records outlive their tree, which unlinks them
    tarn::tree<Record, &Record::link, Key, Order> tree;
    for (uint32_t i = 0; i < 64; i++)
        set_key(records[i].*Key, i * 37 % 64 * 4), tree.insert(records[i]);
    const tarn_head *h = std::as_const(tree).head();
    using Tree = tarn::tree<Record, &Record::link, Key, Order>;
    typename Tree::key_type keys[256];
    Record *batched[256];
    std::vector<Record> many(sizeof(typename Tree::key_type) > 1 ? 20000 : 0);
    Tree empty, large;
    std::vector<Record *> burst; // linked by batched insertion, its descents interleaved
    for (uint32_t i = 0; i < many.size(); i++)
        set_wide(many[i].*Key, i * 3), burst.push_back(&many[i]);
    large.insert(burst.data(), burst.size());
    tarn_head prefix;
    tarn_replicate_head_node(const_cast<tarn_head *>(h), &prefix, nullptr);
    tarn_init_new(&prefix, h->node_offset, h->key_length / 2, h->key_offset, nullptr, nullptr);
    const tarn_head *heads[] = {h, empty.head(), large.head(), &prefix};
    for (const tarn_head *head : heads)
        for (size_t n : {0, 1, 15, 17, 256}) {
            for (uint32_t v = 0; v < 256; v++)
                head == large.head() ? set_wide(keys[v], v * 233) : set_key(keys[v], v * 77 % 256);
            auto expect = [&](tarn_node *(*single)(const tarn_head *, const void *)) {
                for (size_t i = 0; i < n; i++)
                    EXPECT_EQ(batched[i], Tree::record_of(single(head, &keys[i])))
                        << i << " of " << n;
                EXPECT_TRUE(n == 256 || batched[n] == &records[0]) << "written past " << n;
            };
            std::fill(batched, batched + 256, &records[0]);
            Tree::find(*head, keys, n, batched), expect(tarn_lookup);
            Tree::floor(*head, keys, n, batched), expect(tarn_lookup_le);
            Tree::ceiling(*head, keys, n, batched), expect(tarn_lookup_ge);
            if (head != h) continue;
            tree.find(keys, n, batched), expect(tarn_lookup);
            tree.floor(keys, n, batched), expect(tarn_lookup_le);
            tree.ceiling(keys, n, batched), expect(tarn_lookup_ge);
        }
}

TEST(CppTree, BatchesAnswerAsTheSingleCalls) {
    expect_batches_as_single_calls<Job, &Job::id, tarn::order_by<uint32_t>>();
    expect_batches_as_single_calls<Bytes<1>, &Bytes<1>::key>();
    expect_batches_as_single_calls<Bytes<2>, &Bytes<2>::key>();
    expect_batches_as_single_calls<Bytes<4>, &Bytes<4>::key>();
    expect_batches_as_single_calls<Bytes<5>, &Bytes<5>::key>();
    expect_batches_as_single_calls<Bytes<8>, &Bytes<8>::key>();
    expect_batches_as_single_calls<Bytes<16>, &Bytes<16>::key>();
}

// A primary re-initialised to a key prefix, under which linked keys tie:
// batches, interleaved over a tree too large for the caches, answer as the
// single calls, by the same way.
struct Pair {
    uint8_t high, low;
    tarn_node link;
};
TEST(CppTree, BatchesAnswerAsSingleCallsOnAPrimaryReinitialisedToAPrefix) {
    std::vector<Pair> pairs(16385);
    tarn_head h{};
    tarn_init_new(&h, offsetof(Pair, link), 2, offsetof(Pair, high), nullptr, nullptr);
    for (uint32_t i = 0; i < pairs.size(); i++)
        pairs[i].high = uint8_t(i >> 6), pairs[i].low = uint8_t(i), tarn_insert(&h, &pairs[i].link);
    tarn_init_new(&h, offsetof(Pair, link), 1, offsetof(Pair, high), nullptr, nullptr);
    using Prefix = tarn::tree<Pair, &Pair::link, &Pair::high>;
    uint8_t keys[256];
    Pair *out[256];
    for (uint32_t v = 0; v < 256; v++) keys[v] = uint8_t(v * 7);
    auto expect = [&](tarn_node *(*single)(const tarn_head *, const void *)) {
        for (uint32_t v = 0; v < 256; v++)
            EXPECT_EQ(out[v], Prefix::record_of(single(&h, &keys[v]))) << v;
    };
    Prefix::find(h, keys, 256, out), expect(tarn_lookup);
    Prefix::floor(h, keys, 256, out), expect(tarn_lookup_le);
    Prefix::ceiling(h, keys, 256, out), expect(tarn_lookup_ge);
}

// Bursts into a tree too large for the caches, whose insertions start from
// floors found by interleaved descents: the same tree, shape and balance
// codes included, and the same answers as single inserts in the same order,
// with keys repeated within a burst, already linked, next to one another
// and far apart; the bursts through the descriptor likewise.
TEST(CppTree, BurstsLeaveTheTreeSingleInsertsLeave) {
    struct Wide {
        tarn::hook link;
        uint64_t key;
    };
    using Tree = tarn::tree<Wide, &Wide::link, &Wide::key>;
    std::vector<Wide> singles(40000), bursts(40000);
    Tree one, many;
    std::vector<Wide *> burst;
    bool linked[64];
    for (size_t i = 0; i < singles.size(); i++) {
        const uint64_t key = i < 20000 ? i * 7 : (i * 2654435761u) % 150000 / (i % 3 ? 1 : 50);
        singles[i].key = bursts[i].key = key, burst.push_back(&bursts[i]);
        one.insert(singles[i]);
        if (burst.size() == 64 || i + 1 == singles.size() || i < 20000) {
            if (i % 128 < 64) // and through the C-owned descriptor, by its warmed paths
                many.insert(burst.data(), burst.size(), linked);
            else
                Tree::insert(*many.head(), burst.data(), burst.size(), linked);
            for (size_t j = 0; j < burst.size(); j++) {
                const size_t at = size_t(burst[j] - bursts.data());
                EXPECT_TRUE(linked[j] == Tree::is_linked(*burst[j]) &&
                            linked[j] == Tree::is_linked(singles[at]))
                    << at;
            }
            burst.clear();
        }
    }
    auto shape = [](const Tree &t) {
        std::vector<std::pair<uint64_t, uint32_t>> out;
        tarn_walk_tree_v2(
            const_cast<tarn_head *>(t.head()), TARN_WALK_PREORDER, &out,
            [](tarn_head *, tarn_node *n, void *o) {
                static_cast<decltype(out) *>(o)->push_back({Tree::record_of(n)->key, n->balance});
                return 1;
            });
        return out;
    };
    EXPECT_TRUE(shape(one) == shape(many) && one.size() == many.size());
}

// A caller's summary in its general form, summarize alone: every climb
// recomputes it (the ready ones adjust by the record gained or lost, which
// the harness covers). Each record's sum is checked against its subtree's.
TEST(CppTree, ASummaryWithSummarizeAloneStaysRight) {
    struct Summed {
        tarn::hook link;
        uint32_t key;
        uint64_t sum; // of the keys below, its own included
    };
    struct key_sum {
        static bool summarize(Summed &r, const Summed *left, const Summed *right) noexcept {
            const uint64_t sum = r.key + (left ? left->sum : 0) + (right ? right->sum : 0);
            return std::exchange(r.sum, sum) != sum;
        }
    };
    using Tree = tarn::tree<Summed, &Summed::link, &Summed::key, tarn::order_by<uint32_t>, key_sum>;
    auto sum_of = [](tarn_node *n, auto &self) -> uint64_t {
        if (!n) return 0;
        const uint64_t sum = Tree::record_of(n)->key + self(n->left, self) + self(n->right, self);
        return sum == Tree::record_of(n)->sum ? sum : ~uint64_t(0) / 2; // spoils the total
    };
    std::vector<Summed> records(3000);
    Tree tree;
    uint64_t total = 0;
    for (uint32_t i = 0; i < records.size(); i++)
        total += records[i].key = i * 2654435761u % 100000, tree.insert(records[i]);
    EXPECT_EQ(sum_of(tree.head()->root, sum_of), total);
    for (size_t i = 0; i < records.size(); i += 2) total -= records[i].key, tree.erase(records[i]);
    EXPECT_EQ(sum_of(tree.head()->root, sum_of), total);
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
    EXPECT_EQ(twin.link.balance, uint32_t(TARN_BAL_LH)) << "a refused record is left alone";
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
