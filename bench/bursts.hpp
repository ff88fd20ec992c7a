// Bursts of changes through tarn.hpp's batched calls: kBatchKeys new records
// linked into a tree of n by one insert(records, count), and unlinked again
// by one erase(records, count) or erase(keys, count), against the single
// calls one after another ("tarn hpp baseline") and absl::btree_set's
// insert(k) and erase(k), one per key. The tree holds n records whenever a
// burst starts: every burst is undone before the next, and each row times
// only its own part of a burst, by a clock read before and after it. A
// burst's keys are spread over the whole tree, or fall in one region of it,
// the region drawn as the zipf probes are. One more row measures what the
// batched insert's prefetch pass gives on its own: a batched floor of the
// burst's keys, which descends as that pass does, before the single
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

// The bursts' keys, kBatchKeys a burst, distinct within a burst and absent
// from the tree (odd, where the tree's keys are even). Spread: drawn
// uniformly. Region: each just above one of kBatchKeys keys that follow one
// another in the tree, the first of them the burst's zipf draw, in a
// shuffled order.
inline std::vector<uint64_t> burst_keys(const ContainerData &d, BurstKeys kind, uint64_t seed) {
    Rng rng{seed};
    const size_t n = d.sorted.size();
    const size_t bursts = std::max<size_t>(1, std::min(n, kBurstKeysMost) / kBatchKeys);
    std::vector<uint64_t> keys;
    for (size_t b = 0; b < bursts; b++) {
        std::vector<uint64_t> burst;
        if (kind == BurstKeys::Spread) {
            while (burst.size() < kBatchKeys) {
                const uint64_t k = rng() | 1;
                if (std::find(burst.begin(), burst.end(), k) == burst.end()) burst.push_back(k);
            }
        } else {
            const uint64_t hot = d.w->lookups[Zipf][b % n];
            size_t at =
                size_t(std::lower_bound(d.sorted.begin(), d.sorted.end(), hot) - d.sorted.begin());
            at = std::min(at, n - kBatchKeys);
            for (size_t j = 0; j < kBatchKeys; j++) burst.push_back(d.sorted[at + j] | 1);
            shuffle(burst, rng);
        }
        keys.insert(keys.end(), burst.begin(), burst.end());
    }
    return keys;
}

#define TARN_BENCH_LOOP [[gnu::noinline]]

// The rows of one kind of burst on a tree of the n keys. Each column builds
// its tree (or absl's set) afresh, the two tarn columns on the same pages,
// and lays out the bursts' records, a record of its own for each key of
// each burst, in a pool of their own.
class Bursts final : public ContainerCase {
    using Record = Rec<uint64_t>;
    using Clock = std::chrono::steady_clock;
    enum Row { Insert, EraseRecords, EraseKeys, FloorPass, kRows };

    const ContainerData &d_;
    const std::string label_;
    const std::vector<uint64_t> keys_; // kBatchKeys a burst
    RecordSpace space_, pool_;
    std::vector<Record *> burst_; // the pool's records, keys_[i] in the i-th
    NativeTree tree_;             // after the records: goes first
#ifdef TARN_BENCH_HAVE_ABSL
    absl::btree_set<uint64_t> set_;
#endif
    double ns_ = 0;      // the timed parts of the last run
    uintptr_t sink_ = 0; // what the floor pass found, kept so that it runs
    size_t bursts() const { return keys_.size() / kBatchKeys; }

    // For each burst b in turn: before(b), then timed(b) between two clock
    // reads, then after(b); the checksum of what they give.
    template <class Before, class Timed, class After>
    uint64_t each_burst(Before before, Timed timed, After after) {
        uint64_t sum = 0;
        double ns = 0;
        for (size_t b = 0; b < bursts(); b++) {
            sum = mix(sum, before(b));
            const auto t0 = Clock::now();
            const uint64_t answer = timed(b);
            const auto t1 = Clock::now();
            ns += std::chrono::duration<double, std::nano>(t1 - t0).count();
            sum = mix(mix(sum, answer), after(b));
        }
        ns_ = ns;
        return sum;
    }
    Record *const *records(size_t b) const { return burst_.data() + b * kBatchKeys; }
    const uint64_t *keys(size_t b) const { return keys_.data() + b * kBatchKeys; }

    // The untimed halves of a burst, the same in both tarn columns.
    uint64_t link_singly(size_t b) {
        uint64_t linked = 0;
        for (size_t i = 0; i < kBatchKeys; i++) linked += tree_.insert(*records(b)[i]);
        return mix(linked, tree_.size());
    }
    uint64_t unlink_singly(size_t b) {
        const uint64_t size = tree_.size();
        for (size_t i = 0; i < kBatchKeys; i++) tree_.erase(*records(b)[i]);
        return mix(size, tree_.size());
    }
    uint64_t unlinked(size_t b) const {
        uint64_t count = 0;
        for (size_t i = 0; i < kBatchKeys; i++) count += !NativeTree::is_linked(*records(b)[i]);
        return mix(count, tree_.size());
    }

