// SPDX-License-Identifier: MIT
// Bursts of changes through tarn.hpp's batched calls, kBatchKeys a burst,
// on a tree of n: new records linked by one insert(records, count), and
// records of the tree unlinked by one erase(records, count) or
// erase(keys, count), against the single calls one after another ("tarn
// hpp baseline") and absl::btree_set's insert(k) and erase(k), one per key.
// The tree holds n records whenever a burst starts: every burst is undone
// (the new records erased, the erased ones inserted again) before the next,
// and each row times only the burst, by a clock read before and after it.
// A burst's keys are spread over the whole tree, or fall in one region of
// it, the region drawn as the zipf probes are. One more row measures what
// the batched insert's prefetch pass gives on its own: a batched floor of
// the burst's keys, which descends as that pass does, before the single
// inserts, against the single inserts alone.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "container.hpp"
#include "harness.hpp"

#ifdef TARN_BENCH_HAVE_ABSL
#include <absl/container/btree_set.h>
#endif

namespace bench {

// The most keys the bursts of one row link per column and repetition: more
// would add time, not precision.
constexpr size_t kBurstKeysMost = size_t(1) << 18;

enum class BurstKeys { Spread, Region };

// Where the keys of each burst lie in the tree: kBatchKeys positions in the
// n keys in ascending order, distinct within a burst, in a shuffled order.
// Spread: drawn uniformly. Region: kBatchKeys positions that follow one
// another, the first of them the burst's zipf draw.
inline std::vector<size_t> burst_positions(const ContainerData &d, BurstKeys kind, uint64_t seed) {
    Rng rng{seed};
    const size_t n = d.sorted.size();
    const size_t bursts = std::max<size_t>(1, std::min(n, kBurstKeysMost) / kBatchKeys);
    std::vector<size_t> positions;
    for (size_t b = 0; b < bursts; b++) {
        std::vector<size_t> burst;
        if (kind == BurstKeys::Spread) {
            while (burst.size() < kBatchKeys) {
                const size_t at = rng.below(n);
                if (std::find(burst.begin(), burst.end(), at) == burst.end()) burst.push_back(at);
            }
        } else {
            const uint64_t hot = d.w->lookups[Zipf][b % n];
            size_t at =
                size_t(std::lower_bound(d.sorted.begin(), d.sorted.end(), hot) - d.sorted.begin());
            at = std::min(at, n - kBatchKeys);
            for (size_t j = 0; j < kBatchKeys; j++) burst.push_back(at + j);
            shuffle(burst, rng);
        }
        positions.insert(positions.end(), burst.begin(), burst.end());
    }
    return positions;
}

#define TARN_BENCH_LOOP [[gnu::noinline]]

// The rows of one kind of burst on a tree of the n keys. Each column builds
// its tree (or absl's set) afresh, the two tarn columns on the same pages,
// and lays out the records of the insertion bursts, one for each new key
// of each burst, in a pool of their own. An insertion burst's keys lie
// just above its positions' keys (absent from the tree: the tree's keys are
// even); an erasure burst erases the records at its positions, which the
// tree has held since it was built, and links them again after.
class Bursts final : public ContainerCase {
    using Record = Rec<uint64_t>;
    using Clock = std::chrono::steady_clock;
    enum Row { Insert, EraseRecords, EraseKeys, FloorPass, kRows };

    const ContainerData &d_;
    const std::string label_;
    std::vector<uint64_t> new_keys_, old_keys_; // kBatchKeys a burst
    std::vector<uint32_t> old_records_;         // of w's keys, holding old_keys_
    RecordSpace space_, pool_;
    std::vector<Record *> new_, old_; // the pool's records, the tree's
    NativeTree tree_;                 // after the records: goes first
#ifdef TARN_BENCH_HAVE_ABSL
    absl::btree_set<uint64_t> set_;
#endif
    double ns_ = 0;      // the timed parts of the last run
    uintptr_t sink_ = 0; // what the floor pass found, kept so that it runs
    size_t bursts() const { return new_keys_.size() / kBatchKeys; }

    // For each burst b in turn: timed(b) between two clock reads, then
    // after(b), which undoes it; the checksum of what they give.
    template <class Timed, class After>
    uint64_t each_burst(Timed timed, After after) {
        uint64_t sum = 0;
        double ns = 0;
        for (size_t b = 0; b < bursts(); b++) {
            const auto t0 = Clock::now();
            const uint64_t answer = timed(b);
            const auto t1 = Clock::now();
            ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
            sum = mix(mix(sum, answer), after(b));
        }
        ns_ = ns;
        return sum;
    }
    Record *const *new_records(size_t b) const { return new_.data() + b * kBatchKeys; }
    Record *const *old_records(size_t b) const { return old_.data() + b * kBatchKeys; }
    const uint64_t *new_keys(size_t b) const { return new_keys_.data() + b * kBatchKeys; }
    const uint64_t *old_keys(size_t b) const { return old_keys_.data() + b * kBatchKeys; }

