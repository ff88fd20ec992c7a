// SPDX-License-Identifier: MIT
// tarn.hpp's summaries and tree algebra against what they replace: nth and
// rank of an order-statistics tree against find on the same tree; overlap
// queries of an interval tree against a full scan and against a floor;
// first fit by first_where on a free-space tree against a scan in address
// order; insertion and erasure of an order-statistics tree against the
// plain container over the same records; split and join against a find,
// on an order-statistics tree and on a plain one; merge of two trees with
// interleaved keys against inserting the other's records one by one. As in
// the call rows, the columns of a row answer alike or the run stops; a
// column that answers another question (a floor, a find) gives what the
// keys alone say it must.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "container.hpp"
#include "harness.hpp"
#include "tarn.hpp"

namespace bench {

// A record with its rank among the n keys (pos), kept by the caller, for a
// find to answer what rank does.
struct Ranked {
    tarn::hook link;
    uint64_t key;
    size_t size; // the order-statistics tree's summary
    uint64_t pos;
};
using RankedTree = tarn::tree<Ranked, &Ranked::link, &Ranked::key, tarn::order_by<uint64_t>,
                              tarn::subtree_size<&Ranked::size>>;
using RankedPlain = tarn::tree<Ranked, &Ranked::link, &Ranked::key>;

// [key, end), with the largest end below it.
struct Interval {
    tarn::hook link;
    uint64_t key, end, largest_end;
};
using IntervalTree = tarn::tree<Interval, &Interval::link, &Interval::key, tarn::order_by<uint64_t>,
                                tarn::interval_ends<&Interval::end, &Interval::largest_end>>;

// A free extent at address key, with the largest length below it.
struct Extent {
    tarn::hook link;
    uint64_t key, length, largest;
};
using FreeSpace = tarn::tree<Extent, &Extent::link, &Extent::key, tarn::order_by<uint64_t>,
                             tarn::largest_below<&Extent::length, &Extent::largest>>;

// Room for n records of one type, taken fresh on each repetition.
template <class Record>
class SpaceOf {
    struct Free {
        void operator()(Record *p) const { ::operator delete(p); }
    };
    std::unique_ptr<Record, Free> records_;

  public:
    void renew(size_t n) {
        records_.reset();
        records_.reset(
            static_cast<Record *>(::operator new(std::max<size_t>(n, 1) * sizeof(Record))));
    }
    // n fresh unlinked records, the i-th given its fields by fill(record, i).
    template <class Fill>
    Record *lay_out(size_t n, Fill fill) {
        Record *first = records_.get();
        for (size_t i = 0; i < n; i++) fill(*new (first + i) Record{}, i);
        return first;
    }
};

// The rank of each of w's keys among them, in insertion order.
inline std::vector<uint64_t> ranks_of(const ContainerData &d) {
    std::vector<uint64_t> pos;
    for (uint64_t k : d.w->keys)
        pos.push_back(
            uint64_t(std::lower_bound(d.sorted.begin(), d.sorted.end(), k) - d.sorted.begin()));
    return pos;
}

template <class Record>
uint64_t key_digest(const Record *r) {
    return r ? digest(r->key) : kNotFound;
}

#define TARN_BENCH_LOOP [[gnu::noinline]]

// nth(k) and rank(r) against find over one order-statistics tree of the n
// keys, built once per repetition. nth takes n ranks in a random order,
// find the keys of those ranks; rank takes the records of n keys in a
// random order, find those keys, its answer the rank the record holds.
class OrderStatistics final : public ContainerCase {
    const ContainerData &d_;
    const std::vector<uint64_t> pos_; // of w's keys
    std::vector<uint64_t> nth_keys_;  // the key of rank w.removals[i]
    std::vector<uint64_t> rank_keys_; // w.keys[w.removals[i]]
    SpaceOf<Ranked> space_;
    Ranked *records_ = nullptr;
    RankedTree tree_;