    TARN_BENCH_LOOP uint64_t insert_batch() {
        return each_burst([](size_t) { return uint64_t{0}; },
                          [this](size_t b) {
                              bool inserted[kBatchKeys];
                              tree_.insert(records(b), kBatchKeys, inserted);
                              return uint64_t(std::count(inserted, inserted + kBatchKeys, true));
                          },
                          [this](size_t b) { return unlink_singly(b); });
    }
    TARN_BENCH_LOOP uint64_t insert_singly() {
        return each_burst([](size_t) { return uint64_t{0}; },
                          [this](size_t b) {
                              uint64_t linked = 0;
                              for (size_t i = 0; i < kBatchKeys; i++)
                                  linked += tree_.insert(*records(b)[i]);
                              return linked;
                          },
                          [this](size_t b) { return unlink_singly(b); });
    }
    TARN_BENCH_LOOP uint64_t floor_pass_then_insert_singly() {
        return each_burst([](size_t) { return uint64_t{0}; },
                          [this](size_t b) {
                              Record *found[kBatchKeys];
                              tree_.floor(keys(b), kBatchKeys, found);
                              sink_ += reinterpret_cast<uintptr_t>(found[kBatchKeys - 1]);
                              uint64_t linked = 0;
                              for (size_t i = 0; i < kBatchKeys; i++)
                                  linked += tree_.insert(*records(b)[i]);
                              return linked;
                          },
                          [this](size_t b) { return unlink_singly(b); });
    }
    TARN_BENCH_LOOP uint64_t erase_records_batch() {
        return each_burst([this](size_t b) { return link_singly(b); },
                          [this](size_t b) {
                              tree_.erase(records(b), kBatchKeys);
                              return uint64_t{0};
                          },
                          [this](size_t b) { return unlinked(b); });
    }
    TARN_BENCH_LOOP uint64_t erase_records_singly() {
        return each_burst([this](size_t b) { return link_singly(b); },
                          [this](size_t b) {
                              for (size_t i = 0; i < kBatchKeys; i++) tree_.erase(*records(b)[i]);
                              return uint64_t{0};
                          },
                          [this](size_t b) { return unlinked(b); });
    }
    TARN_BENCH_LOOP uint64_t erase_keys_batch() {
        return each_burst([this](size_t b) { return link_singly(b); },
                          [this](size_t b) { return uint64_t(tree_.erase(keys(b), kBatchKeys)); },
                          [this](size_t b) { return unlinked(b); });
    }
    TARN_BENCH_LOOP uint64_t erase_keys_singly() {
        return each_burst([this](size_t b) { return link_singly(b); },
                          [this](size_t b) {
                              uint64_t erased = 0;
                              for (size_t i = 0; i < kBatchKeys; i++)
                                  erased += tree_.erase(keys(b)[i]);
                              return erased;
                          },
                          [this](size_t b) { return unlinked(b); });
    }
#ifdef TARN_BENCH_HAVE_ABSL
    // absl's set holds keys, not records: its checksums count what its own
    // calls report and read its size where the tarn columns read the tree's.
    TARN_BENCH_LOOP uint64_t absl_insert() {
        return each_burst([](size_t) { return uint64_t{0}; },
                          [this](size_t b) {
                              uint64_t linked = 0;
                              for (size_t i = 0; i < kBatchKeys; i++)
                                  linked += set_.insert(keys(b)[i]).second;
                              return linked;
                          },
                          [this](size_t b) {
                              const uint64_t size = set_.size();
                              for (size_t i = 0; i < kBatchKeys; i++) set_.erase(keys(b)[i]);
                              return mix(size, set_.size());
                          });
    }
    TARN_BENCH_LOOP uint64_t absl_erase() {
        return each_burst(
            [this](size_t b) {
                uint64_t linked = 0;
                for (size_t i = 0; i < kBatchKeys; i++) linked += set_.insert(keys(b)[i]).second;
                return mix(linked, set_.size());
            },
            [this](size_t b) {
                uint64_t erased = 0;
                for (size_t i = 0; i < kBatchKeys; i++) erased += set_.erase(keys(b)[i]);
                return erased;
            },
            [this](size_t b) {
                uint64_t gone = 0;
                for (size_t i = 0; i < kBatchKeys; i++) gone += !set_.contains(keys(b)[i]);
                return mix(gone, set_.size());
            });
    }
#endif

  public:
    Bursts(const ContainerData &d, BurstKeys kind, uint64_t seed)
        : d_(d), label_(kind == BurstKeys::Spread ? "spread" : "one region"),
          keys_(burst_keys(d, kind, seed)) {}
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
        pool_.renew(keys_.size());
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
        Record *pool = pool_.lay_out<Record>(keys_);
        burst_.clear();
        for (size_t i = 0; i < keys_.size(); i++) burst_.push_back(pool + i);
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
    std::optional<size_t> ops(Column, size_t) const override { return keys_.size(); }
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
           "Each row links bursts of 32 new records (or keys) into a tree of the n 8-byte keys "
           "above and unlinks them again, the tree back at n before each burst; only the part "
           "a row names is timed, per key. \"spread\": a burst's keys drawn uniformly; \"one "
           "region\": each just above one of 32 keys that follow one another in the tree, "
           "the first drawn as the zipf probes are. Trees over `std::uint64_t` in its default "
           "(numeric) order.\n\n"
           "| row | tarn hpp | tarn hpp baseline | absl btree | untimed |\n|---|---|---|---|---|\n"
           "| burst insert (batch) | `insert(records, 32, inserted)` | 32 × `insert(r)` | "
           "32 × `insert(k)` | 32 × `erase(r)` (absl: `erase(k)`) after |\n"
           "| burst erase (batch, records) | `erase(records, 32)` | 32 × `erase(r)` | n/a | "
           "32 × `insert(r)` before |\n"
           "| burst erase (batch, keys) | `erase(keys, 32)` | 32 × `erase(k)` | 32 × `erase(k)` | "
           "32 × `insert(r)` (absl: `insert(k)`) before |\n"
           "| burst insert, floor pass then single inserts | `floor(keys, 32, out)`, then 32 × "
           "`insert(r)` | 32 × `insert(r)` | n/a | 32 × `erase(r)` after |\n\n";
}

} // namespace bench