    // The untimed undoing of a burst, the same in both tarn columns: the
    // sizes before and after, and for an erasure how many records it left
    // unlinked.
    uint64_t unlink_new(size_t b) {
        const uint64_t size = tree_.size();
        for (size_t i = 0; i < kBatchKeys; i++) tree_.erase(*new_records(b)[i]);
        return mix(size, tree_.size());
    }
    uint64_t relink_old(size_t b) {
        uint64_t unlinked = 0;
        for (size_t i = 0; i < kBatchKeys; i++)
            unlinked += !NativeTree::is_linked(*old_records(b)[i]);
        const uint64_t size = tree_.size();
        for (size_t i = 0; i < kBatchKeys; i++) tree_.insert(*old_records(b)[i]);
        return mix(mix(unlinked, size), tree_.size());
    }
    uint64_t insert_new_singly(size_t b) {
        uint64_t linked = 0;
        for (size_t i = 0; i < kBatchKeys; i++) linked += tree_.insert(*new_records(b)[i]);
        return linked;
    }

    TARN_BENCH_LOOP uint64_t insert_batch() {
        return each_burst(
            [this](size_t b) {
                bool inserted[kBatchKeys];
                tree_.insert(new_records(b), kBatchKeys, inserted);
                return uint64_t(std::count(inserted, inserted + kBatchKeys, true));
            },
            [this](size_t b) { return unlink_new(b); });
    }
    TARN_BENCH_LOOP uint64_t insert_singly() {
        return each_burst([this](size_t b) { return insert_new_singly(b); },
                          [this](size_t b) { return unlink_new(b); });
    }
    TARN_BENCH_LOOP uint64_t floor_pass_then_insert_singly() {
        return each_burst(
            [this](size_t b) {
                Record *found[kBatchKeys];
                tree_.floor(new_keys(b), kBatchKeys, found);
                sink_ += reinterpret_cast<uintptr_t>(found[kBatchKeys - 1]);
                return insert_new_singly(b);
            },
            [this](size_t b) { return unlink_new(b); });
    }
    TARN_BENCH_LOOP uint64_t erase_records_batch() {
        return each_burst(
            [this](size_t b) {
                tree_.erase(old_records(b), kBatchKeys);
                return uint64_t{0};
            },
            [this](size_t b) { return relink_old(b); });
    }
    TARN_BENCH_LOOP uint64_t erase_records_singly() {
        return each_burst(
            [this](size_t b) {
                for (size_t i = 0; i < kBatchKeys; i++) tree_.erase(*old_records(b)[i]);
                return uint64_t{0};
            },
            [this](size_t b) { return relink_old(b); });
    }
    TARN_BENCH_LOOP uint64_t erase_keys_batch() {
        return each_burst(
            [this](size_t b) { return uint64_t(tree_.erase(old_keys(b), kBatchKeys)); },
            [this](size_t b) { return relink_old(b); });
    }
    TARN_BENCH_LOOP uint64_t erase_keys_singly() {
        return each_burst(
            [this](size_t b) {
                uint64_t erased = 0;
                for (size_t i = 0; i < kBatchKeys; i++) erased += tree_.erase(old_keys(b)[i]);
                return erased;
            },
            [this](size_t b) { return relink_old(b); });
    }
#ifdef TARN_BENCH_HAVE_ABSL
    // absl's set holds keys, not records: its checksums count what its own
    // calls report, and what it holds, where the tarn columns look at the
    // records.
    TARN_BENCH_LOOP uint64_t absl_insert() {
        return each_burst(
            [this](size_t b) {
                uint64_t linked = 0;
                for (size_t i = 0; i < kBatchKeys; i++)
                    linked += set_.insert(new_keys(b)[i]).second;
                return linked;
            },
            [this](size_t b) {
                const uint64_t size = set_.size();
                for (size_t i = 0; i < kBatchKeys; i++) set_.erase(new_keys(b)[i]);
                return mix(size, set_.size());
            });
    }
    TARN_BENCH_LOOP uint64_t absl_erase() {
        return each_burst(
            [this](size_t b) {
                uint64_t erased = 0;
                for (size_t i = 0; i < kBatchKeys; i++) erased += set_.erase(old_keys(b)[i]);
                return erased;
            },
            [this](size_t b) {
                uint64_t gone = 0;
                for (size_t i = 0; i < kBatchKeys; i++) gone += !set_.contains(old_keys(b)[i]);
                const uint64_t size = set_.size();
                for (size_t i = 0; i < kBatchKeys; i++) set_.insert(old_keys(b)[i]);
                return mix(mix(gone, size), set_.size());
            });
    }
#endif

