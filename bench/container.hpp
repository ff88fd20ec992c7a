// SPDX-License-Identifier: MIT
// tarn.hpp's own calls against what a caller would write without them:
// find-or-insert in one descent, hinted and sorted loads, a record moved
// after a small change of its key, the numeric order of integral keys
// against the byte-wise one, and reverse scans. Each workload is a row with
// three columns: the call measured ("tarn hpp"), the way it is measured
// against ("tarn hpp baseline"), and absl::btree_set's nearest call where it
// has one. Every column of a row gives the same checksum, or the run stops.
// The two tarn columns lay out their records in turn on the same pages,
// fresh on each repetition, so that their ratio compares code and not where
// two allocations happened to land.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "harness.hpp"
#include "tarn.hpp"
#include "tarn_subject.hpp"

#ifdef TARN_BENCH_HAVE_ABSL
#include <absl/container/btree_set.h>
#endif

namespace bench {

enum Column { Measured, Baseline, Absl, kColumns };
inline const char *const kColumnNames[kColumns] = {"tarn hpp", "tarn hpp baseline", "absl btree"};

// What the container rows draw once per n, beside the peers' workload.
struct ContainerData {
    const Workload<uint64_t> *w = nullptr;
    std::vector<uint64_t> sorted; // the n keys, ascending
    // n probes, shuffled: n / 2 of the keys and the rest absent keys, distinct.
    std::vector<uint64_t> find_or_insert;
    // n changes of key: record (as laid out from w->keys) and its new key,
    // a little above the old one; keys stay distinct.
    struct Rearm {
        uint32_t record;
        uint64_t key;
    };
    std::vector<Rearm> rearms;
    size_t rearms_in_place = 0; // of them, those that leave the record between its neighbours
};

inline ContainerData make_container_data(const Workload<uint64_t> &w, uint64_t seed) {
    Rng rng{seed};
    ContainerData d;
    d.w = &w;
    const size_t n = w.keys.size();
    d.sorted = w.keys;
    std::sort(d.sorted.begin(), d.sorted.end());

    // Present keys are even, so odd ones are absent.
    std::vector<uint64_t> absent;
    while (absent.size() < n - n / 2) {
        while (absent.size() < n - n / 2) absent.push_back(rng() | 1);
        std::sort(absent.begin(), absent.end());
        absent.erase(std::unique(absent.begin(), absent.end()), absent.end());
    }
    d.find_or_insert.assign(w.lookups[Uniform].begin(), w.lookups[Uniform].begin() + n / 2);
    d.find_or_insert.insert(d.find_or_insert.end(), absent.begin(), absent.end());
    shuffle(d.find_or_insert, rng);

    // Each change adds up to half the mean gap between keys: most records
    // stay between their neighbours, the rest pass one or a few.
    const uint64_t step = std::numeric_limits<uint64_t>::max() / n / 2;
    std::vector<uint64_t> current = w.keys;
    std::set<uint64_t> live(w.keys.begin(), w.keys.end());
    for (size_t k = 0; k < n; k++) {
        const uint32_t i = uint32_t(rng.below(n));
        const uint64_t old = current[i], delta = 1 + rng.below(step);
        uint64_t key = old + delta < old ? old - delta : old + delta;
        while (live.count(key)) key++;
        auto at = live.find(old);
        bool in_place = (at == live.begin() || *std::prev(at) < key) &&
                        (std::next(at) == live.end() || key < *std::next(at));
        d.rearms_in_place += in_place;
        live.erase(at);
        live.insert(key);
        current[i] = key;
        d.rearms.push_back({i, key});
    }
    return d;
}

// A record as the caller lays it out: its node, then its key. Tag makes
// another type of the same shape, whose trees run code of their own.
template <class Key, int Tag = 0>
struct Rec {
    tarn::hook link;
    Key key;
};
using Bytes8 = std::array<uint8_t, 8>;

inline uint64_t value_of(uint64_t k) { return k; }
inline uint64_t value_of(const Bytes8 &k) { return from_big_endian<uint64_t>(k.data()); }
template <class Key>
Key key_from(uint64_t v) {
    if constexpr (std::is_same_v<Key, Bytes8>) {
        Bytes8 b;
        to_big_endian(v, b.data());
        return b;
    } else {
        return v;
    }
}

// A tree of Records by their key in its default order (numeric for an
// integer), or Order.
template <class Record, class... Order>
using TreeOf = tarn::tree<Record, &Record::link, &Record::key, Order...>;
using NativeTree = TreeOf<Rec<uint64_t>>;
static_assert(std::is_same_v<NativeTree::order_type, tarn::order_by<uint64_t>>,
              "integral keys order numerically by default");

// What a tree (or set) holds, in order, as one checksum.
template <class Tree>
uint64_t contents(const Tree &t) {
    uint64_t sum = t.size();
    for (const auto &r : t) sum = mix(sum, digest(value_of(r.key)));
    return sum;
}
#ifdef TARN_BENCH_HAVE_ABSL
inline uint64_t contents(const absl::btree_set<uint64_t> &s) {
    uint64_t sum = s.size();
    for (uint64_t k : s) sum = mix(sum, digest(k));
    return sum;
}
#endif

// Room for n records of either key type (both have one size and one
// alignment), taken fresh on each repetition and shared by the columns,
// which lay out their records in it in turn.
class RecordSpace {
    static constexpr std::align_val_t kAlign{alignof(Rec<uint64_t>)};
    struct Free {
        void operator()(void *p) const { ::operator delete(p, kAlign); }
    };
    std::unique_ptr<void, Free> bytes_;