    TARN_BENCH_LOOP uint64_t nth() const {
        uint64_t sum = 0;
        for (uint32_t k : d_.w->removals) sum = mix(sum, key_digest(tree_.nth(k)));
        return sum;
    }
    TARN_BENCH_LOOP uint64_t find_of_nth() const {
        uint64_t sum = 0;
        for (uint64_t k : nth_keys_) sum = mix(sum, key_digest(tree_.find(k)));
        return sum;
    }
    TARN_BENCH_LOOP uint64_t rank() const {
        uint64_t sum = 0;
        for (uint32_t i : d_.w->removals) sum = mix(sum, tree_.rank(records_[i]));
        return sum;
    }
    TARN_BENCH_LOOP uint64_t find_of_rank() const {
        uint64_t sum = 0;
        for (uint64_t k : rank_keys_) {
            const Ranked *r = tree_.find(k);
            sum = mix(sum, r ? r->pos : kNotFound);
        }
        return sum;
    }

  public:
    explicit OrderStatistics(const ContainerData &d) : d_(d), pos_(ranks_of(d)) {
        for (uint32_t i : d.w->removals) {
            nth_keys_.push_back(d.sorted[i]);
            rank_keys_.push_back(d.w->keys[i]);
        }
    }
    std::vector<std::string> rows() const override { return {"nth(k) / find", "rank(r) / find"}; }
    void start() override { // one tree for both columns
        tree_.clear();
        space_.renew(d_.w->keys.size());
        records_ = space_.lay_out(d_.w->keys.size(), [this](Ranked &r, size_t i) {
            r.key = d_.w->keys[i];
            r.pos = pos_[i];
        });
        for (size_t i = 0; i < d_.w->keys.size(); i++) tree_.insert(records_[i]);
    }
    void prepare(Column) override {}
    uint64_t run(Column c, size_t row) override {
        if (row == 0) return c == Measured ? nth() : find_of_nth();
        return c == Measured ? rank() : find_of_rank();
    }
};

// Insertion of the n keys into an empty order-statistics tree, then their
// erasure, against the same through the plain container over the same
// records (with their size member unused), as the peers' insert and remove.
class SummaryUpkeep final : public ContainerCase {
    const ContainerData &d_;
    SpaceOf<Ranked> space_;
    Ranked *records_ = nullptr;
    RankedTree sized_;
    RankedPlain plain_;

    template <class Tree>
    TARN_BENCH_LOOP static uint64_t insert(Tree &tree, Ranked *records, size_t n) {
        uint64_t linked = 0;
        for (size_t i = 0; i < n; i++) linked += tree.insert(records[i]);
        return linked;
    }
    template <class Tree>
    TARN_BENCH_LOOP static uint64_t erase(Tree &tree, Ranked *records,
                                          const std::vector<uint32_t> &removals) {
        uint64_t removed = 0;
        for (uint32_t i : removals) {
            tree.erase(records[i]);
            removed += !Tree::is_linked(records[i]);
        }
        return removed + tree.size();
    }

  public:
    explicit SummaryUpkeep(const ContainerData &d) : d_(d) {}
    std::vector<std::string> rows() const override {
        return {"insert, order statistics / plain", "erase, order statistics / plain"};
    }
    void start() override {
        sized_.clear();
        plain_.clear();
        space_.renew(d_.w->keys.size());
    }
    void prepare(Column) override {
        sized_.clear(); // the space is the other column's no more
        plain_.clear();
        records_ = space_.lay_out(d_.w->keys.size(),
                                  [this](Ranked &r, size_t i) { r.key = d_.w->keys[i]; });
    }
    uint64_t run(Column c, size_t row) override {
        const size_t n = d_.w->keys.size();
        if (row == 0)
            return c == Measured ? insert(sized_, records_, n) : insert(plain_, records_, n);
        return c == Measured ? erase(sized_, records_, d_.w->removals)
                             : erase(plain_, records_, d_.w->removals);
    }
    uint64_t settle(Column c, size_t) override {
        return c == Measured ? contents(sized_) : contents(plain_);
    }
};

// Overlap queries [a, b) that meet exactly kOverlaps intervals, against a
// full scan of the tree testing each record (a few of the queries) and
// against a floor of a. The n intervals start at the n keys and are
// between half and one and a half times the mean gap between keys long;
// each query starts at a random point, and its end is placed just past
// the start of the interval that makes the count kOverlaps.
class Overlaps final : public ContainerCase {
    static constexpr size_t kOverlaps = 10;
    struct Query {
        uint64_t a, b;
    };
    const ContainerData &d_;
    std::vector<uint64_t> ends_; // of the intervals, by w's keys
    std::vector<Query> queries_; // the floor row's; the first scans_ the scan row's
    size_t scans_;
    uint64_t overlap_sum_[2] = {}, floor_sum_ = 0; // what the keys say
    SpaceOf<Interval> space_;
    IntervalTree tree_;