  public:
    Bursts(const ContainerData &d, BurstKeys kind, uint64_t seed)
        : d_(d), label_(kind == BurstKeys::Spread ? "spread" : "one region") {
        std::vector<uint32_t> by_key(d.w->keys.size()); // w's keys' indexes, by key
        for (uint32_t i = 0; i < by_key.size(); i++) by_key[i] = i;
        std::sort(by_key.begin(), by_key.end(),
                  [&d](uint32_t a, uint32_t b) { return d.w->keys[a] < d.w->keys[b]; });
        for (size_t at : burst_positions(d, kind, seed)) {
            new_keys_.push_back(d.sorted[at] | 1);
            old_keys_.push_back(d.sorted[at]);
            old_records_.push_back(by_key[at]);
        }
    }
    std::vector<std::string> rows() const override {
        return {"burst insert (batch), " + label_, "burst erase (batch, records), " + label_,
                "burst erase (batch, keys), " + label_,
                "burst insert, floor pass then single inserts, " + label_};
    }
    bool runs(Column c, size_t row) const override {
        return c != Absl || row == Insert || row == EraseKeys;
    }
    void start() override {
        tree_.clear();
        space_.renew(d_.w->keys.size());
        pool_.renew(new_keys_.size());
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
        Record *records = space_.lay_out<Record>(d_.w->keys);
        Record *pool = pool_.lay_out<Record>(new_keys_);
        new_.clear();
        old_.clear();
        for (size_t i = 0; i < new_keys_.size(); i++) new_.push_back(pool + i);
        for (uint32_t i : old_records_) old_.push_back(records + i);
        for (size_t i = 0; i < d_.w->keys.size(); i++) tree_.insert(records[i]);
    }
    uint64_t run(Column c, size_t row) override {
#ifdef TARN_BENCH_HAVE_ABSL
        if (c == Absl) return row == Insert ? absl_insert() : absl_erase();
#endif
        const bool measured = c == Measured;
        switch (row) {
        case Insert: return measured ? insert_batch() : insert_singly();
        case EraseRecords: return measured ? erase_records_batch() : erase_records_singly();
        case EraseKeys: return measured ? erase_keys_batch() : erase_keys_singly();
        default: return measured ? floor_pass_then_insert_singly() : insert_singly();
        }
    }
    // What the tree (or set) holds after the row: its n keys again.
    uint64_t settle(Column c, size_t) override {
#ifdef TARN_BENCH_HAVE_ABSL
        if (c == Absl) return contents(set_);
#endif
        static_cast<void>(c);
        return contents(tree_);
    }
    std::optional<size_t> ops(Column, size_t) const override { return new_keys_.size(); }
    std::optional<double> timed_ns(Column, size_t) const override { return ns_; }
};

#undef TARN_BENCH_LOOP

inline std::vector<std::unique_ptr<ContainerCase>> burst_cases(const ContainerData &d) {
    std::vector<std::unique_ptr<ContainerCase>> cases;
    const uint64_t seed = 0xb0257 + d.sorted.size();
    cases.emplace_back(new Bursts(d, BurstKeys::Spread, seed));
    cases.emplace_back(new Bursts(d, BurstKeys::Region, seed + 1));
    return cases;
}

// What each column of each burst row runs, printed once.
inline std::string burst_legend() {
    return "### bursts: what each column runs\n\n"
           "Each burst changes 32 records (or keys) of a tree of the n 8-byte keys above, and "
           "is undone, untimed, before the next, so that every burst starts on n records; only "
           "the burst is timed, per key. An insertion burst links new records, each keyed just "
           "above one of the tree's keys; an erasure burst unlinks 32 of the tree's records, "
           "linked since the tree was built, and links them again after. \"spread\": the 32 "
           "keys drawn uniformly; \"one region\": 32 keys that follow one another in the tree, "
           "the first drawn as the zipf probes are. Trees over `std::uint64_t` in its default "
           "(numeric) order.\n\n"
           "| row | tarn hpp | tarn hpp baseline | absl btree | undone by |\n"
           "|---|---|---|---|---|\n"
           "| burst insert (batch) | `insert(records, 32, inserted)` | 32 × `insert(r)` | "
           "32 × `insert(k)` | 32 × `erase(r)` (absl: `erase(k)`) |\n"
           "| burst erase (batch, records) | `erase(records, 32)` | 32 × `erase(r)` | n/a | "
           "32 × `insert(r)` |\n"
           "| burst erase (batch, keys) | `erase(keys, 32)` | 32 × `erase(k)` | 32 × `erase(k)` | "
           "32 × `insert(r)` (absl: `insert(k)`) |\n"
           "| burst insert, floor pass then single inserts | `floor(keys, 32, out)`, then 32 × "
           "`insert(r)` | 32 × `insert(r)` | n/a | 32 × `erase(r)` |\n\n";
}

} // namespace bench