  public:
    void renew(size_t n) {
        bytes_.reset();
        bytes_.reset(::operator new(std::max<size_t>(n, 1) * sizeof(Rec<uint64_t>), kAlign));
    }
    // Fresh unlinked records, keys[i] in the i-th; no record of the space may
    // be linked.
    template <class Record>
    Record *lay_out(const std::vector<uint64_t> &keys) {
        static_assert(sizeof(Record) == sizeof(Rec<uint64_t>) &&
                      alignof(Record) == alignof(Rec<uint64_t>));
        using Key = decltype(Record::key);
        Record *first = static_cast<Record *>(bytes_.get());
        for (size_t i = 0; i < keys.size(); i++) new (first + i) Record{{}, key_from<Key>(keys[i])};
        return first;
    }
    Rec<uint64_t> *lay_out(size_t n) { return lay_out<Rec<uint64_t>>(std::vector<uint64_t>(n)); }
};

// One or more rows measured on the same state. On each repetition start()
// takes fresh memory, then each column in turn is prepared (untimed) and
// runs its rows: before() is untimed, run() is timed and gives the row's
// answers, settle() is untimed, gives what the row left behind (a tree's
// contents) and readies the next row. The absl column runs only in a build
// that found absl.
struct ContainerCase {
    virtual ~ContainerCase() = default;
    virtual std::vector<std::string> rows() const = 0;
    virtual bool runs(Column c, size_t) const { return c != Absl; }
    virtual void start() = 0;
    virtual void prepare(Column c) = 0;
    virtual void before(Column, size_t) {}
    virtual uint64_t run(Column c, size_t row) = 0;
    virtual uint64_t settle(Column, size_t) { return 0; }
    // The operations a column's ns/op divides by in a row: n unless given.
    virtual std::optional<size_t> ops(Column, size_t) const { return std::nullopt; }
    // A run that timed only part of itself (a burst, not the untimed undoing
    // that follows it) gives its time here, in ns; else run() is timed whole.
    virtual std::optional<double> timed_ns(Column, size_t) const { return std::nullopt; }
    // For a column that answers another question than the row's call (a floor
    // beside an overlap query), the checksum run() must give, worked out
    // untimed from the keys alone; settle() is then not checked. Without one,
    // the column's run() and settle() must agree with the other columns'.
    virtual std::optional<uint64_t> expected(Column, size_t) const { return std::nullopt; }
};

// Each timed loop is a function of its own, kept out of line, so that a
// profile of the bench names the row and column it spends its time in.
#define TARN_BENCH_LOOP [[gnu::noinline]]

// Find-or-insert on a tree of the n keys, by n probes half of which are
// there: insert_check and insert_commit (one descent), against find then
// insert (two descents for an absent key), and absl's insert. A record is
// taken from a pool and given its key only when the probe is absent.
class FindOrInsert final : public ContainerCase {
    const ContainerData &d_;
    RecordSpace space_, pool_;
    Rec<uint64_t> *next_ = nullptr; // of the pool
    NativeTree tree_;               // after the records: goes first
#ifdef TARN_BENCH_HAVE_ABSL
    absl::btree_set<uint64_t> set_;
#endif