    size_t queries(size_t row) const { return row == 0 ? scans_ : queries_.size(); }
    TARN_BENCH_LOOP uint64_t overlaps(size_t count) const {
        uint64_t sum = 0;
        for (size_t q = 0; q < count; q++)
            for (const Interval &r : tree_.overlaps(queries_[q].a, queries_[q].b))
                sum = mix(sum, digest(r.key));
        return sum;
    }
    TARN_BENCH_LOOP uint64_t scan(size_t count) const {
        uint64_t sum = 0;
        for (size_t q = 0; q < count; q++)
            for (const Interval &r : tree_)
                if (r.key < queries_[q].b && queries_[q].a < r.end) sum = mix(sum, digest(r.key));
        return sum;
    }
    TARN_BENCH_LOOP uint64_t floor() const {
        uint64_t sum = 0;
        for (const Query &q : queries_) sum = mix(sum, key_digest(tree_.floor(q.a)));
        return sum;
    }

  public:
    explicit Overlaps(const ContainerData &d) : d_(d) {
        const size_t n = d.sorted.size();
        scans_ = n <= 100000 ? 32 : 4;
        Rng rng{0x1e7a1 + n};
        const uint64_t gap = std::numeric_limits<uint64_t>::max() / n, longest = gap / 2 * 3;
        auto end_of = [](uint64_t start, uint64_t length) {
            return start + length < start ? std::numeric_limits<uint64_t>::max() : start + length;
        };
        for (uint64_t k : d.w->keys) ends_.push_back(end_of(k, gap / 2 + rng.below(gap)));
        std::vector<uint64_t> sorted_ends(n); // by sorted start
        for (size_t i = 0; i < n; i++)
            sorted_ends[std::lower_bound(d.sorted.begin(), d.sorted.end(), d.w->keys[i]) -
                        d.sorted.begin()] = ends_[i];
        uint64_t sum = 0; // of the overlaps met so far
        while (queries_.size() < (size_t(1) << 16)) {
            const uint64_t a = rng() | 1; // no key is odd
            const size_t at =
                std::lower_bound(d.sorted.begin(), d.sorted.end(), a) - d.sorted.begin();
            std::vector<uint64_t> met; // the keys of the intervals met, ascending
            for (size_t j = at; j-- > 0 && a - d.sorted[j] < longest;)
                if (a < sorted_ends[j]) met.insert(met.begin(), d.sorted[j]);
            if (met.size() >= kOverlaps || at + (kOverlaps - met.size()) > n) continue;
            const size_t last = at + (kOverlaps - met.size()) - 1;
            for (size_t j = at; j <= last; j++) met.push_back(d.sorted[j]);
            queries_.push_back({a, d.sorted[last] + 1});
            for (uint64_t k : met) sum = mix(sum, digest(k));
            if (queries_.size() == scans_) overlap_sum_[0] = sum;
            floor_sum_ = mix(floor_sum_, at ? digest(d.sorted[at - 1]) : kNotFound);
        }
        overlap_sum_[1] = sum;
    }
    std::vector<std::string> rows() const override {
        return {"overlaps (10 met) / full scan", "overlaps (10 met) / floor"};
    }
    void start() override { // one tree for both columns
        tree_.clear();
        space_.renew(d_.w->keys.size());
        Interval *records = space_.lay_out(d_.w->keys.size(), [this](Interval &r, size_t i) {
            r.key = d_.w->keys[i];
            r.end = ends_[i];
        });
        for (size_t i = 0; i < d_.w->keys.size(); i++) tree_.insert(records[i]);
    }
    void prepare(Column) override {}
    uint64_t run(Column c, size_t row) override {
        if (c == Measured) return overlaps(queries(row));
        return row == 0 ? scan(queries(row)) : floor();
    }
    std::optional<size_t> ops(Column, size_t row) const override { return queries(row); }
    std::optional<uint64_t> expected(Column c, size_t row) const override {
        return c == Baseline && row == 1 ? floor_sum_ : overlap_sum_[row];
    }
};

// First fit: the lowest-addressed extent of at least m, by first_where on a
// free-space tree, against a scan of the tree in address order that stops
// at the first. The n extents lie at the n keys, their lengths drawn
// uniformly below 2^32; each query's m is the j-th largest length, j drawn
// so that the share of extents long enough is log-uniform between 1/n and
// 1 (the scan then visits n / j extents on average).
class FirstFit final : public ContainerCase {
    const ContainerData &d_;
    std::vector<uint64_t> lengths_; // by w's keys
    std::vector<uint64_t> sizes_;   // the queries' m
    SpaceOf<Extent> space_;
    FreeSpace tree_;

