// SPDX-License-Identifier: MIT
// A fixed small workload for instruction counts under callgrind: tarn's
// byte-wise mode and boost's avl_set on the same 1000 keys. Each measured
// phase runs inside its own named function, whose inclusive count
// bench/callgrind reads back.
#include <algorithm>
#include <cstdio>

#include "harness.hpp"
#include "peers.hpp"
#include "tarn_subject.hpp"

using namespace bench;

namespace {

Workload<uint64_t> fixed_workload(size_t n) {
    Workload<uint64_t> w;
    uint64_t x = 0x2545F4914F6CDD1Dull;
    auto next = [&x] { return x ^= x << 13, x ^= x >> 7, x ^= x << 17; };
    for (size_t i = 0; i < n; i++) w.keys.push_back(next() & ~1ull);
    std::vector<uint64_t> &lookups = w.lookups[Uniform];
    lookups = w.keys;
    for (size_t i = n; i > 1; i--) std::swap(lookups[i - 1], lookups[next() % i]);
    for (uint32_t i = 0; i < n; i++) w.removals.push_back(uint32_t((i * 7919ull) % n));
    for (size_t i = 0; i < n; i++) w.floors[Uniform].push_back(lookups[i] | 1); // all miss
    std::vector<uint64_t> sorted = w.keys;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i + kRangeKeys <= n; i += 9) {
        w.range_low.push_back(sorted[i]);
        w.range_high.push_back(sorted[i + kRangeKeys - 1]);
    }
    return w;
}

volatile uint64_t sink;

} // namespace

#define TARN_BENCH_PHASES(who, Type)                                                               \
    extern "C" __attribute__((noinline)) void who##_insert(Type &s) { sink = s.insert_all(); }     \
    extern "C" __attribute__((noinline)) void who##_lookup(Type &s) {                              \
        sink = s.lookup_all(Uniform);                                                              \
    }                                                                                              \
    extern "C" __attribute__((noinline)) void who##_floor(Type &s) {                               \
        sink = s.floor_all(Uniform);                                                               \
    }                                                                                              \
    extern "C" __attribute__((noinline)) void who##_range(Type &s) { sink = s.range_all(); }       \
    extern "C" __attribute__((noinline)) void who##_scan(Type &s) { sink = s.scan_all(); }         \
    extern "C" __attribute__((noinline)) void who##_remove(Type &s) { sink = s.remove_all(); }     \
    static void who##_cycle(Type &s) {                                                             \
        who##_insert(s);                                                                           \
        who##_lookup(s);                                                                           \
        who##_floor(s);                                                                            \
        who##_scan(s);                                                                             \
        who##_range(s);                                                                            \
        who##_remove(s);                                                                           \
    }

using TarnBytes = TarnSubject<uint64_t, true>;
TARN_BENCH_PHASES(ir_tarn, TarnBytes)
#ifdef TARN_BENCH_HAVE_BOOST
TARN_BENCH_PHASES(ir_boost, BoostAvl<uint64_t>)
#endif

int main() {
    constexpr size_t n = 1000; // 1000 keys, all distinct (the 7919 stride is a permutation)
    Workload<uint64_t> w = fixed_workload(n);
    TarnBytes tarn;
    tarn.prepare(w);
    // Warm-up outside the measured functions: lazy binding of every call.
    tarn.insert_all(), tarn.lookup_all(Uniform), tarn.floor_all(Uniform), tarn.scan_all(),
        tarn.range_all(), tarn.remove_all();
    ir_tarn_cycle(tarn);
#ifdef TARN_BENCH_HAVE_BOOST
    BoostAvl<uint64_t> boost("boost avl_set");
    boost.prepare(w);
    boost.insert_all(), boost.lookup_all(Uniform), boost.floor_all(Uniform), boost.scan_all(),
        boost.range_all(), boost.remove_all();
    ir_boost_cycle(boost);
#else
    std::puts("skipped: boost avl_set (libboost-dev not found at configure time)");
#endif
    std::printf("ops per phase: %zu\nranges: %zu\n", n, w.range_low.size());
    return 0;
}