    TARN_BENCH_LOOP uint64_t check_commit() {
        uint64_t sum = 0;
        NativeTree::insert_commit_data data;
        for (uint64_t k : d_.find_or_insert) {
            auto [it, absent] = tree_.insert_check(k, data);
            if (absent) {
                next_->key = k;
                tree_.insert_commit(*next_++, data);
                sum = mix(sum, kNotFound);
            } else {
                sum = mix(sum, digest(it->key));
            }
        }
        return sum;
    }
    TARN_BENCH_LOOP uint64_t find_then_insert() {
        uint64_t sum = 0;
        for (uint64_t k : d_.find_or_insert) {
            if (const Rec<uint64_t> *found = tree_.find(k)) {
                sum = mix(sum, digest(found->key));
            } else {
                next_->key = k;
                tree_.insert(*next_++);
                sum = mix(sum, kNotFound);
            }
        }
        return sum;
    }
#ifdef TARN_BENCH_HAVE_ABSL
    TARN_BENCH_LOOP uint64_t absl_insert() {
        uint64_t sum = 0;
        for (uint64_t k : d_.find_or_insert) {
            auto [it, inserted] = set_.insert(k);
            sum = mix(sum, inserted ? kNotFound : digest(*it));
        }
        return sum;
    }
#endif
    size_t absent() const { return d_.find_or_insert.size() - d_.w->keys.size() / 2; }

  public:
    explicit FindOrInsert(const ContainerData &d) : d_(d) {}
    std::vector<std::string> rows() const override { return {"find-or-insert (half present)"}; }
    bool runs(Column, size_t) const override { return true; }
    void start() override {
        tree_.clear();
        space_.renew(d_.w->keys.size());
        pool_.renew(absent());
    }
    void prepare(Column c) override {
        if (c == Absl) {
#ifdef TARN_BENCH_HAVE_ABSL
            set_.clear();
            for (uint64_t k : d_.w->keys) set_.insert(k);
#endif
            return;
        }
        tree_.clear();
        Rec<uint64_t> *records = space_.lay_out<Rec<uint64_t>>(d_.w->keys);
        next_ = pool_.lay_out(absent());
        for (size_t i = 0; i < d_.w->keys.size(); i++) tree_.insert(records[i]);
    }
    uint64_t run(Column c, size_t) override {
#ifdef TARN_BENCH_HAVE_ABSL
        if (c == Absl) return absl_insert();
#endif
        return c == Measured ? check_commit() : find_then_insert();
    }
    uint64_t settle(Column c, size_t) override {
#ifdef TARN_BENCH_HAVE_ABSL
        if (c == Absl) return contents(set_);
#endif
        return contents(tree_);
    }
};

// The n keys loaded in ascending order into an empty tree, from records
// laid out in key order as a caller's array: hinted insertion at end()
// against plain insert and absl's insert at end(); assign_sorted against
// plain insert.
class SortedLoad final : public ContainerCase {
    const ContainerData &d_;
    RecordSpace space_;
    Rec<uint64_t> *first_ = nullptr, *last_ = nullptr;
    NativeTree tree_;
#ifdef TARN_BENCH_HAVE_ABSL
    absl::btree_set<uint64_t> set_;
#endif

    TARN_BENCH_LOOP uint64_t hinted() {
        uint64_t linked = 0;
        for (Rec<uint64_t> *r = first_; r != last_; r++)
            linked += &*tree_.insert(tree_.end(), *r) == r;
        return linked;
    }
    TARN_BENCH_LOOP uint64_t plain() {
        uint64_t linked = 0;
        for (Rec<uint64_t> *r = first_; r != last_; r++) linked += tree_.insert(*r);
        return linked;
    }
    TARN_BENCH_LOOP uint64_t sorted() {
        return tree_.assign_sorted(first_, last_) ? tree_.size() : 0;
    }
#ifdef TARN_BENCH_HAVE_ABSL
    TARN_BENCH_LOOP uint64_t absl_hinted() {
        for (uint64_t k : d_.sorted) set_.insert(set_.end(), k);
        return set_.size();
    }
#endif