    TARN_BENCH_LOOP uint64_t first_where() const {
        uint64_t sum = 0;
        for (uint64_t m : sizes_)
            sum = mix(
                sum, key_digest(tree_.first_where([m](const Extent &e) { return e.largest >= m; },
                                                  [m](const Extent &e) { return e.length >= m; })));
        return sum;
    }
    TARN_BENCH_LOOP uint64_t scan() const {
        uint64_t sum = 0;
        for (uint64_t m : sizes_) {
            const Extent *fit = nullptr;
            for (const Extent &e : tree_)
                if (e.length >= m) {
                    fit = &e;
                    break;
                }
            sum = mix(sum, key_digest(fit));
        }
        return sum;
    }

  public:
    explicit FirstFit(const ContainerData &d) : d_(d) {
        const size_t n = d.sorted.size();
        Rng rng{0xf1257 + n};
        for (size_t i = 0; i < n; i++) lengths_.push_back(1 + rng.below(uint64_t(1) << 32));
        std::vector<uint64_t> longest_first = lengths_;
        std::sort(longest_first.rbegin(), longest_first.rend());
        const size_t queries = n <= 100000 ? 256 : 64;
        for (size_t q = 0; q < queries; q++) {
            const double u = double(rng() >> 11) * 0x1p-53; // uniform in [0, 1)
            const size_t j = std::min(n, std::max<size_t>(1, size_t(std::pow(double(n), u))));
            sizes_.push_back(longest_first[j - 1]);
        }
    }
    std::vector<std::string> rows() const override { return {"first fit (first_where) / scan"}; }
    void start() override { // one tree for both columns
        tree_.clear();
        space_.renew(d_.w->keys.size());
        Extent *records = space_.lay_out(d_.w->keys.size(), [this](Extent &r, size_t i) {
            r.key = d_.w->keys[i];
            r.length = lengths_[i];
        });
        for (size_t i = 0; i < d_.w->keys.size(); i++) tree_.insert(records[i]);
    }
    void prepare(Column) override {}
    uint64_t run(Column c, size_t) override { return c == Measured ? first_where() : scan(); }
    std::optional<size_t> ops(Column, size_t) const override { return sizes_.size(); }
};

// split(key) then join(std::move(higher)) at keys of the tree, each timed
// on its own, against finds on the same tree (built once per repetition).
// Tree is an order-statistics tree, whose split takes the sizes of its
// parts from the summaries, or the plain container, whose split counts the
// smaller part by walking it. The split's answers: the size of the part
// above and its first key; the join's: the size after. The finds take
// kFinds keys of their own in a random order, so that their paths are as
// cold as a split's: a few finds over the split's keys would run on the
// paths the columns' earlier rows brought into the caches.
template <class Tree>
class SplitJoin final : public ContainerCase {
    static constexpr size_t kFinds = size_t(1) << 16;
    using Clock = std::chrono::steady_clock;
    const ContainerData &d_;
    const std::string label_;
    std::vector<uint64_t> keys_;            // present keys, in a random order
    std::vector<uint64_t> finds_;           // others
    uint64_t split_sum_ = 0, find_sum_ = 0; // what the keys say
    double ns_[2] = {};                     // of the splits and of the joins
    SpaceOf<Ranked> space_;
    Tree tree_;

