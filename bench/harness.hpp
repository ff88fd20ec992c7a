// SPDX-License-Identifier: MIT
// The benchmark's common ground: keys, the workload every subject runs on,
// the interface a subject implements, and the checksum its answers feed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace bench {

// 16-byte keys share their high word often, so comparisons reach the low one.
struct Key16 {
    uint64_t hi, lo;
    friend bool operator<(const Key16 &a, const Key16 &b) {
        return a.hi != b.hi ? a.hi < b.hi : a.lo < b.lo;
    }
    friend bool operator==(const Key16 &a, const Key16 &b) { return a.hi == b.hi && a.lo == b.lo; }
};

struct Rng { // splitmix64: the same keys on every machine and library version
    uint64_t state;
    uint64_t operator()() {
        uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    size_t below(size_t n) { return size_t((*this)() % n); }
};

template <class T>
inline void shuffle(std::vector<T> &v, Rng &rng) {
    for (size_t i = v.size(); i > 1; i--) std::swap(v[i - 1], v[rng.below(i)]);
}

inline uint64_t digest(uint64_t k) { return k; }
inline uint64_t digest(const Key16 &k) { return k.hi * 0x9E3779B97F4A7C15ull ^ k.lo; }

// Order-sensitive, so a scan in the wrong order changes the sum.
inline uint64_t mix(uint64_t sum, uint64_t v) { return ((sum << 5) | (sum >> 59)) ^ v; }

constexpr uint64_t kNotFound = 0x5bd1e9955bd1e995ull;
constexpr size_t kRanges = 1000;
constexpr size_t kRangeKeys = 100;
// Keys per batched call, as a network stack's burst of packets.
constexpr size_t kBatchKeys = 32;

// Lookups and floors run on two probe sets: Uniform touches every key alike,
// Zipf draws n keys with probability falling as 1/rank, hot keys spread
// over the tree.
enum ProbeSet { Uniform, Zipf, kProbeSets };

template <class Key>
struct Workload {
    std::vector<Key> keys; // insertion order
    // [Uniform]: every key, in another order; [Zipf]: n present keys.
    std::array<std::vector<Key>, kProbeSets> lookups;
    // [Uniform]: probes, most of them absent; [Zipf]: absent probes, each
    // just above a drawn key, which is its floor.
    std::array<std::vector<Key>, kProbeSets> floors;
    std::vector<Key> range_low;     // kRanges ranges of kRangeKeys keys each
    std::vector<Key> range_high;    //   (both bounds inclusive)
    std::vector<uint32_t> removals; // indexes into keys, in a third order
};

// Table rows, in the order printed; run_config runs them in another.
enum Phase {
    Insert,
    InsertWarm,
    Lookup,
    LookupZipf,
    Floor,
    FloorZipf,
    LookupBatch,
    LookupBatchZipf,
    FloorBatch,
    FloorBatchZipf,
    Scan,
    Range,
    Remove,
    kPhases
};
inline const char *const kPhaseNames[kPhases] = {
    "insert",        "insert (warm)",       "lookup",         "lookup (zipf)",
    "floor (miss)",  "floor (zipf)",        "lookup (batch)", "lookup (batch, zipf)",
    "floor (batch)", "floor (batch, zipf)", "scan (/key)",    "range (/100)",
    "remove"};
constexpr bool is_batch(Phase p) { return p >= LookupBatch && p <= FloorBatchZipf; }

// One implementation under test. prepare() is untimed, may convert probes
// and lays out fresh records last; each phase returns its checksum. A
// subject lacking a call for a phase says so in supports(). The batch
// phases run the lookup and floor probes kBatchKeys at a time through
// tarn.hpp's batched calls, and through absl's single calls, one per key,
// to compare with.
template <class Key>
struct Subject {
    virtual ~Subject() = default;
    virtual std::string name() const = 0;
    virtual bool supports(Phase p) const { return !is_batch(p); }
    virtual void prepare(const Workload<Key> &w) = 0;
    virtual uint64_t insert_all() = 0;
    virtual uint64_t lookup_all(ProbeSet) = 0;
    virtual uint64_t floor_all(ProbeSet) { return 0; }
    virtual uint64_t lookup_batch_all(ProbeSet set) { return lookup_all(set); }
    virtual uint64_t floor_batch_all(ProbeSet set) { return floor_all(set); }
    virtual uint64_t scan_all() = 0;
    virtual uint64_t range_all() { return 0; }
    virtual uint64_t remove_all() = 0;
};

} // namespace bench