  public:
    explicit SortedLoad(const ContainerData &d) : d_(d) {}
    std::vector<std::string> rows() const override {
        return {"sorted load (hinted)", "sorted load (assign_sorted)"};
    }
    bool runs(Column c, size_t row) const override { return c != Absl || row == 0; }
    void start() override {
        tree_.clear();
        space_.renew(d_.sorted.size());
    }
    void prepare(Column c) override {
        if (c == Absl) {
#ifdef TARN_BENCH_HAVE_ABSL
            set_.clear();
#endif
            return;
        }
        tree_.clear();
        first_ = space_.lay_out<Rec<uint64_t>>(d_.sorted);
        last_ = first_ + d_.sorted.size();
    }
    uint64_t run(Column c, size_t row) override {
#ifdef TARN_BENCH_HAVE_ABSL
        if (c == Absl) return absl_hinted();
#endif
        if (c == Baseline) return plain();
        return row == 0 ? hinted() : sorted();
    }
    // The tree's contents, then an empty tree for the next row.
    uint64_t settle(Column c, size_t) override {
        uint64_t sum = 0;
#ifdef TARN_BENCH_HAVE_ABSL
        if (c == Absl) {
            sum = contents(set_);
            set_.clear();
            return sum;
        }
#endif
        sum = contents(tree_);
        tree_.clear();
        return sum;
    }
};

// n timers re-armed, each by a small change of its key: reposition after
// the change, against erase, change, insert.
class Rearm final : public ContainerCase {
    const ContainerData &d_;
    RecordSpace space_;
    Rec<uint64_t> *records_ = nullptr;
    NativeTree tree_;

    TARN_BENCH_LOOP uint64_t reposition() {
        uint64_t linked = 0;
        for (const auto &change : d_.rearms) {
            Rec<uint64_t> &r = records_[change.record];
            r.key = change.key;
            linked += tree_.reposition(r);
        }
        return linked;
    }
    TARN_BENCH_LOOP uint64_t erase_insert() {
        uint64_t linked = 0;
        for (const auto &change : d_.rearms) {
            Rec<uint64_t> &r = records_[change.record];
            tree_.erase(r);
            r.key = change.key;
            linked += tree_.insert(r);
        }
        return linked;
    }

  public:
    explicit Rearm(const ContainerData &d) : d_(d) {}
    std::vector<std::string> rows() const override { return {"re-arm (small key change)"}; }
    void start() override {
        tree_.clear();
        space_.renew(d_.w->keys.size());
    }
    void prepare(Column) override {
        tree_.clear();
        records_ = space_.lay_out<Rec<uint64_t>>(d_.w->keys);
        for (size_t i = 0; i < d_.w->keys.size(); i++) tree_.insert(records_[i]);
    }
    uint64_t run(Column c, size_t) override {
        return c == Measured ? reposition() : erase_insert();
    }
    uint64_t settle(Column, size_t) override { return contents(tree_); }
};

// The peers' insert, lookup, floor, scan and remove through tarn.hpp over
// a native 64-bit key in its default (numeric) order, against the same over
// its big-endian bytes in the byte-wise order, as the "tarn hpp" subject.
// Both sides have record types of their own: the other rows insert the same
// keys in the same order into trees of Rec<uint64_t>, which at n = 1000
// trains the branch predictor for that tree's code, and would for the
// native side alone.
class NumericOrder final : public ContainerCase {
    template <class Record, class... Order>
    struct Side {
        using Key = decltype(Record::key);
        Record *records = nullptr;
        TreeOf<Record, Order...> tree;
        std::vector<Key> lookups, floors;
        void prepare(const Workload<uint64_t> &w, RecordSpace &space) {
            lookups = convert(w.lookups[Uniform]);
            floors = convert(w.floors[Uniform]);
            records = space.lay_out<Record>(w.keys); // last, as the peers' records
        }
        static std::vector<Key> convert(const std::vector<uint64_t> &keys) {
            std::vector<Key> out;
            out.reserve(keys.size());
            for (uint64_t k : keys) out.push_back(key_from<Key>(k));
            return out;
        }
        static uint64_t answer(const Record *r) { return r ? digest(value_of(r->key)) : kNotFound; }
        TARN_BENCH_LOOP uint64_t insert(size_t n) {
            uint64_t linked = 0;
            for (size_t i = 0; i < n; i++) linked += tree.insert(records[i]);
            return linked;
        }
        TARN_BENCH_LOOP uint64_t find() {
            uint64_t sum = 0;
            for (const Key &k : lookups) sum = mix(sum, answer(tree.find(k)));
            return sum;
        }
        TARN_BENCH_LOOP uint64_t floor() {
            uint64_t sum = 0;
            for (const Key &k : floors) sum = mix(sum, answer(tree.floor(k)));
            return sum;
        }
        TARN_BENCH_LOOP uint64_t scan() {
            uint64_t sum = 0;
            for (const auto &r : tree) sum = mix(sum, answer(&r));
            return sum;
        }
        TARN_BENCH_LOOP uint64_t erase(const std::vector<uint32_t> &removals) {
            uint64_t removed = 0;
            for (uint32_t i : removals) {
                tree.erase(records[i]);
                removed += records[i].link.in_tree == 0;
            }
            return removed + tree.size();
        }
        uint64_t run(size_t row, const Workload<uint64_t> &w) {
            switch (row) {
            case 0: return insert(w.keys.size());
            case 1: return find();
            case 2: return floor();
            case 3: return scan();
            default: return erase(w.removals);
            }
        }
    };
    const ContainerData &d_;
    RecordSpace space_;
    Side<Rec<uint64_t, 1>> native_;
    Side<Rec<Bytes8, 1>, tarn::bytewise> bytes_;