    TARN_BENCH_LOOP uint64_t split_join() {
        uint64_t sum = 0;
        double split_ns = 0, join_ns = 0;
        for (uint64_t k : keys_) {
            const auto t0 = Clock::now();
            Tree higher = tree_.split(k);
            const auto t1 = Clock::now();
            sum = mix(mix(sum, higher.size()), key_digest(higher.first()));
            const auto t2 = Clock::now();
            tree_.join(std::move(higher));
            const auto t3 = Clock::now();
            sum = mix(sum, tree_.size());
            split_ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
            join_ns += std::chrono::duration<double, std::nano>(t3 - t2).count();
        }
        ns_[0] = split_ns, ns_[1] = join_ns;
        return sum;
    }
    TARN_BENCH_LOOP uint64_t find() const {
        uint64_t sum = 0;
        for (uint64_t k : finds_) sum = mix(sum, key_digest(tree_.find(k)));
        return sum;
    }

  public:
    SplitJoin(const ContainerData &d, const char *label, size_t count)
        : d_(d), label_(label),
          keys_(d.w->lookups[Uniform].begin(), d.w->lookups[Uniform].begin() + count),
          finds_(d.w->lookups[Uniform].end() - kFinds, d.w->lookups[Uniform].end()) {
        const size_t n = d.sorted.size();
        for (uint64_t k : keys_) {
            const size_t at =
                std::lower_bound(d.sorted.begin(), d.sorted.end(), k) - d.sorted.begin();
            split_sum_ =
                mix(mix(split_sum_, n - at - 1), at + 1 < n ? digest(d.sorted[at + 1]) : kNotFound);
            split_sum_ = mix(split_sum_, n);
        }
        for (uint64_t k : finds_) find_sum_ = mix(find_sum_, digest(k));
    }
    std::vector<std::string> rows() const override {
        return {"split, " + label_ + " / find", "join, " + label_ + " / find"};
    }
    void start() override { // one tree for both columns
        tree_.clear();
        space_.renew(d_.w->keys.size());
        Ranked *records = space_.lay_out(d_.w->keys.size(),
                                         [this](Ranked &r, size_t i) { r.key = d_.w->keys[i]; });
        for (size_t i = 0; i < d_.w->keys.size(); i++) tree_.insert(records[i]);
    }
    void prepare(Column) override {}
    uint64_t run(Column c, size_t) override { return c == Measured ? split_join() : find(); }
    std::optional<size_t> ops(Column c, size_t) const override {
        return c == Measured ? keys_.size() : kFinds;
    }
    std::optional<double> timed_ns(Column c, size_t row) const override {
        if (c == Measured) return ns_[row];
        return std::nullopt;
    }
    std::optional<uint64_t> expected(Column c, size_t) const override {
        return c == Measured ? split_sum_ : find_sum_;
    }
};

// merge(other) of a tree of the n keys and one of n keys each just above
// one of them (interleaved, none shared), against other's records handed
// one by one, as clear_and_dispose lets go of them, to insert; per record
// of other.
class Merge final : public ContainerCase {
    const ContainerData &d_;
    std::vector<uint64_t> others_; // just above w's keys
    RecordSpace space_, other_space_;
    NativeTree tree_, other_; // after the records: go first

    TARN_BENCH_LOOP uint64_t merge() {
        tree_.merge(other_);
        return mix(tree_.size(), other_.size());
    }
    TARN_BENCH_LOOP uint64_t insert_one_by_one() {
        other_.clear_and_dispose([this](Rec<uint64_t> &r) { tree_.insert(r); });
        return mix(tree_.size(), other_.size());
    }