  public:
    explicit NumericOrder(const ContainerData &d) : d_(d) {}
    std::vector<std::string> rows() const override {
        return {"numeric order: insert", "numeric order: lookup", "numeric order: floor (miss)",
                "numeric order: scan (/key)", "numeric order: remove"};
    }
    void start() override {
        native_.tree.clear();
        bytes_.tree.clear();
        space_.renew(d_.w->keys.size());
    }
    void prepare(Column c) override {
        native_.tree.clear(); // the space is the other side's no more
        bytes_.tree.clear();
        c == Measured ? native_.prepare(*d_.w, space_) : bytes_.prepare(*d_.w, space_);
    }
    uint64_t run(Column c, size_t row) override {
        return c == Measured ? native_.run(row, *d_.w) : bytes_.run(row, *d_.w);
    }
};

// One in-order pass over a tree of the n keys, backward against forward,
// both over the same tree. A record's position in key order enters the
// checksum with its key, so the two directions agree when each visits the
// records in its own order. Each timed pass follows three untimed ones by
// the same loop, so that all have the same history: at n = 1000 the time of
// a pass depended on the passes before it (with one untimed pass each, the
// same forward pass measured 6.2 ns/key as one row's baseline and 4.0 as
// the other's).
class ReverseScan final : public ContainerCase {
    const ContainerData &d_;
    RecordSpace space_;
    NativeTree tree_;

    static uint64_t at(uint64_t sum, const Rec<uint64_t> &r, uint64_t position) {
        return sum + (digest(r.key) ^ position) * 0x9E3779B97F4A7C15ull;
    }
    TARN_BENCH_LOOP uint64_t forward() const {
        uint64_t sum = 0, position = 0;
        for (const auto &r : tree_) sum = at(sum, r, position++);
        return sum;
    }
    TARN_BENCH_LOOP uint64_t backward_by_rbegin() const {
        uint64_t sum = 0, position = tree_.size();
        for (auto it = tree_.rbegin(), end = tree_.rend(); it != end; ++it)
            sum = at(sum, *it, --position);
        return sum;
    }
    TARN_BENCH_LOOP uint64_t backward_from_end() const {
        uint64_t sum = 0, position = tree_.size();
        for (auto it = tree_.end(), first = tree_.begin(); it != first;)
            sum = at(sum, *--it, --position);
        return sum;
    }

  public:
    explicit ReverseScan(const ContainerData &d) : d_(d) {}
    std::vector<std::string> rows() const override {
        return {"reverse scan, rbegin() (/key)", "reverse scan, -- from end() (/key)"};
    }
    void start() override { // one tree for both columns
        tree_.clear();
        space_.renew(d_.w->keys.size());
        Rec<uint64_t> *records = space_.lay_out<Rec<uint64_t>>(d_.w->keys);
        for (size_t i = 0; i < d_.w->keys.size(); i++) tree_.insert(records[i]);
    }
    void prepare(Column) override {}
    void before(Column c, size_t row) override {
        for (int i = 0; i < 3; i++) run(c, row);
    }
    uint64_t run(Column c, size_t row) override {
        if (c == Baseline) return forward();
        return row == 0 ? backward_by_rbegin() : backward_from_end();
    }
};

#undef TARN_BENCH_LOOP

inline std::vector<std::unique_ptr<ContainerCase>> container_cases(const ContainerData &d) {
    std::vector<std::unique_ptr<ContainerCase>> cases;
    cases.emplace_back(new FindOrInsert(d));
    cases.emplace_back(new SortedLoad(d));
    cases.emplace_back(new Rearm(d));
    cases.emplace_back(new NumericOrder(d));
    cases.emplace_back(new ReverseScan(d));
    return cases;
}

} // namespace bench