  public:
    explicit Merge(const ContainerData &d) : d_(d) {
        for (uint64_t k : d.w->keys) others_.push_back(k | 1);
    }
    std::vector<std::string> rows() const override {
        return {"merge (interleaved keys) / insert one by one"};
    }
    void start() override {
        tree_.clear();
        other_.clear();
        space_.renew(d_.w->keys.size());
        other_space_.renew(others_.size());
    }
    void prepare(Column) override {
        tree_.clear();
        other_.clear();
        Rec<uint64_t> *records = space_.lay_out<Rec<uint64_t>>(d_.w->keys);
        Rec<uint64_t> *others = other_space_.lay_out<Rec<uint64_t>>(others_);
        for (size_t i = 0; i < d_.w->keys.size(); i++) {
            tree_.insert(records[i]);
            other_.insert(others[i]);
        }
    }
    uint64_t run(Column c, size_t) override {
        return c == Measured ? merge() : insert_one_by_one();
    }
    uint64_t settle(Column, size_t) override { return contents(tree_); }
};

#undef TARN_BENCH_LOOP

// The summary rows at n = 1e5 and 1e6; merge at 1e5, split and join at 1e6.
inline std::vector<std::unique_ptr<ContainerCase>> summary_cases(const ContainerData &d) {
    const size_t n = d.sorted.size();
    std::vector<std::unique_ptr<ContainerCase>> cases;
    cases.emplace_back(new OrderStatistics(d));
    cases.emplace_back(new Overlaps(d));
    cases.emplace_back(new FirstFit(d));
    cases.emplace_back(new SummaryUpkeep(d));
    if (n >= 1000000) {
        cases.emplace_back(new SplitJoin<RankedTree>(d, "order statistics", 1024));
        cases.emplace_back(new SplitJoin<RankedPlain>(d, "plain", 8));
    } else {
        cases.emplace_back(new Merge(d));
    }
    return cases;
}

// What each column of each summary row runs, printed once.
inline std::string summary_legend() {
    return "### summaries and algebra: what each column runs\n\n"
           "Trees of the n 8-byte keys above, in their numeric order, records laid out afresh "
           "in each repetition; ns per call unless said. Where the baseline answers another "
           "question (a floor, a find), each column's answers are checked against the keys.\n\n"
           "| row | tarn hpp | tarn hpp baseline |\n|---|---|---|\n"
           "| nth(k) / find | `nth(k)`, n ranks in a random order, on a tree with "
           "`tarn::subtree_size` | `find(key)` of the key of each rank, the same tree |\n"
           "| rank(r) / find | `rank(r)`, the records of n keys in a random order | `find(key)` "
           "of each record's key, the same tree, reading the rank the record holds |\n"
           "| overlaps (10 met) / full scan | `overlaps(a, b)` iterated, each query meeting 10 "
           "intervals, on a tree with `tarn::interval_ends`; 32 queries at 1e5, 4 at 1e6 | "
           "each record tested, `begin()` to `end()`, the same queries |\n"
           "| overlaps (10 met) / floor | `overlaps(a, b)` iterated, 65536 queries | `floor(a)`, "
           "the same queries |\n"
           "| first fit (first_where) / scan | `first_where` on a tree with "
           "`tarn::largest_below`, the first extent of at least m; 256 queries at 1e5, 64 at "
           "1e6 | `begin()` on until the first extent of at least m |\n"
           "| insert, erase: order statistics / plain | the n records inserted into an empty "
           "tree with `tarn::subtree_size`, then erased, per record | the same, the plain "
           "container over the same records |\n"
           "| split, join (1e6): order statistics, plain / find | `split(key)`, then "
           "`join(std::move(higher))`, each timed alone; 1024 keys with `tarn::subtree_size`, "
           "8 on the plain container | `find(key)`, the same keys and tree |\n"
           "| merge (1e5) / insert one by one | `merge(other)`, other's n keys each just above "
           "one of this tree's, per record of other | `other.clear_and_dispose` handing each "
           "record to `insert(r)` |\n\n";
}

} // namespace bench
